#include "core/session.h"

#include "core/msgbox.h"

namespace modMain {

QString gAppTitle;
QString gUserID;
QString gUserName;

void ShowMsg(const QString& text, const QString& title) {
    const auto giveFocusBack = core::RememberFocus();
    core::MsgBox(text, core::MsgButtons::Ok, core::MsgIcon::Information,
                     title.isEmpty() ? gAppTitle : title);
    giveFocusBack();
}

}  // namespace modMain
