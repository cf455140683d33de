#pragma once
// Every message box of the program goes through MsgBox, so that tests can
// script the answers and read back what was shown, in order.
#include <QString>
#include <functional>

namespace platform {

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { None, Information, Exclamation, Critical };
enum class MsgAnswer { Ok, Yes, No };

struct MsgBoxRecord {
    QString text;
    QString title;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
};

// Shows a modal box and returns the button pressed. Boxes are drawn by Qt
// unless a handler is installed.
MsgAnswer MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title);

using MsgBoxHandler = std::function<MsgAnswer(const MsgBoxRecord&)>;
// Replaces the Qt drawing with `handler` (empty: back to Qt). For tests.
void setMsgBoxHandler(MsgBoxHandler handler);

}  // namespace platform
