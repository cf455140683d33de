#include "gui/uisetup.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace gui {

void SetUpKoreanUi(QApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
    static QTranslator qtbase;
    // Windows builds carry Qt's Korean texts inside; elsewhere the system's Qt has them.
    if (qtbase.load(QStringLiteral("qtbase_ko"), QStringLiteral(":/i18n")) ||
        qtbase.load(QStringLiteral("qtbase_ko"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtbase);
    // The target systems draw with 굴림; here a Hangul font of the same role.
    const QStringList families = QFontDatabase::families();
    for (const char* f : {"굴림", "Gulim", "NanumGothic", "나눔고딕"}) {
        const QString name = QString::fromUtf8(f);
        if (families.contains(name)) {
            QFont font(name, 9);
            app.setFont(font);
            break;
        }
    }
}

}  // namespace gui
