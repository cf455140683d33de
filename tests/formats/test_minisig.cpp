// Reading minisign signature files, public keys and release stamps from
// untrusted bytes. The signature files here were made by Debian's minisign.
#include <gtest/gtest.h>

#include <QFile>

#include "formats/minisig.h"

using formats::ParseMinisig;
using formats::ParseMinisignPublicKey;
using formats::ParseReleaseStamp;

namespace {

QByteArray keyFile(const char* name) {
    QFile f(QStringLiteral(ORVEL_UPDATE_KEY_DIR "/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QByteArray kSig = keyFile("sample.bin.minisig");
const QByteArray kLegacySig = keyFile("sample.bin.legacy.minisig");

QList<QByteArray> linesOf(const QByteArray& sig) { return sig.trimmed().split('\n'); }
QByteArray joined(const QList<QByteArray>& lines) { return lines.join('\n') + '\n'; }

}  // namespace

TEST(Minisig, ReadsWhatMinisignWrites) {
    ASSERT_FALSE(kSig.isEmpty());
    const auto pub = ParseMinisignPublicKey(keyFile("test.pub").split('\n').value(1));
    ASSERT_TRUE(pub);
    EXPECT_EQ(pub->key.size(), 32);

    const auto sig = ParseMinisig(kSig);
    ASSERT_TRUE(sig);
    EXPECT_TRUE(sig->prehashed);
    EXPECT_EQ(sig->keyId, pub->keyId);
    EXPECT_EQ(sig->signature.size(), 64);
    EXPECT_EQ(sig->globalSignature.size(), 64);
    EXPECT_EQ(sig->trustedComment, QByteArray("file=sample.bin revision=5"));

    const auto legacy = ParseMinisig(kLegacySig);
    ASSERT_TRUE(legacy);
    EXPECT_FALSE(legacy->prehashed);
    EXPECT_EQ(legacy->keyId, pub->keyId);

    // Line breaks as a Windows copy or an editor may leave them.
    QByteArray crlf = kSig;
    crlf.replace("\n", "\r\n");
    const auto fromCrlf = ParseMinisig(crlf);
    ASSERT_TRUE(fromCrlf);
    EXPECT_EQ(fromCrlf->trustedComment, sig->trustedComment);
    EXPECT_EQ(fromCrlf->signature, sig->signature);
    EXPECT_TRUE(ParseMinisig(kSig.chopped(1)));
}

TEST(Minisig, RefusesAnythingButOneWellFormedSignature) {
    const QList<QByteArray> l = linesOf(kSig);
    ASSERT_EQ(l.size(), 4);
    QByteArray alg = QByteArray::fromBase64(l[1]);
    alg[1] = 'x';
    QByteArray shortSig = QByteArray::fromBase64(l[1]).chopped(1);
    const std::vector<std::pair<const char*, QByteArray>> bad = {
        {"empty", QByteArray()},
        {"three lines", joined(l.mid(0, 3))},
        {"a fifth line", joined(l) + "trusted comment: more\n"},
        {"a blank line between", joined({l[0], QByteArray(), l[1], l[2], l[3]})},
        {"no untrusted prefix", joined({"comment: x", l[1], l[2], l[3]})},
        {"no trusted prefix", joined({l[0], l[1], "trusted: " + l[2].mid(17), l[3]})},
        {"lines swapped", joined({l[0], l[3], l[2], l[1]})},
        {"unknown algorithm", joined({l[0], alg.toBase64(), l[2], l[3]})},
        {"signature a byte short", joined({l[0], shortSig.toBase64(), l[2], l[3]})},
        {"global signature a byte short", joined({l[0], l[1], l[2], QByteArray::fromBase64(l[3]).chopped(1).toBase64()})},
        {"base64 without padding", joined({l[0], l[1], l[2], QByteArray(l[3]).replace("=", "")})},
        {"base64 with a blank", joined({l[0], l[1].left(10) + " " + l[1].mid(10), l[2], l[3]})},
        {"base64 with a foreign character", joined({l[0], l[1].left(10) + "*" + l[1].mid(11), l[2], l[3]})},
        {"a NUL in a comment", joined({l[0] + QByteArray(1, '\0'), l[1], l[2], l[3]})},
        {"a lone CR in the trusted comment", joined({l[0], l[1], l[2] + "\rx", l[3]})},
        {"longer than a signature file may be", joined({l[0] + QByteArray(4096, 'x'), l[1], l[2], l[3]})},
    };
    for (const auto& [what, bytes] : bad) EXPECT_FALSE(ParseMinisig(bytes)) << what;

    EXPECT_FALSE(ParseMinisignPublicKey(l[1]));  // a signature line is no key
    EXPECT_FALSE(ParseMinisignPublicKey("untrusted comment: minisign public key"));
    EXPECT_FALSE(ParseMinisignPublicKey(QByteArray()));
}

TEST(Minisig, ReleaseStampNamesOneFileAndOneRevision) {
    const auto plain = ParseReleaseStamp("file=Quendrel.exe revision=12");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->file, QStringLiteral("Quendrel.exe"));
    EXPECT_EQ(plain->revision, 12);
    EXPECT_EQ(ParseReleaseStamp("file=a revision=0")->revision, 0);
    EXPECT_EQ(ParseReleaseStamp("file=a revision=2147483647")->revision, 2147483647);
    EXPECT_EQ(ParseReleaseStamp(formats::MakeReleaseStamp(QStringLiteral("오르벨.exe"), 3))->file,
              QStringLiteral("오르벨.exe"));

    for (const QByteArray& bad : {
             QByteArray("file=a revision=2147483648"), QByteArray("file=a revision=99999999999999999999"),
             QByteArray("file=a revision=012"), QByteArray("file=a revision=-1"), QByteArray("file=a revision=+1"),
             QByteArray("file=a revision="), QByteArray("file=a revision=1x"), QByteArray("file= revision=1"),
             QByteArray("file=. revision=1"), QByteArray("file=.. revision=1"), QByteArray("file=../a revision=1"),
             QByteArray("file=a/b revision=1"), QByteArray("file=a\\b revision=1"), QByteArray("file=c:a revision=1"),
             QByteArray("file=a\tb revision=1"), QByteArray("file=a  revision=1"), QByteArray("file=a revision=1 "),
             QByteArray("revision=1 file=a"), QByteArray("file=a"), QByteArray("timestamp:1700000000\tfile:a"),
             QByteArray("file=\xff\xfe revision=1"), QByteArray()})
        EXPECT_FALSE(ParseReleaseStamp(bad)) << bad.toStdString();
}
