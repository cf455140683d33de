#pragma once
// A message box drawn by the system itself, for programs that carry no
// window toolkit (the file replacer runs without a window of its own).

#include <QString>

namespace platform {

// Shows `text` under `title` with an OK button and a warning icon, and
// returns when the user has closed it. False where the system has no such
// box (posix): the caller's trace on stderr and in its log is then what the
// user has.
bool ShowNativeMessageBox(const QString& text, const QString& title);

}  // namespace platform
