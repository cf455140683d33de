// The executable: Qt set-up, then the start-up procedure.
#include <QApplication>

#include "app/modmain.h"
#include "gui/msgbox_qt.h"
#include "gui/uisetup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::SetUpKoreanUi(app);
    platform::InstallQtMessageBoxes();
    if (!modMain::Main()) return 0;
    return app.exec();
}
