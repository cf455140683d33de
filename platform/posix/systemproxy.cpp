#include "platform/systemproxy.h"

namespace platform {

// libcurl reads the proxy environment variables itself.
SystemProxy ReadSystemProxy() { return {}; }

}  // namespace platform
