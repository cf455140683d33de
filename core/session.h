#pragma once
// The session globals and the information box every window uses (module
// modMain). Here, below every part that reads them.
#include <QString>

namespace modMain {

extern QString gAppTitle;   // set by Main after the database check
extern QString gUserID;     // set by CheckLogin
extern QString gUserName;   // set by CheckLogin

// Information box titled `title` (gAppTitle when empty); the control that
// had the focus gets it back afterwards.
void ShowMsg(const QString& text, const QString& title = QString());

}  // namespace modMain
