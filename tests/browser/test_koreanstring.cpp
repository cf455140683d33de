#include <gtest/gtest.h>

#include <ctime>
#include <limits>

#include "formats/koreanstring.h"
#include "browser/lineformatter.h"
#include "testsupport.h"

namespace {

QString Blanks(int n) { return QString(n, QLatin1Char(' ')); }

TEST(CKoreanString, WidthsInCodePageBytes) {
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("a가b")), 4);
    // Outside the code page: one '?' per UTF-16 unit.
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("\u0E01x")), 2);
    EXPECT_EQ(CKoreanString::ByteLen(QStringLiteral("😀x")), 3);
    // Beyond 16 bits the count stops at the largest instead of wrapping.
    EXPECT_EQ(CKoreanString::ByteLen(QString(20000, QChar(0xAC00))), 32767);

    const QString text = QStringLiteral("가나다");
    EXPECT_EQ(CKoreanString::LeftBytes(text, 6, false), text);
    EXPECT_EQ(CKoreanString::LeftBytes(text, 3, false), QStringLiteral("가 "));
    EXPECT_EQ(CKoreanString::LeftBytes(text, 3, true), QStringLiteral("가"));
    EXPECT_EQ(CKoreanString::LeftBytes(text, 1, false), QStringLiteral(" "));
    EXPECT_EQ(CKoreanString::LeftBytes(text, -5, false), QString());
    // A character the code page cannot hold is kept whole, not taken for
    // half a syllable.
    EXPECT_EQ(CKoreanString::LeftBytes(QStringLiteral("\u0E01ab"), 2, false), QStringLiteral("\u0E01a"));
    EXPECT_EQ(CKoreanString::LeftBytes(QStringLiteral("😀ab"), 1, false), QStringLiteral(" "));
}

TEST(CKoreanString, LPadAlignsByColumns) {
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("12"), 10, QStringLiteral(" ")), Blanks(8) + QStringLiteral("12"));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("1234567890"), 10, QStringLiteral(" ")), QStringLiteral("1234567890"));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("가나"), 5, QStringLiteral(" ")), QStringLiteral(" 가나"));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("가나다"), 5, QStringLiteral(" ")), QStringLiteral("가나 "));
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("7"), 3, QStringLiteral("0x")), QStringLiteral("007"));
    EXPECT_EQ(CKoreanString::LPad(QString(40000, QLatin1Char('x')), 10, QStringLiteral(" ")), QString(10, QLatin1Char('x')));

    // An empty fill is a trapped failure: reported, and nothing comes back.
    testsupport::ScriptedMsgBoxes boxes;
    EXPECT_EQ(CKoreanString::LPad(QStringLiteral("12"), 10, QString()), QString());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Error 5 (Invalid procedure call or argument) in procedure LPad of Class Module CKoreanString"));
}

TEST(ListLine, SizeInKilobytes) {
    const std::pair<qint64, const char*> cases[] = {
        {511, "0"}, {512, "1"}, {1535, "1"}, {1536, "2"}, {12345678, "12,056"}, {1234567890, "1,205,633"},
        {5LL << 30, "5,242,880"}, {std::numeric_limits<qint64>::max(), "9,007,199,254,740,992"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formats::FormatSizeKb(bytes, QChar(u',')), QLatin1String(text));
    EXPECT_EQ(formats::FormatSizeKb(12345678, QChar(u'.')), QStringLiteral("12.056"));
}

TEST(ListLine, LocalTimeOfTheActiveZone) {
#ifdef _WIN32
    GTEST_SKIP() << "the zone is the system's there: TZ does not choose it";
#endif
    const QByteArray oldTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "UTC-9");  // Korean standard time, without the zone database
    tzset();
    auto utc = [](int d, int h, int mi, int s) { return QDateTime(QDate(2024, 3, d), QTime(h, mi, s), Qt::UTC); };
    const QChar comma(u',');
    EXPECT_EQ(formats::FormatListLine(QStringLiteral("report.zip"), utc(7, 0, 5, 59), 12345678, comma),
              QStringLiteral("report.zip 2024-03-07 09시 05분    12,056 Kb"));
    // 23:59:59 UTC is the next morning; seconds are dropped, not rounded.
    EXPECT_EQ(formats::FormatListLine(QStringLiteral("견적서.txt"), utc(7, 23, 59, 59), 511, comma),
              QStringLiteral("견적서.txt 2024-03-08 08시 59분") + Blanks(9) + QStringLiteral("0 Kb"));
    // Without a time the columns still line up (the zero file time).
    EXPECT_EQ(formats::FormatListLine(QStringLiteral("x"), QDateTime(), 1536, comma),
              QStringLiteral("x 1601-01-01 09시 00분") + Blanks(9) + QStringLiteral("2 Kb"));
    if (hadTz) qputenv("TZ", oldTz); else qunsetenv("TZ");
    tzset();
}

}  // namespace

// One formatter for a whole listing works the offset out once per day; on
// the days the clocks change it must still give each time its own offset.
TEST(ListLine, FormatterFollowsDaylightSavingChanges) {
    const QByteArray oldTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    const auto at = [](const char* utc) { return QDateTime::fromString(QLatin1String(utc), Qt::ISODate); };
    const struct {
        const char* tz;
        const char* utc;
        const char* local;
    } cases[] = {
        {"Europe/Berlin", "2024-03-30T12:00:00Z", "2024-03-30 13시 00분"},
        {"Europe/Berlin", "2024-03-31T00:59:59Z", "2024-03-31 01시 59분"},  // the day of the change, before it
        {"Europe/Berlin", "2024-03-31T01:00:00Z", "2024-03-31 03시 00분"},  // and after it
        {"Europe/Berlin", "2024-10-27T00:59:00Z", "2024-10-27 02시 59분"},
        {"Europe/Berlin", "2024-10-27T01:00:00Z", "2024-10-27 02시 00분"},
        {"Europe/Berlin", "2024-07-01T22:30:00Z", "2024-07-02 00시 30분"},
        {"America/New_York", "2024-03-10T06:59:00Z", "2024-03-10 01시 59분"},
        {"America/New_York", "2024-03-10T07:00:00Z", "2024-03-10 03시 00분"},
        {"America/New_York", "2024-11-03T05:59:00Z", "2024-11-03 01시 59분"},
        {"America/New_York", "2024-11-03T06:00:00Z", "2024-11-03 01시 00분"},
        {"America/New_York", "2024-01-01T03:00:00Z", "2023-12-31 22시 00분"},
    };
#ifdef _WIN32
    // The zone is the system's there, TZ does not choose it: the formatter
    // must still agree with the general routine in it.
    const char* const zones[] = {nullptr};
#else
    const char* const zones[] = {"Europe/Berlin", "America/New_York"};
#endif
    for (const char* tz : zones) {
        if (tz) qputenv("TZ", tz);
        tzset();
        browser::LineFormatter f(QChar(u','));
        for (int pass = 0; pass < 2; ++pass)  // the second pass answers from what the first learnt
            for (const auto& c : cases) {
                if (tz && qstrcmp(c.tz, tz) != 0) continue;
                const QString line = f.Format(QStringLiteral("a b.txt"), at(c.utc), 2048);
                if (tz) {
                    EXPECT_EQ(line, QStringLiteral("a b.txt ") + QString::fromUtf8(c.local) + Blanks(9) + QStringLiteral("2 Kb"))
                        << c.utc;
                }
                EXPECT_EQ(line, formats::FormatListLine(QStringLiteral("a b.txt"), at(c.utc), 2048, QChar(u',')));
            }
    }
    // Sizes past ten columns, negative sizes and a missing time read as the general routine does.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    browser::LineFormatter f(QChar(0x00A0));
    for (const qint64 size : {qint64(0), qint64(511), qint64(512), qint64(1535), qint64(1536), qint64(1) << 40,
                              std::numeric_limits<qint64>::max(), qint64(-5000)})
        for (const QDateTime& t : {QDateTime(), at("2024-03-31T01:00:00Z")})
            EXPECT_EQ(f.Format(QStringLiteral("견적"), t, size), formats::FormatListLine(QStringLiteral("견적"), t, size, QChar(0x00A0)))
                << size;
    // The kilobyte rounding at its edges, in the formatter itself (half a
    // kilobyte rounds up).
    for (const auto& [size, kb] : {std::pair<qint64, const char*>{511, " 0 Kb"}, {512, " 1 Kb"}, {1535, " 1 Kb"}, {1536, " 2 Kb"}})
        EXPECT_TRUE(f.Format(QStringLiteral("a"), QDateTime(), size).endsWith(QLatin1String(kb))) << size;
    if (hadTz) qputenv("TZ", oldTz); else qunsetenv("TZ");
    tzset();
}
