#pragma once
// Starting a program and waiting for it to end.
#include <QString>
#include <QtGlobal>

namespace modWaitProc {

// Starts `File` with `Parameters` as its one argument (none when empty) in
// `Directory` and returns when it has ended, without time limit. When it
// cannot be started, returns at once. `OwnerWindow` and the two show flags
// are carried for the platform; nothing here draws windows for others.
void RunAndWait(const QString& File, qint32 OwnerWindow, const QString& Parameters, const QString& Directory,
                bool Hidden, bool MinimizedNoActivate);

}  // namespace modWaitProc
