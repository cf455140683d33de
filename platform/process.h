#pragma once
// Starting other programs: with their argument list and working folder,
// either waited for without limit or left running on their own. Arguments
// go to the program as they are, never through a shell, so folders with
// blanks and texts with ";" arrive unchanged.
#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

// How the started program's window should appear. Desktops that have no
// way to pass it on ignore it.
enum class ShowState : int {
    Hide = 0,
    Normal = 1,            // normal window with focus
    Minimized = 2,         // minimized with focus
    Show = 5,
    MinimizedNoActivate = 7,
};

// Who tells the user that a program could not be started: the caller, from
// ProcessOutcome, or the system with its own error dialog (Windows; other
// systems have none and leave it to the caller).
enum class StartErrors : int {
    Caller,
    SystemDialog,
};

struct ProcessOutcome {
    bool started = false;  // the program could be executed at all
    int exitCode = -1;     // when waited for: its exit status (-1: killed by a signal)
    int error = 0;         // the system's error code of the failed start (platform::ClassifySystemError)
};

// Starts `program` (a path) with `args` in `directory` (empty: the current
// one) and waits without limit until it has ended.
ProcessOutcome RunProcessAndWait(const QString& program, const QStringList& args, const QString& directory,
                                 ShowState show, StartErrors errors = StartErrors::Caller);

// Starts `program` the same way and returns at once; the program is not a
// child that needs reaping and lives on after we end.
ProcessOutcome StartProcessDetached(const QString& program, const QStringList& args, const QString& directory,
                                    ShowState show, StartErrors errors = StartErrors::Caller);

// Shows `folder` in the desktop's file manager, detached. Failure is
// ignored: there may be no desktop at all. On Windows the file manager is
// started by its full path in the Windows folder, never looked up in the
// current or the program folder.
void OpenFolderInFileManager(const QString& folder);

// Tests replace the file manager with a hook that records the folder (empty:
// back to the desktop's own).
using OpenFolderHook = std::function<void(const QString&)>;
void SetOpenFolderHook(OpenFolderHook hook);

}  // namespace platform
