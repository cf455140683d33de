#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include "platform/errors.h"
#include "testsupport.h"
#include "update/versioninfo.h"

namespace {

using Strings = std::vector<std::pair<QString, QString>>;

const Strings kStrings = {
    {QStringLiteral("CompanyName"), QStringLiteral("오르벨")},            // odd key: one NUL of padding
    {QStringLiteral("FileDescription"), QStringLiteral("AS 파일관리")},
    {QStringLiteral("FileVersion"), QStringLiteral("1.00.0015")},
    {QStringLiteral("Comments"), QStringLiteral("even key, no padding")},  // even key
    {QStringLiteral("ProductName"), QStringLiteral("Orvel AS")},
};

// ---- A minimal PE image with one .rsrc section holding the block.

void Put16(QByteArray& b, qsizetype at, quint16 v) { qToLittleEndian(v, b.data() + at); }
void Put32(QByteArray& b, qsizetype at, quint32 v) { qToLittleEndian(v, b.data() + at); }

struct PeLayout {
    qsizetype lfanew = 0x40, optHeader = 0, sectionTable = 0, rawData = 0x200;
};

// The resource tree: a named type entry and an icon type that the reader
// must pass over, then RT_VERSION -> id 1 -> language 0x0412 -> data.
QByteArray ResourceSection(const QByteArray& block, quint32 sectionRva) {
    QByteArray r(0x100, '\0');
    auto dir = [&](qsizetype at, quint16 named, quint16 ids) {
        Put16(r, at + 12, named);
        Put16(r, at + 14, ids);
    };
    auto entry = [&](qsizetype at, quint32 name, quint32 target) {
        Put32(r, at, name);
        Put32(r, at + 4, target);
    };
    dir(0x00, 1, 2);                          // root: 1 named, 2 ids
    entry(0x10, 0x80000000u | 0xF0, 0x80000000u | 0x40);  // named type -> empty dir
    entry(0x18, 3, 0x80000000u | 0x40);       // RT_ICON -> empty dir
    entry(0x20, 16, 0x80000000u | 0x50);      // RT_VERSION
    dir(0x40, 0, 0);                          // empty dir
    dir(0x50, 0, 1);
    entry(0x60, 1, 0x80000000u | 0x70);       // name id 1
    dir(0x70, 0, 1);
    entry(0x80, 0x0412, 0x90);                // language -> data entry
    Put32(r, 0x90, sectionRva + 0x100);       // data RVA
    Put32(r, 0x94, quint32(block.size()));
    Put16(r, 0xF0, 3);                        // the name "MUI"
    Put16(r, 0xF2, 'M');
    Put16(r, 0xF4, 'U');
    Put16(r, 0xF6, 'I');
    return r + block;
}

QByteArray MakePe(const QByteArray& block, bool plus = false, PeLayout* layout = nullptr) {
    PeLayout l;
    const quint16 optSize = plus ? 240 : 224;
    l.optHeader = l.lfanew + 4 + 20;
    l.sectionTable = l.optHeader + optSize;
    const quint32 rva = 0x1000;
    const QByteArray rsrc = ResourceSection(block, rva);
    const qsizetype raw = (rsrc.size() + 0x1FF) & ~qsizetype(0x1FF);
    QByteArray pe(l.rawData + raw, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    Put32(pe, 0x3C, quint32(l.lfanew));
    pe.replace(l.lfanew, 4, QByteArray("PE\0\0", 4));
    const qsizetype coff = l.lfanew + 4;
    Put16(pe, coff, plus ? 0x8664 : 0x014C);
    Put16(pe, coff + 2, 1);
    Put16(pe, coff + 16, optSize);
    Put16(pe, coff + 18, 0x0102);
    Put16(pe, l.optHeader, plus ? 0x20B : 0x10B);
    const qsizetype count = plus ? 108 : 92;
    Put32(pe, l.optHeader + count, 16);
    Put32(pe, l.optHeader + count + 4 + 2 * 8, rva);
    Put32(pe, l.optHeader + count + 4 + 2 * 8 + 4, quint32(rsrc.size()));
    pe.replace(l.sectionTable, 8, QByteArray(".rsrc\0\0\0", 8));
    Put32(pe, l.sectionTable + 8, quint32(rsrc.size()));
    Put32(pe, l.sectionTable + 12, rva);
    Put32(pe, l.sectionTable + 16, quint32(raw));
    Put32(pe, l.sectionTable + 20, quint32(l.rawData));
    pe.replace(l.rawData, rsrc.size(), rsrc);
    if (layout) *layout = l;
    return pe;
}

QString Utf16(const QByteArray& block) {
    QString t;
    for (qsizetype i = 0; i + 1 < block.size(); i += 2) t += QChar(qFromLittleEndian<quint16>(block.constData() + i));
    return t;
}

class VersionFiles : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir dir_;
};

TEST(VersionBlock, LayoutAndTheThirteenEntries) {
    const QByteArray block = BuildVersionBlock(kStrings);
    ASSERT_EQ(block.size() % 4, 0);
    EXPECT_EQ(qFromLittleEndian<quint16>(block.constData()), block.size());
    EXPECT_EQ(qFromLittleEndian<quint16>(block.constData() + 2), 52);
    // Fixed info after "VS_VERSION_INFO": signature and 1.0.15.0.
    EXPECT_EQ(qFromLittleEndian<quint32>(block.constData() + 40), 0xFEEF04BDu);
    EXPECT_EQ(qFromLittleEndian<quint32>(block.constData() + 48), 0x00010000u);
    EXPECT_EQ(qFromLittleEndian<quint32>(block.constData() + 52), 0x000F0000u);

    const QString t = Utf16(block);
    const QChar nul(0);
    EXPECT_TRUE(t.contains(QChar(1) + QStringLiteral("CompanyName") + nul + nul + QStringLiteral("오르벨") + nul));
    EXPECT_TRUE(t.contains(QChar(1) + QStringLiteral("Comments") + nul + QStringLiteral("even key")));
    EXPECT_TRUE(t.contains(QChar(1) + QStringLiteral("041204B0") + nul));
    EXPECT_TRUE(t.contains(QStringLiteral("Translation")));

    const QStringList expected = {
        QStringLiteral("CompanyName: 오르벨"),
        QStringLiteral("FileDescription: AS 파일관리"),
        QStringLiteral("FileVersion: 1.00.0015"),
        QStringLiteral("InternalName: Not specified"),
        QStringLiteral("LegalCopyright: Not specified"),
        QStringLiteral("OriginalFilename: Not specified"),
        QStringLiteral("ProductName: Orvel AS"),
        QStringLiteral("ProductVersion: Not specified"),
        QStringLiteral("Comments: even key, no padding"),
        QStringLiteral("LegalTrademarks: Not specified"),
        QStringLiteral("PrivateBuild: Not specified"),
        QStringLiteral("SpecialBuild: Not specified"),
        QStringLiteral("Language: Korean"),
    };
    EXPECT_EQ(GetFileVerInfoFromBlock(block), expected);
    EXPECT_TRUE(GetFileVerInfoFromBlock(QByteArray()).isEmpty());

    // Keys are case-sensitive; the language of another table has its name
    // or, unknown, its id.
    const QStringList other = GetFileVerInfoFromBlock(
        BuildVersionBlock({{QStringLiteral("fileversion"), QStringLiteral("9.9")}}, 0x0409, 1252));
    EXPECT_EQ(other[2], QStringLiteral("FileVersion: Not specified"));
    EXPECT_EQ(other[12], QStringLiteral("Language: English (United States)"));
    EXPECT_EQ(GetFileVerInfoFromBlock(BuildVersionBlock({}, 0x0C1A))[12], QStringLiteral("Language: 0C1A"));
}

TEST(VersionBlock, FirstStringTableWins) {
    const QByteArray english = BuildVersionBlock(
        {{QStringLiteral("FileVersion"), QStringLiteral("2.0.0.7")}, {QStringLiteral("Comments"), QStringLiteral("en")}},
        0x0409);
    const QByteArray korean = BuildVersionBlock(kStrings);
    const QStringList e = GetFileVerInfoFromBlock(english + korean);
    EXPECT_EQ(e[2], QStringLiteral("FileVersion: 2.0.0.7"));
    EXPECT_EQ(e[8], QStringLiteral("Comments: en"));
    EXPECT_EQ(e[0], QStringLiteral("CompanyName: 오르벨"));  // only in the second table
    EXPECT_EQ(e[12], QStringLiteral("Language: English (United States)"));
}

TEST(VersionBlock, DamagedBlocksStayInsideTheirBytes) {
    const QByteArray block = BuildVersionBlock(kStrings);
    const QString t = Utf16(block);
    // Cut in the middle of the FileVersion value: the value up to the end.
    const qsizetype v = t.indexOf(QStringLiteral("1.00.0015"));
    ASSERT_GT(v, 0);
    EXPECT_EQ(GetFileVerInfoFromBlock(block.left(2 * (v + 3)))[2], QStringLiteral("FileVersion: 1.0"));
    EXPECT_EQ(GetFileVerInfoFromBlock(block.left(2 * (v + 3) + 1))[2], QStringLiteral("FileVersion: 1.0"));
    EXPECT_EQ(GetFileVerInfoFromBlock(block.left(2 * v - 2))[2], QStringLiteral("FileVersion: "));
    // Every cut gives 13 entries and no crash.
    for (qsizetype n = 1; n <= block.size(); ++n) EXPECT_EQ(GetFileVerInfoFromBlock(block.left(n)).size(), 13);

    // A value stored without its NUL (value length 0, as some tools write an
    // empty text) is empty, not the start of the next entry.
    QByteArray bare;
    auto u16 = [&bare](quint16 x) { bare.append(char(x & 0xFF)).append(char(x >> 8)); };
    auto entry = [&](const QString& key, const QString& value, bool terminated) {
        const qsizetype start = bare.size();
        u16(0), u16(terminated ? quint16(value.size() + 1) : 0), u16(1);
        for (QChar c : key) u16(c.unicode());
        u16(0);
        while (bare.size() % 4) bare.append('\0');
        for (QChar c : value) u16(c.unicode());
        if (terminated) u16(0);
        qToLittleEndian(quint16(bare.size() - start), bare.data() + start);
        while (bare.size() % 4) bare.append('\0');
    };
    entry(QStringLiteral("Comments"), QString(), false);
    entry(QStringLiteral("FileVersion"), QStringLiteral("3.1"), true);
    const QStringList e = GetFileVerInfoFromBlock(bare);
    EXPECT_EQ(e[8], QStringLiteral("Comments: "));
    EXPECT_EQ(e[2], QStringLiteral("FileVersion: 3.1"));
    EXPECT_EQ(e[12], QStringLiteral("Language"));  // no string table
}

TEST(PeImage, VersionResourceComesBackWhole) {
    const QByteArray block = BuildVersionBlock(kStrings);
    EXPECT_EQ(ExtractVersionBlock(MakePe(block)), block);
    EXPECT_EQ(ExtractVersionBlock(MakePe(block, /*plus=*/true)), block);
    // A PE without resources, and files of other kinds.
    QByteArray noRsrc = MakePe(block);
    PeLayout l;
    MakePe(block, false, &l);
    Put32(noRsrc, l.optHeader + 96 + 16, 0);
    EXPECT_TRUE(ExtractVersionBlock(noRsrc).isEmpty());
    EXPECT_TRUE(ExtractVersionBlock(QByteArray()).isEmpty());
    EXPECT_TRUE(ExtractVersionBlock("MZ").isEmpty());
    EXPECT_TRUE(ExtractVersionBlock("#!/bin/sh\necho hi\n").isEmpty());
}

TEST(PeImage, TruncatedAndCorruptFilesGiveNothing) {
    const QByteArray block = BuildVersionBlock(kStrings);
    PeLayout l;
    const QByteArray pe = MakePe(block, false, &l);
    // The block sits at the end: any shorter file has no whole block.
    for (qsizetype n = 0; n < l.rawData + 0x100 + block.size(); ++n)
        ASSERT_TRUE(ExtractVersionBlock(pe.left(n)).isEmpty()) << n;

    const qsizetype rs = l.rawData;  // resource section in the file
    const struct { qsizetype at; quint32 value; int width; } patches[] = {
        {0x3C, 0x7FFFFFF0, 4},                  // PE header beyond the file
        {0x3C, 0xFFFFFFFF, 4},
        {l.lfanew + 4 + 2, 0xFFFF, 2},          // many sections, beyond the file
        {l.lfanew + 4 + 16, 0, 2},              // no optional header
        {l.lfanew + 4 + 16, 0xFFFF, 2},         // section table beyond the file
        {l.optHeader, 0x1234, 2},               // unknown optional header
        {l.optHeader + 92, 2, 4},               // too few data directories
        {l.optHeader + 96 + 16, 0x7FFFF000, 4}, // resources outside every section
        {l.sectionTable + 16, 0, 4},            // no raw data
        {l.sectionTable + 20, 0xFFFFFF00, 4},   // raw data beyond the file
        {rs + 0x20, 17, 4},                     // no RT_VERSION type
        {rs + 12, 0, 2},                        // root lost its entries
        {rs + 0x24, 0x80000000u | 0xFFFFFF, 4}, // version subdir far away
        {rs + 0x24, 0x50, 4},                   // version entry is no directory
        {rs + 0x64, 0x70 + 0x10, 4},            // name entry is no directory
        {rs + 0x84, 0x80000000u | 0x70, 4},     // language entry is a directory (of itself)
        {rs + 0x90, 0xFFFFFF00, 4},             // data RVA nowhere
        {rs + 0x94, 0x7FFFFFFF, 4},             // data size beyond the section
    };
    for (const auto& p : patches) {
        QByteArray bad = pe;
        if (p.width == 2) Put16(bad, p.at, quint16(p.value));
        else Put32(bad, p.at, p.value);
        EXPECT_TRUE(ExtractVersionBlock(bad).isEmpty()) << "patch at " << p.at;
    }
    // Random damage to the headers and the resource tree never crashes and
    // never yields more bytes than the file has.
    quint32 seed = 7;
    for (int round = 0; round < 3000; ++round) {
        QByteArray bad = pe;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1664525u + 1013904223u;
            const qsizetype at = (seed >> 8) % (rs + 0x100);
            bad[at] = char(seed >> 24);
        }
        EXPECT_LE(ExtractVersionBlock(bad).size(), bad.size());
    }
}

TEST_F(VersionFiles, FileVersionWithTheLastComponentNormalisedOrCut) {
    auto fileWith = [this](const QString& version) {
        return write(QStringLiteral("v%1.exe").arg(qHash(version)),
                     MakePe(BuildVersionBlock({{QStringLiteral("FileVersion"), version}})));
    };
    testsupport::ScriptedMsgBoxes boxes;
    const QString p = write(QStringLiteral("checker.exe"), MakePe(BuildVersionBlock(kStrings)));
    EXPECT_EQ(GetFileVerInfo(p).value(2), QStringLiteral("FileVersion: 1.00.0015"));
    EXPECT_EQ(GetFileVer(p, true, true), QStringLiteral("1.00.15"));
    EXPECT_EQ(GetFileVer(p, false, false), QStringLiteral("1.00"));
    EXPECT_EQ(GetFileVer(fileWith(QStringLiteral("1.0.0.15")), true, false), QStringLiteral("1.0.0.15"));
    EXPECT_EQ(GetFileVer(fileWith(QStringLiteral("2.5.007")), true, false), QStringLiteral("2.5.7"));
    EXPECT_EQ(GetFileVer(fileWith(QStringLiteral("1.0.beta")), true, false), QStringLiteral("1.0.beta"));
    EXPECT_EQ(GetFileVer(fileWith(QStringLiteral("1.2.")), true, false), QStringLiteral("1.2."));
    EXPECT_EQ(GetFileVer(fileWith(QStringLiteral("0042")), true, false), QStringLiteral("42"));
    // Text after the first blank of the entry: a value with blanks stays whole.
    EXPECT_EQ(GetFileVer(fileWith(QStringLiteral("1.0 (build 7)")), false, false), QStringLiteral("1"));
    EXPECT_TRUE(boxes.shown().empty());

    // No FileVersion text: "Not specified" stays; cutting it finds no ".".
    const QString none = write(QStringLiteral("none.exe"), MakePe(BuildVersionBlock({})));
    EXPECT_EQ(GetFileVer(none, true, false), QStringLiteral("Not specified"));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(GetFileVer(none, false, true), QStringLiteral("Not specified"));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(GetFileVer(none, false, false), QStringLiteral("Not specified"));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Error 5 (Invalid procedure call or argument) in procedure GetFileVer of Module mdlFile"));
    EXPECT_EQ(boxes.shown()[0].icon, platform::MsgIcon::None);
    EXPECT_EQ(boxes.shown()[0].title, platform::AppTitle());
}

TEST_F(VersionFiles, FilesWithoutABlock) {
    testsupport::ScriptedMsgBoxes boxes;
    const QString text = write(QStringLiteral("readme.txt"), "no version here");
    const QString empty = write(QStringLiteral("empty.exe"), QByteArray());
    const QString missing = dir_.filePath(QStringLiteral("missing.exe"));
    for (const QString& p : {text, empty, missing, dir_.path()}) {
        EXPECT_TRUE(GetFileVerInfo(p).isEmpty()) << p.toStdString();
        EXPECT_EQ(GetFileVer(p, true, true), QString()) << p.toStdString();
    }
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(GetFileVer(missing, true, false), QString());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Error 9 (Subscript out of range) in procedure GetFileVer of Module mdlFile"));
}

// ---- Our own executables carry the block in an ELF section.

TEST(ElfImage, StampedExecutableCarriesItsVersionAndStillRuns) {
    const QString probe = QStringLiteral(ORVEL_STAMP_PROBE);
    const QStringList e = GetFileVerInfo(probe);
    ASSERT_EQ(e.size(), 13) << "no version block in " << probe.toStdString();
    EXPECT_EQ(e[2], QStringLiteral("FileVersion: 1.00.0015"));
    EXPECT_EQ(e[6], QStringLiteral("ProductName: 오르벨 검사 도구"));
    EXPECT_EQ(e[8], QStringLiteral("Comments: a=b, c"));
    EXPECT_EQ(e[12], QStringLiteral("Language: Korean"));
    EXPECT_EQ(GetFileVer(probe, true, true), QStringLiteral("1.00.15"));

    QProcess run;
    run.start(probe, {});
    ASSERT_TRUE(run.waitForFinished(10000));
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_EQ(run.readAllStandardOutput().trimmed(), QByteArray("stamped probe runs"));

    // Cut copies of the executable never crash the reader.
    QFile f(probe);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray elf = f.readAll();
    const QByteArray block = ExtractVersionBlock(elf);
    ASSERT_FALSE(block.isEmpty());
    for (qsizetype n = 0; n < elf.size(); n += 97) {
        const QByteArray got = ExtractVersionBlock(elf.left(n));
        EXPECT_TRUE(got.isEmpty() || got == block) << n;
    }
    EXPECT_TRUE(ExtractVersionBlock(elf.left(elf.size() - 1)).isEmpty());  // the section table is at the end
}

TEST(ElfImage, ThirtyTwoBitAndBigEndianObjects) {
    QTemporaryDir dir;
    const QByteArray block = BuildVersionBlock(kStrings);
    const QString in = dir.filePath(QStringLiteral("block.bin"));
    QFile f(in);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(block);
    f.close();
    for (const char* target : {"elf32-little", "elf32-big", "elf64-big"}) {
        const QString out = dir.filePath(QString::fromLatin1(target) + QStringLiteral(".o"));
        QProcess objcopy;
        objcopy.start(QStringLiteral(ORVEL_OBJCOPY),
                      {QStringLiteral("-I"), QStringLiteral("binary"), QStringLiteral("-O"), QString::fromLatin1(target),
                       QStringLiteral("--rename-section"), QStringLiteral(".data=.orvel_version"), in, out});
        ASSERT_TRUE(objcopy.waitForFinished(10000));
        ASSERT_EQ(objcopy.exitCode(), 0) << objcopy.readAllStandardError().constData();
        EXPECT_EQ(ReadVersionBlock(out), block) << target;
    }
}

}  // namespace
