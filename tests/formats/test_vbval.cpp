#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/errors.h"
#include "formats/vbval.h"

namespace {

TEST(ReadLeadingNumber, ReadsTheNumberAtTheStart) {
    const std::pair<const char*, double> cases[] = {
        {"12\r\n", 12}, {" \t\n12", 12}, {"1 2", 12}, {"1\t2\n3", 123}, {"1\r2", 1},  // CR ends, the rest is skipped
        {"- 3", -3}, {"+7", 7}, {"12.5", 12.5}, {".5", 0.5}, {"1.2.3", 1.2}, {"0015", 15}, {"15,000", 15},
        {"1e3", 1000}, {"1D3", 1000}, {"25E-1", 2.5}, {"2 e + 2", 200}, {"3e", 3}, {"3e+x", 3}, {"3dogs", 3},
        {"&H1F", 31}, {"&h1f", 31}, {"&O17", 15}, {"&o19", 1}, {"&HFFFF", 65535}, {"&HG", 0}, {"&X1", 0},
        {"", 0}, {"\r\n", 0}, {"<html>", 0}, {"-", 0}, {".", 0}, {"e5", 0}, {"--1", 0}, {"다", 0},
        {"1e-999", 0}, {"\u0661\u0662", 0},  // other scripts' digits are no digits
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ReadLeadingNumber(QString::fromUtf8(text)), value) << text;
    // Beyond a double: infinite, which the rounding reports as an overflow.
    EXPECT_TRUE(std::isinf(ReadLeadingNumber(QStringLiteral("1e999"))));
    EXPECT_TRUE(std::isinf(ReadLeadingNumber(QString(400, QLatin1Char('9')))));
    EXPECT_EQ(ReadLeadingNumber(QStringLiteral("0.") + QString(400, QLatin1Char('0')) + QStringLiteral("1")), 0);
}

TEST(RoundToLong, HalvesToEvenAndOverflow) {
    const std::pair<double, qint32> cases[] = {
        {12.5, 12}, {13.5, 14}, {-2.5, -2}, {-3.5, -4}, {2.6, 3}, {-2.6, -3}, {0.49999999999999994, 0},
        {2147483647.4, 2147483647}, {-2147483648.5, std::numeric_limits<qint32>::min()},
    };
    for (const auto& [v, r] : cases) EXPECT_EQ(RoundToLong(v), r) << v;
    for (double v : {2147483647.5, -2147483649.0, 1e300, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
        EXPECT_THROW(RoundToLong(v), platform::Error) << v;  // its message: test_launcher
}

TEST(ReadWholeNumber, OnlyAWholeTextThatIsANumber) {
    double v = -1;
    EXPECT_TRUE(ReadWholeNumber(QStringLiteral("0015"), v));
    EXPECT_EQ(v, 15);
    EXPECT_TRUE(ReadWholeNumber(QStringLiteral(" -2.5e1 "), v));
    EXPECT_EQ(v, -25);
    v = 7;
    for (const char* text : {"", " ", "15a", "1.2.3", "&H10", "1 5", "."}) {
        EXPECT_FALSE(ReadWholeNumber(QString::fromLatin1(text), v)) << text;
        EXPECT_EQ(v, 7) << text;
    }
}

}  // namespace
