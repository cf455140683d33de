#pragma once
#include <QString>

namespace platform {

// True when another copy of this program runs for this user. The first call
// takes a lock that lives until the process ends; a lock left behind by a
// copy that crashed is recognised as stale and taken over (a lock file on
// posix/; on Windows a named mutex of the session, gone with its process).
bool PrevInstance();

// Path of the lock file, or name of the mutex, used by PrevInstance (for
// tests and diagnostics).
QString InstanceLockPath();

}  // namespace platform
