// Shared objects are found through the loader's own paths, never the
// current folder: nothing to restrict.
#include "platform/dllsearch.h"

namespace platform {

bool HardenDllSearch() { return true; }

}  // namespace platform
