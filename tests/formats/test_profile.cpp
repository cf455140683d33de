#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "formats/profile.h"
#include "platform/textcodec.h"

using formats::GetPrivateProfileString;
using formats::WritePrivateProfileString;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// A file as people leave them: comments, odd spacing, mixed line endings,
// Korean in code page 949 and no line break at the very end.
QByteArray sample() {
    return "; settings\r\n"
           "[LPID]\r\n"
           "  Qx_Inhouse =  41  \r\n"
           "other=x\n"
           "\r\n"
           "[" + platform::ToCp949(QStringLiteral("한글")) + "]\n"
           "name=" + platform::ToCp949(QStringLiteral("홍길동")) + "\n"
           "[LPID2]\r\n"
           "qx_inhouse=40";
}

}  // namespace

TEST(Profile, ReadsValuesIgnoringCaseAndBlanks) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.ini"));
    EXPECT_EQ(GetPrivateProfileString("LPID", "qx_inhouse", "none", 100, file), "none");

    writeAll(file, sample());
    EXPECT_EQ(GetPrivateProfileString("lpid", "QX_INHOUSE", "", 100, file), "41");
    EXPECT_EQ(GetPrivateProfileString("LPID", "missing", "def", 100, file), "def");
    EXPECT_EQ(GetPrivateProfileString("nosection", "qx_inhouse", "", 100, file), "");
    // The first section's keys do not leak into the next one.
    EXPECT_EQ(GetPrivateProfileString("LPID2", "other", "-", 100, file), "-");
    EXPECT_EQ(GetPrivateProfileString("LPID2", "qx_inhouse", "", 100, file), "40");
    EXPECT_EQ(GetPrivateProfileString(QStringLiteral("한글"), "NAME", "", 100, file), QStringLiteral("홍길동"));
    EXPECT_EQ(GetPrivateProfileString("LPID", "qx_inhouse", "", 2, file), "4");

    writeAll(file, "[s]\r\nk=" + QByteArray(150, '7') + "\r\n");
    EXPECT_EQ(GetPrivateProfileString("s", "k", "", 100, file), QString(99, QLatin1Char('7')));
}

TEST(Profile, ReplacesValueInPlaceKeepingEveryOtherByte) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.ini"));
    writeAll(file, sample());
    ASSERT_TRUE(WritePrivateProfileString("lpid", "qx_inhouse", "1234", file));
    QByteArray expected = sample();
    expected.replace("  Qx_Inhouse =  41  \r\n", "  Qx_Inhouse =  1234\r\n");
    EXPECT_EQ(readAll(file), expected);

    // Last line without an ending keeps having none.
    ASSERT_TRUE(WritePrivateProfileString("LPID2", "qx_inhouse", "", file));
    expected.chop(2);
    EXPECT_EQ(readAll(file), expected);
    EXPECT_EQ(GetPrivateProfileString("LPID2", "qx_inhouse", "x", 100, file), "");
}

TEST(Profile, AddsKeysAndSectionsAndRefusesUnstorableText) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("config.ini"));
    ASSERT_TRUE(WritePrivateProfileString("LPID", "velmora2716", "7", file));
    EXPECT_EQ(readAll(file), "[LPID]\r\nvelmora2716=7\r\n");

    writeAll(file, sample());
    // A new key goes after the section's last line, before the blank line.
    ASSERT_TRUE(WritePrivateProfileString("LPID", "velmora2716", "8", file));
    QByteArray expected = sample();
    expected.replace("other=x\n", "other=x\nvelmora2716=8\r\n");
    EXPECT_EQ(readAll(file), expected);

    // A new key in the last section, whose line has no ending.
    ASSERT_TRUE(WritePrivateProfileString("LPID2", "velmora2716", "", file));
    expected += "\r\nvelmora2716=\r\n";
    EXPECT_EQ(readAll(file), expected);

    ASSERT_TRUE(WritePrivateProfileString(QStringLiteral("새 구역"), "k", QStringLiteral("값"), file));
    expected += "[" + platform::ToCp949(QStringLiteral("새 구역")) + "]\r\nk=" +
                platform::ToCp949(QStringLiteral("값")) + "\r\n";
    EXPECT_EQ(readAll(file), expected);

    // Text that would break the file's structure or lose characters.
    EXPECT_FALSE(WritePrivateProfileString("LPID", "k", "a\r\n[evil]", file));
    EXPECT_FALSE(WritePrivateProfileString("LPID", "a=b", "1", file));
    EXPECT_FALSE(WritePrivateProfileString("LPID", "", "1", file));
    EXPECT_FALSE(WritePrivateProfileString("a]b", "k", "1", file));
    EXPECT_FALSE(WritePrivateProfileString("LPID", "k", QStringLiteral("\U0001F600"), file));
    EXPECT_EQ(readAll(file), expected);

    EXPECT_FALSE(WritePrivateProfileString("s", "k", "v", dir.filePath(QStringLiteral("no/such/dir/x.ini"))));
}
