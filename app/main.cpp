// The executable: Qt set-up, then the start-up procedure.
#include <QApplication>

#include "app/modmain.h"
#include "core/log.h"
#include "gui/msgbox_qt.h"
#include "gui/uisetup.h"
#include "platform/dllsearch.h"
#include "platform/procstats.h"

int main(int argc, char** argv) {
    platform::HardenDllSearch();
    platform::SetUpHeap();
    QApplication app(argc, argv);
    core::InstallLog();  // core/log.h: orvel-as.log beside config.ini (Windows) or in ~/.config
    gui::SetUpKoreanUi(app);
    gui::InstallQtMessageBoxes();
    if (!modMain::Main()) return 0;
    return app.exec();
}
