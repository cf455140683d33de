#pragma once
// Ending the program at once: no further code, no close or unload handler,
// the process terminates. Each fatal cause has its own exit code.
#include <functional>

namespace core {

enum class ExitCode : int {
    Normal = 0,
    AlreadyRunning = 10,      // another copy runs
    StartupDbFailed = 11,     // database unreachable or switched off
    LoginNotSucceeded = 12,   // sign-in cancelled or failed
    WorkstationRefused = 13,  // adapter address not admitted
    FtpConnectFailed = 14,    // FTP session could not be opened
    UpdateHandover = 15,      // file replacer started for a new build
    ReplacerMissing = 16,     // new build waiting, replacer missing
};

[[noreturn]] void EndProgramNow(ExitCode code);

// Tests install a hook that records the code and throws, so that the flow
// stops where the program would have ended. A hook that returns is ignored
// and the process ends anyway.
using EndProgramHook = std::function<void(ExitCode)>;
void SetEndProgramHook(EndProgramHook hook);

}  // namespace core
