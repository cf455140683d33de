#pragma once
#include <QString>

namespace platform {

// True when another copy of this program runs for this user, in whichever
// of the user's sessions. The first call takes a lock that lives until the
// process ends; a lock left behind by a copy that crashed is recognised as
// stale and taken over (a lock file in the user's runtime folder on posix/;
// on Windows a mutex in the global namespace named with the user's SID,
// gone with its process). A name another user holds does not count.
bool PrevInstance();

// Path of the lock file, or name of the mutex, used by PrevInstance (for
// tests and diagnostics).
QString InstanceLockPath();

}  // namespace platform
