#include <gtest/gtest.h>

#include "formats/localname.h"

namespace {

using formats::IsWritableLocalName;
using formats::NameRules;

QString u(const char16_t* s) { return QString::fromUtf16(s); }

TEST(LocalName, RefusedOnEverySystem) {
    const QString names[] = {
        QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b"), QStringLiteral("..\\evil"),
        QStringLiteral("tab\there"), QStringLiteral("del\x7f"), QString(QChar(u'\0')),
        u(u"inv\u202Efdp.exe"), u(u"a\u202Ab"), u(u"\u2066x\u2069.pdf"), u(u"x\u200E.doc"), u(u"x\u200F.doc"),
        u(u"x\u061C.doc"),
        QString(QChar(0xD800)) + QStringLiteral(".txt"),  // half a surrogate pair
        QStringLiteral("x") + QChar(0xDC00),
    };
    for (const QString& n : names) {
        EXPECT_FALSE(IsWritableLocalName(n, NameRules::Windows)) << n.toStdString();
        EXPECT_FALSE(IsWritableLocalName(n, NameRules::Posix)) << n.toStdString();
    }
}

TEST(LocalName, WindowsRefusesWhatItWouldChangeOrMisread) {
    const QString refused[] = {
        QStringLiteral("CON"), QStringLiteral("con.txt"), QStringLiteral("Nul.tar.gz"), QStringLiteral("aux"),
        QStringLiteral("PRN.pdf"), QStringLiteral("com1"), QStringLiteral("COM9.log"), QStringLiteral("lpt1.x"),
        QStringLiteral("LPT9"), QStringLiteral("NUL .txt"), u(u"COM\u00B9.txt"), u(u"lpt\u00B3"),
        QStringLiteral("conin$"), QStringLiteral("CONOUT$.x"),
        QStringLiteral("a.pdf."), QStringLiteral("a.pdf "), QStringLiteral("..."), QStringLiteral(" "),
        QStringLiteral("a<b"), QStringLiteral("a>b"), QStringLiteral("a:b"), QStringLiteral("x.txt:Zone.Identifier"),
        QStringLiteral("a\"b"), QStringLiteral("a|b"), QStringLiteral("a?b"), QStringLiteral("*.txt"),
    };
    for (const QString& n : refused) {
        EXPECT_FALSE(IsWritableLocalName(n, NameRules::Windows)) << n.toStdString();
        EXPECT_TRUE(IsWritableLocalName(n, NameRules::Posix)) << n.toStdString();  // Linux keeps them
    }
    // Close to a device name, but files.
    const QString kept[] = {
        QStringLiteral("CONSOLE.txt"), QStringLiteral("COM10"), QStringLiteral("LPT0.txt"), QStringLiteral("com"),
        QStringLiteral("a.con"), QStringLiteral("xnul"), QStringLiteral(" leading blank.txt"),
        QStringLiteral(".hidden"), QStringLiteral("a..b"), u(u"견적서 2024.xlsx"), u(u"😀.png"),
    };
    for (const QString& n : kept) EXPECT_TRUE(IsWritableLocalName(n, NameRules::Windows)) << n.toStdString();
}

// Windows counts UTF-16 units, Linux the bytes of the UTF-8 name.
TEST(LocalName, LengthAsEachSystemCountsIt) {
    const QString hangul86(86, QChar(u'가'));  // 258 bytes in UTF-8
    EXPECT_TRUE(IsWritableLocalName(hangul86, NameRules::Windows));
    EXPECT_FALSE(IsWritableLocalName(hangul86, NameRules::Posix));
    EXPECT_TRUE(IsWritableLocalName(QString(85, QChar(u'가')), NameRules::Posix));
    EXPECT_TRUE(IsWritableLocalName(QString(255, QChar(u'가')), NameRules::Windows));
    EXPECT_FALSE(IsWritableLocalName(QString(256, QChar(u'가')), NameRules::Windows));
    EXPECT_TRUE(IsWritableLocalName(QString(255, QLatin1Char('a')), NameRules::Posix));
    EXPECT_FALSE(IsWritableLocalName(QString(256, QLatin1Char('a')), NameRules::Posix));
    // A character outside the basic plane is two units.
    QString emoji;
    for (int i = 0; i < 128; ++i) emoji += u(u"😀");
    EXPECT_FALSE(IsWritableLocalName(emoji, NameRules::Windows));
    emoji.chop(2);
    EXPECT_TRUE(IsWritableLocalName(emoji, NameRules::Windows));
}

TEST(LocalName, CaseTwinsAndVisibleNames) {
    const QStringList listed{QStringLiteral("Report.PDF"), QStringLiteral("report.pdf"), QStringLiteral("b.txt"),
                             u(u"Ärger.doc"), u(u"ärger.DOC")};
    EXPECT_TRUE(formats::HasCaseTwin(QStringLiteral("report.pdf"), listed));
    EXPECT_TRUE(formats::HasCaseTwin(QStringLiteral("Report.PDF"), listed));
    EXPECT_TRUE(formats::HasCaseTwin(u(u"Ärger.doc"), listed));
    EXPECT_FALSE(formats::HasCaseTwin(QStringLiteral("b.txt"), listed));   // only itself
    EXPECT_FALSE(formats::HasCaseTwin(QStringLiteral("b.txt"), {}));
    EXPECT_FALSE(formats::HasCaseTwin(QStringLiteral("b.txt "), listed));  // another name, refused by its blank

    EXPECT_EQ(formats::VisibleName(u(u"inv\u202Efdp.exe")), QStringLiteral("inv<U+202E>fdp.exe"));
    EXPECT_EQ(formats::VisibleName(QStringLiteral("a\tb")), QStringLiteral("a<U+0009>b"));
    EXPECT_EQ(formats::VisibleName(u(u"보고서😀.pdf")), u(u"보고서😀.pdf"));
}

}  // namespace
