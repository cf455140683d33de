#include "core/terminate.h"

#include <cstdlib>

namespace core {
namespace {
EndProgramHook& hookSlot() {
    static EndProgramHook h;
    return h;
}
}  // namespace

void SetEndProgramHook(EndProgramHook hook) { hookSlot() = std::move(hook); }

void EndProgramNow(ExitCode code) {
    if (hookSlot()) hookSlot()(code);
    // _Exit skips atexit handlers and static destructors on purpose.
    std::_Exit(static_cast<int>(code));
}

}  // namespace core
