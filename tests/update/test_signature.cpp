// The signature check against signatures made by Debian's minisign (kept in
// tests/data/update-key) and by the tests' own signer.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "testsigning.h"
#include "update/signature.h"

using update::Expectation;
using update::SignatureCheck;
using update::Verdict;

namespace {

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(content);
}

Verdict check(const QByteArray& sig, const QByteArray& content, const Expectation& expect,
              const QByteArray& key = QByteArray()) {
    SignatureCheck c(sig, expect, key);
    // Fed in uneven pieces, as a download arrives.
    for (qsizetype at = 0; at < content.size(); at += 7) c.feed(content.constData() + at, qMin<qsizetype>(7, content.size() - at));
    return c.finish();
}

const QByteArray kSample = contentOf(testsign::KeyDir() + QStringLiteral("/sample.bin"));
const QByteArray kMinisign = contentOf(testsign::KeyDir() + QStringLiteral("/sample.bin.minisig"));
const QByteArray kMinisignLegacy = contentOf(testsign::KeyDir() + QStringLiteral("/sample.bin.legacy.minisig"));
const Expectation kSampleRelease{QStringLiteral("sample.bin"), 5, 5};

}  // namespace

// Both forms that minisign writes: the digest of the file ("ED", its
// default) and the file itself ("Ed", -l).
TEST(Signature, MinisignSignaturesOfTheTestKeyAreAcceptedForTheirFileAndRevisionOnly) {
    for (const QByteArray& sig : {kMinisign, kMinisignLegacy}) {
        SCOPED_TRACE(sig.split('\n').value(1).left(2).toStdString());
        SignatureCheck c(sig, kSampleRelease);
        EXPECT_EQ(c.early(), Verdict::Accepted);
        EXPECT_EQ(c.revision(), 5);
        EXPECT_EQ(check(sig, kSample, kSampleRelease), Verdict::Accepted);
        EXPECT_EQ(check(sig, kSample, {QStringLiteral("Quendrel.exe")}), Verdict::WrongFile);
        EXPECT_EQ(check(sig, kSample, {QStringLiteral("sample.bin"), 6}), Verdict::WrongRevision);
        EXPECT_EQ(check(sig, kSample, {QStringLiteral("sample.bin"), 0, 4}), Verdict::WrongRevision);
        // The same signature under another public key.
        EXPECT_EQ(check(sig, kSample, kSampleRelease, testsign::LoadKey(QStringLiteral("other")).publicLine),
                  Verdict::OtherKey);

        // One byte changed, one byte more, one byte less.
        QByteArray changed = kSample;
        changed[3] = static_cast<char>(changed[3] ^ 1);
        EXPECT_EQ(check(sig, changed, kSampleRelease), Verdict::BadSignature);
        EXPECT_EQ(check(sig, kSample + "x", kSampleRelease), Verdict::BadSignature);
        EXPECT_EQ(check(sig, kSample.chopped(1), kSampleRelease), Verdict::BadSignature);

        // A signed comment edited afterwards, or a signature moved to another
        // comment: the global signature no longer holds.
        QByteArray raised = sig;
        raised.replace("revision=5", "revision=9");
        EXPECT_EQ(check(raised, kSample, {QStringLiteral("sample.bin")}), Verdict::BadSignature);
        QByteArray renamed = sig;
        renamed.replace("file=sample.bin", "file=Quendrel.exe");
        EXPECT_EQ(check(renamed, kSample, {QStringLiteral("Quendrel.exe")}), Verdict::BadSignature);
    }
    EXPECT_EQ(check("garbage", kSample, kSampleRelease), Verdict::Malformed);
    EXPECT_EQ(check(QByteArray(), kSample, kSampleRelease), Verdict::Malformed);
}

TEST(Signature, CommentsThatAreNoReleaseStampAreRefused) {
    const auto& key = testsign::LoadKey(QStringLiteral("test"));
    EXPECT_EQ(check(testsign::Sign(kSample, "timestamp:1700000000\tfile:sample.bin", key), kSample, kSampleRelease),
              Verdict::NotAStamp);
    EXPECT_EQ(check(testsign::Sign(kSample, "file=sample.bin revision=5 extra", key), kSample, kSampleRelease),
              Verdict::NotAStamp);
    EXPECT_EQ(check(testsign::SignRelease(kSample, QStringLiteral("sample.bin"), 5), kSample, kSampleRelease),
              Verdict::Accepted);
    EXPECT_EQ(check(testsign::Sign(kSample, "file=sample.bin revision=5", key, false), kSample, kSampleRelease),
              Verdict::Accepted);
}

TEST(Signature, VerifyFileReadsTheSignatureBesideTheFile) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("sample.bin"));
    const QString sig = file + QStringLiteral(".minisig");
    writeFile(file, kSample);
    EXPECT_EQ(update::VerifyFile(file, kSampleRelease), Verdict::NoSignature);
    writeFile(sig, "untrusted comment: x\nnot base64\n");
    EXPECT_EQ(update::VerifyFile(file, kSampleRelease), Verdict::Malformed);
    writeFile(sig, kMinisign);
    qint32 revision = -1;
    EXPECT_EQ(update::VerifyFile(file, kSampleRelease, &revision), Verdict::Accepted);
    EXPECT_EQ(revision, 5);
    // Names are compared the way the system compares them.
#ifdef _WIN32
    EXPECT_EQ(update::VerifyFile(file, {QStringLiteral("SAMPLE.BIN")}), Verdict::Accepted);
#else
    EXPECT_EQ(update::VerifyFile(file, {QStringLiteral("SAMPLE.BIN")}), Verdict::WrongFile);
#endif

    // A file past the limit is not read at all (a sparse file of that size).
    QFile big(file);
    ASSERT_TRUE(big.open(QIODevice::ReadWrite));
    ASSERT_TRUE(big.resize(update::kProgramMaxBytes + 1));
    big.close();
    EXPECT_EQ(update::VerifyFile(file, kSampleRelease), Verdict::TooLarge);
    QFile::remove(file);
    EXPECT_EQ(update::VerifyFile(file, kSampleRelease), Verdict::Unreadable);
}

#ifndef _WIN32
// What the tests' signer makes, minisign itself accepts: the tests serve
// what a release would.
TEST(Signature, MinisignAcceptsTheTestSignersSignatures) {
    const QString minisign = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (minisign.isEmpty()) GTEST_SKIP() << "minisign is not installed (scripts/install-deps)";
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("sample.bin"));
    writeFile(file, kSample);
    for (const bool prehashed : {true, false}) {
        writeFile(file + QStringLiteral(".minisig"),
                  testsign::Sign(kSample, "file=sample.bin revision=5", testsign::LoadKey(QStringLiteral("test")),
                                 prehashed));
        QProcess p;
        p.start(minisign, {QStringLiteral("-V"), QStringLiteral("-q"), QStringLiteral("-p"),
                           testsign::KeyDir() + QStringLiteral("/test.pub"), QStringLiteral("-m"), file});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << prehashed << p.readAllStandardError().toStdString();
    }
}
#endif
