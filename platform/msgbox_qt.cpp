#include "platform/msgbox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {
namespace {
MsgBoxHandler& handlerSlot() {
    static MsgBoxHandler h;
    return h;
}
}  // namespace

void setMsgBoxHandler(MsgBoxHandler handler) { handlerSlot() = std::move(handler); }

MsgAnswer MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title) {
    MsgBoxRecord rec{text, title, buttons, icon};
    // A trace on stderr: what the user was told stays visible in a
    // terminal or a log after the box is gone.
    qInfo("message box [%s]: %s", qUtf8Printable(title), qUtf8Printable(text));
    if (handlerSlot()) return handlerSlot()(rec);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

}  // namespace platform
