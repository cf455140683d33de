#pragma once
// The self-update at start-up: keeps the version checker and the file
// replacer beside the program current, lets the checker fetch a newer build
// of the program, and hands over to the replacer when one is waiting.
#include <QString>

namespace modAutoUpdateV1_Launcher {

// Runs the whole update step for the running program. `SkipSelfUpdate` true
// leaves the two companion programs as they are. Ends the program (exit
// code UpdateHandover or ReplacerMissing) when a new build is waiting;
// otherwise returns and start-up goes on. `SkipSelfUpdate` is never changed.
void RunAutoUpdate(bool& SkipSelfUpdate);

// Brings the version checker, and with it the file replacer, up to the
// server's revision. True when the checker may be run.
bool AutoUpdaterSelfUpdate();

// The base URL of the update server, ending in "/".
QString BaseUrl();

// The same for an explicit program folder, own file name and revision (the
// public calls pass the running program's), and update server.
void RunAutoUpdate(bool& SkipSelfUpdate, const QString& programFolder, const QString& ownFileName, int revision);
bool AutoUpdaterSelfUpdate(const QString& programFolder, const QString& baseUrl = BaseUrl());

// The name of the normal file `name` in `folder` as the folder stores it:
// it must exist, be a regular file and not be hidden. Empty when not found.
QString FindNormalFile(const QString& folder, const QString& name);

}  // namespace modAutoUpdateV1_Launcher
