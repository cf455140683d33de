#include "platform/nativemsgbox.h"

namespace platform {

bool ShowNativeMessageBox(const QString& /*text*/, const QString& /*title*/) { return false; }

}  // namespace platform
