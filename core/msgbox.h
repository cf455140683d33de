#pragma once
// Every message box of the program goes through MsgBox, so that tests can
// script the answers and read back what was shown, in order. The core only
// knows this interface; the GUI part supplies the drawing at start
// (InstallQtMessageBoxes, gui/msgbox_qt.h).
#include <QString>
#include <functional>

namespace core {

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { None, Information, Exclamation, Critical };
enum class MsgAnswer { Ok, Yes, No };

struct MsgBoxRecord {
    QString text;
    QString title;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
};

// Shows a modal box and returns the button pressed. Without a display (a
// program with no windows) the box is only traced on stderr and answered
// Ok, or No for a question, so that nothing is confirmed unseen.
MsgAnswer MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title);

using MsgBoxHandler = std::function<MsgAnswer(const MsgBoxRecord&)>;

// What draws the boxes. `show` draws one and returns the answer;
// `rememberFocus` notes the control that has the keyboard focus now and
// returns the call that gives it back.
struct MsgBoxDisplay {
    MsgBoxHandler show;
    std::function<std::function<void()>()> rememberFocus;
};
void SetMsgBoxDisplay(MsgBoxDisplay display);

// The focus keeper of the installed display (a call that does nothing
// without one).
std::function<void()> RememberFocus();

// Answers boxes with `handler` in place of the display (empty: back to the
// display). For tests.
void SetMsgBoxHandler(MsgBoxHandler handler);

}  // namespace core
