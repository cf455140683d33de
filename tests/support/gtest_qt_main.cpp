// gtest main with a QApplication on the offscreen platform, so that tests
// can create real widgets.
#include <gtest/gtest.h>

#include <QApplication>

#include "gui/msgbox_qt.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef _WIN32
    // Offscreen, Qt reads font files from one folder instead of asking the
    // system: the system's own unless the test run names another.
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR"))
        qputenv("QT_QPA_FONTDIR", qgetenv("WINDIR") + "\\Fonts");
#endif
    QApplication app(argc, argv);
    platform::InstallQtMessageBoxes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
