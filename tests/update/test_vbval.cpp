#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/errors.h"
#include "update/vbval.h"

namespace {

TEST(ReadLeadingNumber, ReadsWhatTheUpdateServerSends) {
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("12\r\n")), 12);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("12\n")), 12);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral(" \t\n12")), 12);
    // Blanks, tabs and line feeds are skipped inside the number too, a
    // carriage return ends it.
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("1 2")), 12);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("1\t2\n3")), 123);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("1\r2")), 1);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("- 3")), -3);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("+7")), 7);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("12.5")), 12.5);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("1.2.3")), 1.2);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("0015")), 15);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("15 revisions")), 15);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("15,000")), 15);
}

TEST(ReadLeadingNumber, ExponentsAndOtherBases) {
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("1e3")), 1000);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("1D3")), 1000);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("25E-1")), 2.5);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("2 e + 2")), 200);
    // A letter without exponent digits ends the number before it.
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("3e")), 3);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("3e+x")), 3);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("3dogs")), 3);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&H1F")), 31);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&h1f")), 31);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&O17")), 15);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&o19")), 1);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&HFFFF")), 65535);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&HG")), 0);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&X1")), 0);
    // Beyond a double: infinite, so rounding reports an overflow; below the
    // smallest: zero.
    EXPECT_TRUE(std::isinf(ReadLeadingNumber(QStringLiteral("1e999"))));
    EXPECT_TRUE(std::isinf(ReadLeadingNumber(QString(400, QLatin1Char('9')))));
    EXPECT_LT(ReadLeadingNumber(QStringLiteral("-1e999")), 0);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("1e-999")), 0);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("0.") + QString(400, QLatin1Char('0')) + QStringLiteral("1")), 0);
}

TEST(ReadLeadingNumber, NoNumberReadsZero) {
    for (const char* text : {"", "\r\n", "<html>", "-", "+", ".", "e5", "&", "&H", "--1", "\xEB\x8B\xA4"})
        EXPECT_EQ(ReadLeadingNumber(QString::fromUtf8(text)), 0) << text;
    // Digits of other scripts are not digits here.
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("\u0661\u0662")), 0);
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("&H\u0661")), 0);
}

TEST(RoundToLong, HalvesToEvenAndOverflow) {
    EXPECT_EQ(RoundToLong(12.5), 12);
    EXPECT_EQ(RoundToLong(13.5), 14);
    EXPECT_EQ(RoundToLong(-2.5), -2);
    EXPECT_EQ(RoundToLong(-3.5), -4);
    EXPECT_EQ(RoundToLong(0.49999999999999994), 0);
    EXPECT_EQ(RoundToLong(2.6), 3);
    EXPECT_EQ(RoundToLong(-2.6), -3);
    EXPECT_EQ(RoundToLong(2147483647.0), 2147483647);
    EXPECT_EQ(RoundToLong(2147483647.4), 2147483647);
    EXPECT_EQ(RoundToLong(-2147483648.0), std::numeric_limits<qint32>::min());
    EXPECT_EQ(RoundToLong(-2147483648.5), std::numeric_limits<qint32>::min());
    for (double v : {2147483647.5, 2147483648.0, -2147483649.0, 1e300, std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        try {
            RoundToLong(v);
            ADD_FAILURE() << v << " did not overflow";
        } catch (const platform::Error& e) {
            EXPECT_EQ(e.number(), 6);
            EXPECT_EQ(e.description(), QStringLiteral("Overflow"));
        }
    }
    EXPECT_EQ(RoundToLong(ReadLeadingNumber(QStringLiteral("15\r\n"))), 15);
    EXPECT_THROW(RoundToLong(ReadLeadingNumber(QStringLiteral("2147483647.5"))), platform::Error);
}

TEST(ReadWholeNumber, OnlyAWholeTextThatIsANumber) {
    double v = -1;
    EXPECT_TRUE(ReadWholeNumber(QStringLiteral("0015"), v));
    EXPECT_EQ(v, 15);
    EXPECT_TRUE(ReadWholeNumber(QStringLiteral(" 2.50 "), v));
    EXPECT_EQ(v, 2.5);
    EXPECT_TRUE(ReadWholeNumber(QStringLiteral("-1e2"), v));
    EXPECT_EQ(v, -100);
    v = 7;
    for (const char* text : {"", " ", "15a", "1.2.3", "a15", "&H10", "1 5", "."}) {
        EXPECT_FALSE(ReadWholeNumber(QString::fromLatin1(text), v)) << text;
        EXPECT_EQ(v, 7) << text;
    }
}

}  // namespace
