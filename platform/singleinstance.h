#pragma once
#include <QString>

namespace platform {

// True when another copy of this program runs for this user. The first call
// takes a lock that lives until the process ends; a lock left behind by a
// copy that crashed is recognised as stale and taken over.
bool PrevInstance();

// Path of the lock file used by PrevInstance (for tests and diagnostics).
QString InstanceLockPath();

}  // namespace platform
