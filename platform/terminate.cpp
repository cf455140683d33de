#include "platform/terminate.h"

#include <unistd.h>

namespace platform {
namespace {
EndProgramHook& hookSlot() {
    static EndProgramHook h;
    return h;
}
}  // namespace

void setEndProgramHook(EndProgramHook hook) { hookSlot() = std::move(hook); }

void EndProgramNow(ExitCode code) {
    if (hookSlot()) hookSlot()(code);
    // _exit skips atexit handlers and static destructors on purpose.
    ::_exit(static_cast<int>(code));
}

}  // namespace platform
