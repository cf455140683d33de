#include "gui/msgbox_qt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "core/msgbox.h"

namespace gui {
namespace {

using core::MsgAnswer;
using core::MsgBoxRecord;
using core::MsgButtons;
using core::MsgIcon;

MsgAnswer showQtBox(const MsgBoxRecord& rec) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(rec.title);
    // Texts carry server answers and file names; Qt would render one that
    // looks like markup as rich text (and fetch an image it names), so every
    // box shows its text exactly as it stands.
    box.setTextFormat(Qt::PlainText);
    box.setText(rec.text);
    switch (rec.icon) {
        case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    if (rec.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

std::function<void()> rememberFocus() {
    QPointer<QWidget> had = QApplication::focusWidget();
    return [had] {
        // The control may have gone or been disabled meanwhile; then it
        // simply does not get the focus back.
        if (had && had->isVisible() && had->isEnabled()) had->setFocus(Qt::OtherFocusReason);
    };
}

}  // namespace

void InstallQtMessageBoxes() { core::SetMsgBoxDisplay({showQtBox, rememberFocus}); }

}  // namespace gui
