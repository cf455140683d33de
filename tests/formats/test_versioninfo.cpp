#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include "core/errors.h"
#include "testsupport.h"
#include "formats/versioninfo.h"

namespace {

const std::vector<std::pair<QString, QString>> kStrings = {
    {QStringLiteral("CompanyName"), QStringLiteral("오르벨")},  // odd key: one NUL of padding
    {QStringLiteral("FileVersion"), QStringLiteral("1.00.0015")},
    {QStringLiteral("Comments"), QStringLiteral("even key")},  // even key: none
};

void Put16(QByteArray& b, qsizetype at, quint16 v) { qToLittleEndian(v, b.data() + at); }
void Put32(QByteArray& b, qsizetype at, quint32 v) { qToLittleEndian(v, b.data() + at); }

// Offsets of a minimal PE32 image: headers, one .rsrc section at file 0x200
// / RVA 0x1000 whose tree has an icon type to pass over, then RT_VERSION ->
// id 1 -> language 0x0412 -> the block at section offset 0x100.
constexpr qsizetype kOpt = 0x58, kSections = kOpt + 224, kRsrc = 0x200;

QByteArray MakePe(const QByteArray& block) {
    QByteArray pe(kRsrc + 0x100 + block.size(), '\0');
    pe.replace(0, 2, "MZ");
    Put32(pe, 0x3C, 0x40);
    pe.replace(0x40, 4, QByteArray("PE\0\0", 4));
    Put16(pe, 0x46, 1);    // one section
    Put16(pe, 0x54, 224);  // optional header size
    Put16(pe, kOpt, 0x10B);
    Put32(pe, kOpt + 92, 16);       // data directories
    Put32(pe, kOpt + 112, 0x1000);  // resources
    Put32(pe, kOpt + 116, quint32(0x100 + block.size()));
    pe.replace(kSections, 5, ".rsrc");
    for (int k : {8, 16}) Put32(pe, kSections + k, quint32(0x100 + block.size()));
    Put32(pe, kSections + 12, 0x1000);
    Put32(pe, kSections + 20, kRsrc);
    auto dir = [&](qsizetype at, quint32 id, quint32 target, quint16 ids = 1) {
        Put16(pe, kRsrc + at + 14, ids);
        Put32(pe, kRsrc + at + 16, id);
        Put32(pe, kRsrc + at + 20, target);
    };
    dir(0x00, 3, 0x80000000u | 0x60, 2);  // RT_ICON -> an empty directory
    Put32(pe, kRsrc + 0x18, 16);
    Put32(pe, kRsrc + 0x1C, 0x80000000u | 0x20);
    dir(0x20, 1, 0x80000000u | 0x40);
    dir(0x40, 0x0412, 0x70);
    Put32(pe, kRsrc + 0x70, 0x1100);  // data entry: RVA and size
    Put32(pe, kRsrc + 0x74, quint32(block.size()));
    pe.replace(kRsrc + 0x100, block.size(), block);
    return pe;
}

QString Utf16(const QByteArray& b) {
    QString t;
    for (qsizetype i = 0; i + 1 < b.size(); i += 2) t += QChar(qFromLittleEndian<quint16>(b.constData() + i));
    return t;
}

TEST(VersionBlock, LayoutAndTheThirteenEntries) {
    const QByteArray block = BuildVersionBlock(kStrings);
    EXPECT_EQ(qFromLittleEndian<quint16>(block.constData()), block.size());
    EXPECT_EQ(qFromLittleEndian<quint32>(block.constData() + 40), 0xFEEF04BDu);  // fixed info
    EXPECT_EQ(qFromLittleEndian<quint32>(block.constData() + 52), 0x000F0000u);  // 1.0.15.0
    const QString t = Utf16(block);
    const QChar nul(0);
    EXPECT_TRUE(t.contains(QChar(1) + QStringLiteral("CompanyName") + nul + nul + QStringLiteral("오르벨") + nul));
    EXPECT_TRUE(t.contains(QChar(1) + QStringLiteral("Comments") + nul + QStringLiteral("even key") + nul));

    QStringList expected;
    for (const char* key : {"CompanyName: 오르벨", "FileDescription", "FileVersion: 1.00.0015", "InternalName",
                            "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion",
                            "Comments: even key", "LegalTrademarks", "PrivateBuild", "SpecialBuild"}) {
        const QString k = QString::fromUtf8(key);
        expected << (k.contains(u':') ? k : k + QStringLiteral(": Not specified"));
    }
    expected << QStringLiteral("Language: Korean");
    EXPECT_EQ(GetFileVerInfoFromBlock(block), expected);
    EXPECT_TRUE(GetFileVerInfoFromBlock(QByteArray()).isEmpty());

    // Several tables: the first in the block wins, key by key; keys are
    // case-sensitive; an unknown language shows its id.
    const QByteArray english = BuildVersionBlock(
        {{QStringLiteral("FileVersion"), QStringLiteral("2.0.0.7")}, {QStringLiteral("comments"), QStringLiteral("x")}},
        0x0409);
    const QStringList both = GetFileVerInfoFromBlock(english + block);
    EXPECT_EQ(both[2], QStringLiteral("FileVersion: 2.0.0.7"));
    EXPECT_EQ(both[8], QStringLiteral("Comments: even key"));
    EXPECT_EQ(both[12], QStringLiteral("Language: English (United States)"));
    EXPECT_EQ(GetFileVerInfoFromBlock(BuildVersionBlock({}, 0x0C1A))[12], QStringLiteral("Language: 0C1A"));
}

TEST(VersionBlock, DamagedBlocksStayInsideTheirBytes) {
    const QByteArray block = BuildVersionBlock(kStrings);
    const qsizetype v = Utf16(block).indexOf(QStringLiteral("1.00.0015"));
    EXPECT_EQ(GetFileVerInfoFromBlock(block.left(2 * (v + 3) + 1))[2], QStringLiteral("FileVersion: 1.0"));
    for (qsizetype n = 1; n <= block.size(); ++n) ASSERT_EQ(GetFileVerInfoFromBlock(block.left(n)).size(), 13);

    // A value stored without its NUL (value length 0) is empty, not the
    // start of the next entry: "Comments" header, key, then "FileVersion".
    QByteArray bare(6 + 18, '\0');
    Put16(bare, 0, 24);
    Put16(bare, 4, 1);
    for (int i = 0; i < 8; ++i) Put16(bare, 6 + 2 * i, QStringLiteral("Comments")[i].unicode());
    bare += BuildVersionBlock({{QStringLiteral("FileVersion"), QStringLiteral("3.1")}});
    const QStringList e = GetFileVerInfoFromBlock(bare);
    EXPECT_EQ(e[8], QStringLiteral("Comments: "));
    EXPECT_EQ(e[2], QStringLiteral("FileVersion: 3.1"));
}

TEST(PeImage, BlockComesBackWholeAndDamagedFilesGiveNothing) {
    const QByteArray block = BuildVersionBlock(kStrings);
    const QByteArray pe = MakePe(block);
    ASSERT_EQ(ExtractVersionBlock(pe), block);
    for (const QByteArray& other : {QByteArray(), QByteArray("MZ"), QByteArray("#!/bin/sh\n")})
        EXPECT_TRUE(ExtractVersionBlock(other).isEmpty());
    for (qsizetype n = 0; n < pe.size(); ++n) ASSERT_TRUE(ExtractVersionBlock(pe.left(n)).isEmpty()) << n;

    const struct { qsizetype at; quint32 value; bool word; } patches[] = {
        {0x3C, 0xFFFFFFF0, false},  {0x46, 0xFFFF, true},        // PE header, section count beyond the file
        {kOpt, 0x1234, true},       {kOpt + 92, 2, false},       // unknown header, too few directories
        {kOpt + 112, 0x7FFFF000, false}, {kSections + 16, 0, false},  // resources outside the section data
        {kSections + 20, 0xFFFFFF00, false}, {kRsrc + 0x18, 17, false},  // data beyond the file, no RT_VERSION
        {kRsrc + 0x1C, 0x80FFFFFF, false}, {kRsrc + 0x1C, 0x20, false},  // subdir far away, or no directory
        {kRsrc + 0x54, 0x80000040, false}, {kRsrc + 0x70, 0xFFFFFF00, false},  // language a directory, data nowhere
        {kRsrc + 0x74, 0x7FFFFFFF, false},                                  // data beyond the section
    };
    for (const auto& p : patches) {
        QByteArray bad = pe;
        if (p.word) Put16(bad, p.at, quint16(p.value));
        else Put32(bad, p.at, p.value);
        EXPECT_TRUE(ExtractVersionBlock(bad).isEmpty()) << "patch at " << p.at;
    }
    quint32 seed = 7;  // random damage to headers and tree: no crash, no bytes from outside
    for (int round = 0; round < 3000; ++round) {
        QByteArray bad = pe;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1664525u + 1013904223u;
            bad[(seed >> 8) % (kRsrc + 0x100)] = char(seed >> 24);
        }
        EXPECT_LE(ExtractVersionBlock(bad).size(), bad.size());
    }
}

TEST(GetFileVer, LastComponentNormalisedOrCut) {
    QTemporaryDir dir;
    auto file = [&dir](const QByteArray& bytes) {
        static int n = 0;
        QFile f(dir.filePath(QString::number(++n)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return f.fileName();
    };
    auto withVersion = [&file](const char* v) {
        return file(MakePe(BuildVersionBlock({{QStringLiteral("FileVersion"), QString::fromLatin1(v)}})));
    };
    testsupport::ScriptedMsgBoxes boxes;
    const QString checker = file(MakePe(BuildVersionBlock(kStrings)));
    EXPECT_EQ(GetFileVer(checker, true, true), QStringLiteral("1.00.15"));
    EXPECT_EQ(GetFileVer(checker, false, false), QStringLiteral("1.00"));
    for (const auto& [v, keep] : {std::pair{"1.0.0.15", "1.0.0.15"}, {"2.5.007", "2.5.7"}, {"1.0.beta", "1.0.beta"},
                                  {"1.2.", "1.2."}, {"0042", "42"}})
        EXPECT_EQ(GetFileVer(withVersion(v), true, false), QLatin1String(keep)) << v;
    EXPECT_EQ(GetFileVer(withVersion("1.0 (build 7)"), false, false), QStringLiteral("1"));
    const QString none = file(MakePe(BuildVersionBlock({})));
    EXPECT_EQ(GetFileVer(none, true, false), QStringLiteral("Not specified"));
    EXPECT_EQ(GetFileVer(none, false, true), QStringLiteral("Not specified"));
    EXPECT_TRUE(boxes.shown().empty());

    // Errors: nothing to cut at; no block at all (also for files that are
    // not there or not executables). Silent shows nothing.
    EXPECT_EQ(GetFileVer(none, false, false), QStringLiteral("Not specified"));
    for (const QString& p : {file("no version here"), file(QByteArray()), dir.filePath(QStringLiteral("missing")),
                             dir.path()}) {
        EXPECT_TRUE(GetFileVerInfo(p).isEmpty());
        EXPECT_EQ(GetFileVer(p, true, true), QString());
    }
    EXPECT_EQ(GetFileVer(dir.filePath(QStringLiteral("missing")), true, false), QString());
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Error 5 (Invalid procedure call or argument) in procedure GetFileVer of Module mdlFile"));
    EXPECT_EQ(boxes.shown()[1].text,
              QStringLiteral("Error 9 (Subscript out of range) in procedure GetFileVer of Module mdlFile"));
    EXPECT_EQ(boxes.shown()[1].title, core::AppTitle());
    EXPECT_EQ(boxes.shown()[1].icon, core::MsgIcon::None);
}

TEST(ElfImage, StampedProgramCarriesItsVersionAndStillRuns) {
    const QString probe = QStringLiteral(ORVEL_STAMP_PROBE);
    const QStringList e = GetFileVerInfo(probe);
    ASSERT_EQ(e.size(), 13) << "no version block in " << probe.toStdString();
    EXPECT_EQ(e[6], QStringLiteral("ProductName: 오르벨 검사 도구"));
    EXPECT_EQ(e[8], QStringLiteral("Comments: a=b, c"));
    EXPECT_EQ(GetFileVer(probe, true, true), QStringLiteral("1.00.15"));
    QProcess run;
    run.start(probe, {});
    ASSERT_TRUE(run.waitForFinished(10000));
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_EQ(run.readAllStandardOutput().trimmed(), QByteArray("stamped probe runs"));

    QFile f(probe);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray elf = f.readAll();
    for (qsizetype n = 0; n < elf.size(); n += 97) {
        const QByteArray got = ExtractVersionBlock(elf.left(n));
        EXPECT_TRUE(got.isEmpty() || got == ExtractVersionBlock(elf)) << n;
    }

#ifndef _WIN32  // objcopy is a Linux program; the Windows build reads PE files only
    // 32-bit and big-endian objects with the section, made by objcopy.
    QTemporaryDir dir;
    const QByteArray block = BuildVersionBlock(kStrings);
    QFile in(dir.filePath(QStringLiteral("block.bin")));
    ASSERT_TRUE(in.open(QIODevice::WriteOnly) && in.write(block) == block.size());
    in.close();
    for (const char* target : {"elf32-little", "elf32-big", "elf64-big"}) {
        const QString out = dir.filePath(QString::fromLatin1(target));
        QProcess objcopy;
        objcopy.start(QStringLiteral(ORVEL_OBJCOPY), {"-I", "binary", "-O", target, "--rename-section",
                                                      ".data=.orvel_version", in.fileName(), out});
        ASSERT_TRUE(objcopy.waitForFinished(10000) && objcopy.exitCode() == 0) << target;
        EXPECT_EQ(ReadVersionBlock(out), block) << target;
    }
#endif
}

}  // namespace
