// The browser's listing, download and deletion against the older FTP peers
// that hold their names in code page 949 (no UTF8 feature, no MLSD; LIST in
// the DOS or the unix form).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <string>

#include <curl/curl.h>

#include "browser/download.h"
#include "browser/listing.h"
#include "ftpscratch.h"
#include "net/inet.h"
#include "platform/textcodec.h"
#include "testsupport.h"

using namespace testsupport;

namespace {

const QString kDir = QStringLiteral("as_files/");
const QString kBlankName = QStringLiteral("견적 목록.txt");
// B0 DF C0 ".txt": "견", then a lead byte without its second byte.
const QString kOddName = QStringLiteral("견\uFFFD.txt");

struct Peer {
    const testenv::FtpPeer* server;
    // Lines as the window shows them (local time UTC+9).
    std::vector<QString> lines;
};

const Peer kPeers[] = {
    {&testenv::ftp::kDos949,
     {QStringLiteral("견적 목록.txt 2024-02-02 13시 10분         1 Kb"),
      QStringLiteral("견적서_2024.xlsx 2024-02-01 10시 30분         1 Kb"),
      QStringLiteral("견\uFFFD.txt 2024-02-03 14시 20분         0 Kb"),
      // 12:05AM, 12:00PM and 11:59PM of the DOS form.
      QStringLiteral("report.zip 2024-03-07 09시 05분    12,056 Kb"),
      QStringLiteral("big5g.iso 2024-03-01 21시 00분 5,242,880 Kb"),
      QStringLiteral("utc2359.txt 2024-03-08 08시 59분         0 Kb")}},
    {&testenv::ftp::kUnix949,
     {QStringLiteral("견적 목록.txt 2024-02-02 09시 00분         1 Kb"),
      QStringLiteral("견적서_2024.xlsx 2024-02-01 09시 00분         1 Kb"),
      QStringLiteral("견\uFFFD.txt 2024-02-03 09시 00분         0 Kb"),
      QStringLiteral("with blank.txt 2024-01-15 09시 00분         0 Kb")}},
};

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The peer's sample digest of a file, from its manifest.
QByteArray manifestSha(const QByteArray& name) {
    QFile f(QString::fromUtf8(testenv::ftp::kCp949Manifest));
    if (!f.open(QIODevice::ReadOnly)) return {};
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.endsWith("  " + name)) return line.left(line.indexOf(' '));
    return {};
}

// A file of the test's own in the peer's folder, under the raw bytes of its
// name: code page 949, or a byte that is none.
struct PeerFile : testsupport::FtpScratchFile {
    PeerFile(const Peer& peer, const QByteArray& name, std::string body = "to be deleted")
        : FtpScratchFile("ftp://" + std::string(testenv::kHost) + ":" + std::to_string(peer.server->port) + "/as_files/",
                         peer.server->user, peer.server->password, name, std::move(body)) {}
};

// A session as the window opens it.
struct Session {
    net::HInternet root = net::InternetOpenA(QStringLiteral("ORVEL"), net::INTERNET_OPEN_TYPE_DIRECT, QString(),
                                               QString(), net::INTERNET_FLAG_NO_CACHE_WRITE);
    net::HInternet conn;
    explicit Session(const testenv::FtpPeer& p)
        : conn(net::InternetConnectA(root.get(), QString::fromUtf8(testenv::kHost), p.port,
                                      QString::fromUtf8(p.user), QString::fromUtf8(p.password),
                                      net::INTERNET_SERVICE_FTP, 0, 0)) {}
    std::vector<browser::ListLine> list() { return browser::ReadListLines(conn.get(), kDir, QLatin1Char(',')); }
    // The lines that show `name`.
    std::vector<browser::ListLine> linesOf(const QString& name) {
        std::vector<browser::ListLine> out;
        for (browser::ListLine& l : list())
            if (l.name == name) out.push_back(std::move(l));
        return out;
    }
};

class Cp949Peer : public ::testing::TestWithParam<Peer> {
protected:
    void SetUp() override {
        qputenv("TZ", "UTC-9");
        ::tzset();
    }
    void TearDown() override {
        qputenv("TZ", "UTC");
        ::tzset();
    }
};

}  // namespace

TEST_P(Cp949Peer, ListShowsTheNamesAsText) {
    Session s(*GetParam().server);
    ASSERT_TRUE(s.conn);
    std::vector<QString> shown;
    for (const browser::ListLine& l : s.list()) shown.push_back(l.text);
    for (const QString& line : GetParam().lines)
        EXPECT_NE(std::find(shown.begin(), shown.end(), line), shown.end()) << line.toStdString();
    EXPECT_EQ(shown.size(), 12u);
}

TEST_P(Cp949Peer, DownloadsAndDeletesByTheServersBytes) {
    ScriptedMsgBoxes boxes;
    Session s(*GetParam().server);
    // Downloads arrive under their text names with the bytes of their lines.
    QTemporaryDir local;
    for (const QString& name : {kBlankName, kOddName}) {
        const auto lines = s.linesOf(name);
        ASSERT_EQ(lines.size(), 1u) << name.toStdString();
        const browser::LineInUse use(s.conn.get(), kDir, name, lines[0].rawName);
        EXPECT_TRUE(browser::FileDownLoad(s.conn.get(), kDir + name, local.path(), QString())) << name.toStdString();
    }
    EXPECT_EQ(QCryptographicHash::hash(contentOf(local.filePath(kBlankName)), QCryptographicHash::Sha256).toHex(),
              manifestSha(kBlankName.toUtf8()));
    EXPECT_EQ(contentOf(local.filePath(kOddName)), QByteArray("odd-bytes-name\r\n"));
    EXPECT_TRUE(boxes.shown().empty());

    // Deletions name the file by its line's bytes, whether or not they
    // decode; two names that show the same text each delete their own file.
    const QString p = QString::number(QCoreApplication::applicationPid());
    const QString blankName = QStringLiteral("삭제 시험 %1.txt").arg(p), oddName = QStringLiteral("견\uFFFD.%1.txt").arg(p),
                  twinName = QStringLiteral("쌍\uFFFD.%1.txt").arg(p);
    const QByteArray tail = "." + p.toLatin1() + ".txt";
    PeerFile blank(GetParam(), platform::ToCp949(blankName));
    PeerFile odd(GetParam(), platform::ToCp949(QStringLiteral("견")) + "\xc0" + tail);
    const QByteArray twinBytes[] = {platform::ToCp949(QStringLiteral("쌍")) + "\xc0" + tail,
                                    platform::ToCp949(QStringLiteral("쌍")) + "\xc1" + tail};
    PeerFile twinA(GetParam(), twinBytes[0], twinBytes[0].toHex().toStdString()),
        twinB(GetParam(), twinBytes[1], twinBytes[1].toHex().toStdString());
    const auto deleteLine = [&s](const browser::ListLine& l) {
        const browser::LineInUse use(s.conn.get(), kDir, l.name, l.rawName);
        return browser::DeleteRemoteFile(s.conn.get(), kDir + l.name);
    };
    // Without its line, a name the code page cannot spell names nothing.
    EXPECT_FALSE(browser::DeleteRemoteFile(s.conn.get(), kDir + oddName));
    EXPECT_TRUE(odd.exists());
    for (const QString& name : {blankName, oddName}) {
        const auto lines = s.linesOf(name);
        ASSERT_EQ(lines.size(), 1u) << name.toStdString();
        EXPECT_TRUE(deleteLine(lines[0])) << name.toStdString();
    }
    EXPECT_FALSE(blank.exists());
    EXPECT_FALSE(odd.exists());
    auto twins = s.linesOf(twinName);
    ASSERT_EQ(twins.size(), 2u);
    for (const browser::ListLine& l : twins) {
        const browser::LineInUse use(s.conn.get(), kDir, l.name, l.rawName);
        EXPECT_TRUE(browser::FileDownLoad(s.conn.get(), kDir + l.name, local.path(), QString()));
        EXPECT_EQ(contentOf(local.filePath(twinName)), l.rawName.toHex());
    }
    EXPECT_TRUE(deleteLine(twins[0]));
    EXPECT_NE(twinA.exists(), twinB.exists());
    EXPECT_TRUE(deleteLine(twins[1]));
    EXPECT_FALSE(twinA.exists() || twinB.exists());
}

// The listing is read in one encoding: a name whose code-page-949 bytes are
// valid UTF-8 by chance ("체크": C3 BC C5 A9, "üũ" in UTF-8) still reads as
// Hangul beside the others.
TEST_P(Cp949Peer, NamesThatAreUtf8ByChanceReadAsTheCodePage) {
    const QString name = QStringLiteral("체크.%1.hwp").arg(QCoreApplication::applicationPid());
    const QByteArray bytes = platform::ToCp949(name);
    ASSERT_TRUE(bytes.isValidUtf8());
    PeerFile check(GetParam(), bytes);
    Session s(*GetParam().server);
    const auto lines = s.linesOf(name);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rawName, bytes);
    EXPECT_TRUE(s.linesOf(QString::fromUtf8(bytes)).empty());
}

// Valid UTF-8 names are not held back without bound: past the limit (3
// here) they count as UTF-8, and each later name is read on its own, the
// peer's code-page-949 names as Hangul still.
TEST_P(Cp949Peer, ALongRunOfUtf8NamesIsNotHeldBackToTheEnd) {
    const net::Limits saved = net::CurrentLimits();
    net::Limits few = saved;
    few.listingHeldNames = 3;
    net::SetLimits(few);
    // "a_" sorts them before the peer's Hangul names, after its first ASCII ones.
    const QString p = QString::number(QCoreApplication::applicationPid());
    std::vector<QString> names;
    std::vector<std::unique_ptr<PeerFile>> files;
    for (int i = 1; i <= 4; ++i) {
        names.push_back(QStringLiteral("a_\u00e9%1.%2.txt").arg(i).arg(p));
        files.push_back(std::make_unique<PeerFile>(GetParam(), names.back().toUtf8()));
        EXPECT_TRUE(files.back()->put());
    }
    Session s(*GetParam().server);
    for (const QString& name : names) EXPECT_EQ(s.linesOf(name).size(), 1u) << name.toStdString();
    for (const QString& name : {kBlankName, kOddName, QStringLiteral("report.zip")})
        EXPECT_EQ(s.linesOf(name).size(), 1u) << name.toStdString();
    net::SetLimits(saved);
}

INSTANTIATE_TEST_SUITE_P(DosAndUnix, Cp949Peer, ::testing::ValuesIn(kPeers),
                         [](const auto& p) { return p.index == 0 ? "Dos" : "Unix"; });
