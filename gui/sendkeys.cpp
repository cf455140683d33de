#include "gui/sendkeys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace gui {

void SendKeys(QWidget* target, std::initializer_list<QKeyCombination> keys) {
    if (!target) return;
    for (QKeyCombination k : keys) {
        QKeyEvent press(QEvent::KeyPress, k.key(), k.keyboardModifiers());
        QCoreApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, k.key(), k.keyboardModifiers());
        QCoreApplication::sendEvent(target, &release);
    }
}

}  // namespace gui
