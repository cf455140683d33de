#pragma once
#include <QString>

namespace platform {

// True when another copy of this program runs for this user, in whichever
// of the user's sessions. The first call takes a lock that lives until the
// process ends and goes with it, however it ends (a lock on a file in the
// user's runtime folder on posix/, whatever the file holds; on Windows a
// mutex in the global namespace named with the user's SID). A name another
// user holds, or a lock that cannot be made, does not count: the copy runs.
bool PrevInstance();

// Path of the lock file, or name of the mutex, used by PrevInstance (for
// tests and diagnostics).
QString InstanceLockPath();

}  // namespace platform
