#pragma once
class QApplication;

namespace gui {
// Qt's own Korean texts for standard buttons (확인, 예, 아니요) and a Hangul
// font for the whole program.
void SetUpKoreanUi(QApplication& app);
}  // namespace gui
