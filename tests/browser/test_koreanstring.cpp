#include <gtest/gtest.h>

#include <ctime>
#include <limits>

#include "browser/koreanstring.h"
#include "platform/errors.h"
#include "testsupport.h"

namespace {

QString Blanks(int n) { return QString(n, QLatin1Char(' ')); }

TEST(CKoreanString, ByteLenCountsCodePageBytesAndNeverWraps) {
    EXPECT_EQ(CKoreanString::ByteLen(QString()), 0);
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("report.zip")), 10);
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("가나다")), 6);
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("a가b")), 4);
    // Outside the code page: one '?' per UTF-16 unit, so a character
    // beyond the BMP takes two.
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("\u0E01x")), 2);
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("😀x")), 3);
    // 40,000 bytes do not fit in 16 bits; the count stops at the largest.
    EXPECT_EQ(CKoreanString::ByteLen(QString(40000, QLatin1Char('a'))), 32767);
    EXPECT_EQ(CKoreanString::ByteLen(QString(20000, QChar(0xAC00))), 32767);
}

TEST(CKoreanString, LeftBytesNeverCutsADoubleByteCharacter) {
    const QString text = QStringLiteral("가나다");
    EXPECT_EQ(CKoreanString::LeftBytes(text, 6, false), text);
    EXPECT_EQ(CKoreanString::LeftBytes(text, 4, false), QStringLiteral("가나"));
    EXPECT_EQ(CKoreanString::LeftBytes(text, 3, false), QStringLiteral("가 "));
    EXPECT_EQ(CKoreanString::LeftBytes(text, 3, true), QStringLiteral("가"));
    EXPECT_EQ(CKoreanString::LeftBytes(text, 1, false), QStringLiteral(" "));
    EXPECT_EQ(CKoreanString::LeftBytes(text, 1, true), QString());
    EXPECT_EQ(CKoreanString::LeftBytes(QStringLiteral("a가b"), 2, true), QStringLiteral("a"));
    EXPECT_EQ(CKoreanString::LeftBytes(QStringLiteral("a가b"), 3, true), QStringLiteral("a가"));
    EXPECT_EQ(CKoreanString::LeftBytes(text, 0, false), QString());
    EXPECT_EQ(CKoreanString::LeftBytes(text, -5, false), QString());
    EXPECT_EQ(CKoreanString::LeftBytes(QString(), 4, false), QString());
    // A character the code page cannot hold is one byte wide and is kept
    // whole, not mistaken for half a Hangul syllable.
    EXPECT_EQ(CKoreanString::LeftBytes(QStringLiteral("\u0E01ab"), 2, false), QStringLiteral("\u0E01a"));
    EXPECT_EQ(CKoreanString::LeftBytes(QStringLiteral("😀ab"), 3, false), QStringLiteral("😀a"));
    EXPECT_EQ(CKoreanString::LeftBytes(QStringLiteral("😀ab"), 1, false), QStringLiteral(" "));
}

TEST(CKoreanString, LPadAlignsByColumnsAndCutsWhatIsTooWide) {
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("12"), 10, QStringLiteral(" ")), Blanks(8) + QStringLiteral("12"));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("1234567890"), 10, QStringLiteral(" ")), QStringLiteral("1234567890"));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("가나"), 5, QStringLiteral(" ")), QStringLiteral(" 가나"));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("가나다"), 5, QStringLiteral(" ")), QStringLiteral("가나 "));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("7"), 3, QStringLiteral("0x")), QStringLiteral("007"));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("abc"), 0, QStringLiteral(" ")), QString());
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("abc"), -1, QStringLiteral(" ")), QString());
    // A text beyond 16-bit widths is cut, not padded by a wrapped count.
    const QString huge(40000, QLatin1Char('x'));
    EXPECT_EQ(CKoreanString::LPad(huge, 10, QStringLiteral(" ")), QString(10, QLatin1Char('x')));
}

TEST(CKoreanString, LPadReportsAnEmptyFillAndReturnsNothing) {
    testsupport::ScriptedMsgBoxes boxes;
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("12"), 10, QString()), QString());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Error 5 (Invalid procedure call or argument) in procedure LPad of Class Module CKoreanString"));
    EXPECT_EQ(boxes.shown()[0].title, platform::AppTitle());
    EXPECT_EQ(boxes.shown()[0].icon, platform::MsgIcon::None);
    EXPECT_EQ(boxes.shown()[0].buttons, platform::MsgButtons::Ok);
    // A text wider than the width needs no fill, so nothing is reported.
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("가나다"), 5, QString()), QStringLiteral("가나 "));
    EXPECT_EQ(boxes.shown().size(), 1u);
}

TEST(ListLine, SizeInKilobytesRoundsHalvesAwayAndStaysExact) {
    const QChar comma(u',');
    EXPECT_EQ(listline::FormatSizeKb(0, comma), QStringLiteral("0"));
    EXPECT_EQ(listline::FormatSizeKb(511, comma), QStringLiteral("0"));
    EXPECT_EQ(listline::FormatSizeKb(512, comma), QStringLiteral("1"));
    EXPECT_EQ(listline::FormatSizeKb(1535, comma), QStringLiteral("1"));
    EXPECT_EQ(listline::FormatSizeKb(1536, comma), QStringLiteral("2"));
    EXPECT_EQ(listline::FormatSizeKb(1023 * 1024 + 512, comma), QStringLiteral("1,024"));
    EXPECT_EQ(listline::FormatSizeKb(12345678, comma), QStringLiteral("12,056"));
    EXPECT_EQ(listline::FormatSizeKb(1234567890, comma), QStringLiteral("1,205,633"));
    EXPECT_EQ(listline::FormatSizeKb(5LL << 30, comma), QStringLiteral("5,242,880"));
    EXPECT_EQ(listline::FormatSizeKb(std::numeric_limits<qint64>::max(), comma),
              QStringLiteral("9,007,199,254,740,992"));
    EXPECT_EQ(listline::FormatSizeKb(12345678, QChar(u'.')), QStringLiteral("12.056"));
    EXPECT_EQ(listline::FormatSizeKb(-1536, comma), QStringLiteral("-2"));
}

class ListLineLocal : public ::testing::Test {
protected:
    // Korean standard time, without depending on the zone database.
    void SetUp() override {
        oldTz_ = qgetenv("TZ");
        hadTz_ = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", "UTC-9");
        tzset();
    }
    void TearDown() override {
        if (hadTz_) qputenv("TZ", oldTz_); else qunsetenv("TZ");
        tzset();
    }
    static QDateTime Utc(int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
    }
    QByteArray oldTz_;
    bool hadTz_ = false;
};

TEST_F(ListLineLocal, LineShowsLocalTimeWithoutSecondsAndAlignedSize) {
    const QChar comma(u',');
    EXPECT_EQ(listline::FormatListLine(QStringLiteral("report.zip"), Utc(2024, 3, 7, 0, 5, 59), 12345678, comma),
              QStringLiteral("report.zip 2024-03-07 09시 05분    12,056 Kb"));
    // 23:59:59 UTC is the next morning here; seconds are dropped, not rounded.
    EXPECT_EQ(listline::FormatListLine(QStringLiteral("utc2359.txt"), Utc(2024, 3, 7, 23, 59, 59), 100, comma),
              QStringLiteral("utc2359.txt 2024-03-08 08시 59분") + Blanks(9) + QStringLiteral("0 Kb"));
    EXPECT_EQ(listline::FormatListLine(QStringLiteral("512.bin"), Utc(2024, 1, 15, 3, 1, 0), 512, comma),
              QStringLiteral("512.bin 2024-01-15 12시 01분") + Blanks(9) + QStringLiteral("1 Kb"));
    EXPECT_EQ(listline::FormatListLine(QStringLiteral("big.iso"), Utc(2024, 1, 15, 3, 1, 0), 1234567890, comma),
              QStringLiteral("big.iso 2024-01-15 12시 01분 1,205,633 Kb"));
    // A Hangul name is not padded: the columns start where it ends, and the
    // name rule (text before the first blank) gives it back.
    const QString hangul = QStringLiteral("견적서_2024.xlsx");
    const QString line = listline::FormatListLine(hangul, Utc(2024, 2, 1, 0, 0, 0), 1500, comma);
    EXPECT_EQ(line, hangul + QStringLiteral(" 2024-02-01 09시 00분") + Blanks(9) + QStringLiteral("1 Kb"));
    EXPECT_EQ(line.section(QLatin1Char(' '), 0, 0), hangul);
    // Without a time the columns still line up (the zero file time).
    EXPECT_EQ(listline::FormatListLine(QStringLiteral("x"), QDateTime(), 0, comma),
              QStringLiteral("x 1601-01-01 09시 00분") + Blanks(9) + QStringLiteral("0 Kb"));
}

}  // namespace
