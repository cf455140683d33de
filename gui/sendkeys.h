#pragma once
#include <QKeySequence>
#include <initializer_list>

class QWidget;

namespace gui {
// Sends keystrokes to `target` (the focused control) as real key events, in
// order, before returning.
void SendKeys(QWidget* target, std::initializer_list<QKeyCombination> keys);
}  // namespace gui
