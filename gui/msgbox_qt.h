#pragma once
// The GUI part's message boxes: QMessageBox, and the keyboard focus handed
// back after a box. Installed once at start by every program with windows.

namespace gui {
void InstallQtMessageBoxes();
}  // namespace gui
