// The executable: Qt set-up, then the start-up procedure.
#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/modmain.h"
#include "platform/uisetup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::SetUpKoreanUi(app);
    if (!modMain::Main()) return 0;
    return app.exec();
}
