// The internet calls and the update fetch against real server programs
// (scripts/peers): ProFTPD with UTF-8 names and with code-page-949 names,
// Pure-FTPd, and nginx as the update server. Each serves the sample files of
// the main FTP server from a home of its own. A peer that does not run is
// skipped, so a machine without them still passes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTimeZone>
#include <algorithm>
#include <map>
#include <string>

#include <curl/curl.h>

#include "formats/ftplisting.h"
#include "ftpscratch.h"
#include "net/inet.h"
#include "platform/textcodec.h"
#include "testsupport.h"
#include "update/webfetch.h"

using namespace net;

namespace {

const QString kDir = QStringLiteral("as_files/");

// KEY=VALUE lines of scripts/lib/peers.conf.
int peerPort(const char* key) {
    static const std::map<QByteArray, QByteArray> conf = [] {
        std::map<QByteArray, QByteArray> out;
        QFile f(QStringLiteral(ORVEL_PEERS_CONF));
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n')) {
                const qsizetype eq = line.indexOf('=');
                if (eq > 0 && !line.startsWith('#')) out[line.left(eq)] = line.mid(eq + 1).trimmed();
            }
        return out;
    }();
    const auto it = conf.find(key);
    return it == conf.end() ? 0 : it->second.toInt();
}

// Whether anything accepts connections on the port.
bool listening(int port) {
    CURL* c = curl_easy_init();
    const std::string url = "http://" + std::string(testenv::kHost) + ":" + std::to_string(port) + "/";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    const bool ok = port > 0 && curl_easy_perform(c) == CURLE_OK;
    curl_easy_cleanup(c);
    return ok;
}

#define SKIP_UNLESS_LISTENING(name, port)                                                                  \
    if (!listening(port))                                                                                  \
    GTEST_SKIP() << name << " does not run on port " << (port) << ": start the peers with `scripts/peers start`"

struct FtpServer {
    const char* name;
    const char* portKey;
    bool cp949;      // names are code page 949 bytes on the wire and on disk
    bool listLocal;  // LIST gives the server's local time (UTC+9 there), not UTC
};

const FtpServer kFtpPeers[] = {
    {"proftpd", "PEER_PROFTPD_PORT", false, false},
    {"proftpd949", "PEER_PROFTPD949_PORT", true, false},
    {"proftpdnoenc", "PEER_PROFTPDNOENC_PORT", true, false},
    {"pureftpd", "PEER_PUREFTPD_PORT", false, true},
};

template <class Setup>
CURLcode curlFtp(const std::string& url, Setup setup) {
    return testsupport::CurlFtp(url, testenv::ftp::kUser, testenv::ftp::kPassword, setup);
}

std::string folderUrl(int port) {
    return "ftp://" + std::string(testenv::kHost) + ":" + std::to_string(port) + "/as_files/";
}

// Sample files every FTP peer holds (scripts/lib/ftpfiles.py).
struct Sample {
    const char* name;
    qint64 size;
    int y, mo, d, h, mi, s;  // last change, UTC
    QDateTime when() const { return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc()); }
};
const Sample kSamples[] = {
    {"report.zip", 12345678, 2024, 3, 7, 0, 5, 30},
    {"견적서_2024.xlsx", 1500, 2024, 2, 1, 1, 30, 0},
    {"with blank.txt", 511, 2024, 1, 15, 3, 0, 0},
    {"empty.txt", 0, 2024, 1, 15, 3, 4, 0},
    // Late in the UTC day: the next day where the server's clock is UTC+9.
    {"utc2359.txt", 100, 2024, 3, 7, 23, 59, 59},
    {"big5g.iso", Q_INT64_C(5368709120), 2024, 3, 1, 12, 0, 0},
};

// sha256 of each sample file as the peer was given it.
QByteArray sampleSha(const char* peer, const QString& name) {
    QFile f(QStringLiteral("%1/peers/manifest-%2.txt").arg(QString::fromUtf8(testenv::kEnvDir), QString::fromUtf8(peer)));
    if (!f.open(QIODevice::ReadOnly)) return "<no manifest>";
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.endsWith("  " + name.toUtf8())) return line.left(line.indexOf(' '));
    return "<not in manifest>";
}

struct Session {
    HInternet root = InternetOpenA(QStringLiteral("ORVEL"), INTERNET_OPEN_TYPE_DIRECT, QString(), QString(),
                                   INTERNET_FLAG_NO_CACHE_WRITE);
    HInternet conn;
    explicit Session(int port, quint32 flags = 0)
        : conn(InternetConnectA(root.get(), QString::fromUtf8(testenv::kHost), port,
                                QString::fromUtf8(testenv::ftp::kUser), QString::fromUtf8(testenv::ftp::kPassword),
                                INTERNET_SERVICE_FTP, flags, 0)) {}
    std::map<QString, FindData> list() {
        std::map<QString, FindData> out;
        FindData fd;
        HInternet find = FtpFindFirstFileA(conn.get(), kDir, fd, INTERNET_FLAG_RELOAD, 0);
        for (bool more = find != nullptr; more; more = InternetFindNextFileA(find.get(), fd)) out[fd.cFileName] = fd;
        return out;
    }
    // The whole file as the window reads it: 1024-byte blocks, then the rest.
    std::optional<QByteArray> download(const QByteArray& rawPath) {
        return readAll(FtpOpenFileRaw(conn.get(), rawPath, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
    }
    static std::optional<QByteArray> readAll(HInternet file) {
        if (!file) return std::nullopt;
        const qint64 size = FtpGetFileSize64(file.get());
        QByteArray data;
        char buf[1024];
        while (data.size() < size) {
            const auto want = static_cast<quint32>(std::min<qint64>(size - data.size(), 1024));
            quint32 got = 0;
            if (!InternetReadFile(file.get(), buf, want, &got) || got != want) return std::nullopt;
            data.append(buf, got);
        }
        quint32 got = 1;
        if (!InternetReadFile(file.get(), buf, sizeof buf, &got) || got != 0) return std::nullopt;
        return data;
    }
};

// A file of the test's own on the peer.
struct ScratchFile : testsupport::FtpScratchFile {
    ScratchFile(int port, const QByteArray& wireName)
        : FtpScratchFile(folderUrl(port), testenv::ftp::kUser, testenv::ftp::kPassword, wireName) {}
};

void PrintTo(const FtpServer& s, std::ostream* os) { *os << s.name; }

class FtpPeer : public ::testing::TestWithParam<FtpServer> {
protected:
    void SetUp() override {
        port_ = peerPort(GetParam().portKey);
        SKIP_UNLESS_LISTENING(GetParam().name, port_);
    }
    // A name as this peer's disk and wire spell it.
    QByteArray wire(const QString& name) const {
        return GetParam().cp949 ? platform::ToCp949(name) : name.toUtf8();
    }
    int port_ = 0;
};

}  // namespace

TEST_P(FtpPeer, ListingGivesNamesSizesAndTimes) {
    for (const quint32 flags : {0u, INTERNET_FLAG_PASSIVE}) {
        Session mode(port_, flags);
        ASSERT_TRUE(mode.conn);
        const auto entries = mode.list();
        std::vector<QString> names;
        for (const auto& [name, fd] : entries) names.push_back(name);
        const size_t extra = GetParam().cp949 ? 2 : 0;  // "견적 목록.txt" and a name cut inside a character
        EXPECT_EQ(entries.size(), 10 + extra) << testing::PrintToString(names);
        EXPECT_FALSE(entries.count(QStringLiteral(".")) || entries.count(QStringLiteral("..")));
        for (const Sample& e : kSamples) {
            const QString name = QString::fromUtf8(e.name);
            ASSERT_TRUE(entries.count(name)) << e.name << " among " << testing::PrintToString(names);
            const FindData& fd = entries.at(name);
            EXPECT_EQ(fd.nFileSize, e.size) << e.name;
            EXPECT_EQ(fd.ftLastWriteTime, e.when()) << e.name;
            EXPECT_EQ(fd.rawName, wire(name)) << e.name;
            EXPECT_FALSE(fd.isDirectory()) << e.name;
        }
        const FindData& big = entries.at(QStringLiteral("big5g.iso"));
        EXPECT_EQ(big.nFileSizeHigh, 1u);
        EXPECT_EQ(big.nFileSizeLow, 1073741824u);
        ASSERT_TRUE(entries.count(QStringLiteral("sub")));
        EXPECT_TRUE(entries.at(QStringLiteral("sub")).isDirectory());
        if (GetParam().cp949) {
            EXPECT_TRUE(entries.count(QStringLiteral("견적 목록.txt")));
            EXPECT_TRUE(entries.count(QStringLiteral("견\uFFFD.txt")));
        }
    }
}

TEST_P(FtpPeer, DownloadsDeliverTheExactBytes) {
    Session s(port_);
    ASSERT_TRUE(s.conn);
    for (const char* n : {"report.zip", "견적서_2024.xlsx", "with blank.txt", "1536.bin", "2048.bin", "empty.txt"}) {
        const QString name = QString::fromUtf8(n);
        // By the text name where the server's encoding is known (a server
        // that lists UTF8 and refuses it leaves only the listed bytes), and
        // by the listed bytes.
        const QByteArray sha = sampleSha(GetParam().name, name);
        if (!GetParam().cp949 || wire(name) == name.toUtf8()) {
            const auto byText =
                Session::readAll(FtpOpenFileA(s.conn.get(), kDir + name, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0));
            ASSERT_TRUE(byText) << n;
            EXPECT_EQ(QCryptographicHash::hash(*byText, QCryptographicHash::Sha256).toHex(), sha) << n;
        }
        const auto data = s.download(wire(kDir + name));
        ASSERT_TRUE(data) << n;
        EXPECT_EQ(QCryptographicHash::hash(*data, QCryptographicHash::Sha256).toHex(), sha) << n;
    }
    // The 5 GiB file: its whole size, and its beginning.
    HInternet big = FtpOpenFileRaw(s.conn.get(), "as_files/big5g.iso", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
    ASSERT_TRUE(big);
    quint32 high = 0;
    EXPECT_EQ(FtpGetFileSize(big.get(), &high), 1073741824u);
    EXPECT_EQ(high, 1u);
    QByteArray block(1024, 'x');
    quint32 got = 0;
    EXPECT_TRUE(InternetReadFile(big.get(), block.data(), 1024, &got) && got == 1024);
    EXPECT_EQ(block, QByteArray(1024, '\0'));
    InternetCloseHandle(big);

    // Neither a folder nor a missing file opens, and the session goes on.
    EXPECT_FALSE(s.download("as_files/sub"));
    EXPECT_FALSE(s.download("as_files/no_such_file.bin"));
    EXPECT_TRUE(s.download("as_files/2048.bin"));
}

// The classic listing, for servers without MLSD: every line the peer sends
// is understood, with the names, sizes and days of the files.
TEST_P(FtpPeer, ListLinesParse) {
    std::string body;
    ASSERT_EQ(curlFtp(folderUrl(port_), [&body](CURL* c) {
                  curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
                  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char* p, size_t s, size_t n, void* d) {
                      static_cast<std::string*>(d)->append(p, s * n);
                      return s * n;
                  });
              }),
              CURLE_OK);
    const QByteArray listing = QByteArray::fromStdString(body);
    const NameDecoder decode = GetParam().cp949 ? platform::FromCp949 : DecodeUtf8Name;
    std::map<QString, FtpEntry> entries;
    for (FtpEntry& e : ParseListing(listing, false, QDateTime::currentDateTimeUtc(), decode)) entries[e.name] = e;
    EXPECT_EQ(entries.size(), static_cast<size_t>(listing.count('\n'))) << "a line not understood in\n" << body;
    // Older than half a year: LIST gives the day only.
    const int shift = GetParam().listLocal ? 9 * 3600 : 0;
    for (const Sample& e : kSamples) {
        const QString name = QString::fromUtf8(e.name);
        ASSERT_TRUE(entries.count(name)) << e.name << " in\n" << body;
        EXPECT_EQ(entries.at(name).size, e.size) << e.name;
        EXPECT_EQ(entries.at(name).mtimeUtc, QDateTime(e.when().addSecs(shift).date(), QTime(0, 0), QTimeZone::utc()))
            << e.name;
    }
    EXPECT_TRUE(entries.count(QStringLiteral("sub")) && entries.at(QStringLiteral("sub")).isDir);
}

TEST_P(FtpPeer, DeletesOnlyWhatItNames) {
    Session s(port_);
    ASSERT_TRUE(s.conn);
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString blank = QStringLiteral("삭제 시험 %1.txt").arg(pid), plain = QStringLiteral("del_%1.txt").arg(pid);
    ScratchFile a(port_, wire(blank)), b(port_, wire(plain)), keep(port_, wire(QStringLiteral("keep_%1.txt").arg(pid)));
    ASSERT_TRUE(a.put() && b.put() && keep.put());
    // By the listed bytes (Hangul and a blank), as the window does, and by a text name.
    const auto listed = s.list();
    ASSERT_TRUE(listed.count(blank));
    EXPECT_TRUE(FtpDeleteFileRaw(s.conn.get(), "as_files/" + listed.at(blank).rawName));
    EXPECT_FALSE(a.exists());
    EXPECT_TRUE(FtpDeleteFileA(s.conn.get(), kDir + plain));
    EXPECT_FALSE(b.exists());
    // Gone already, a folder, a line break smuggling a second command.
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), kDir + blank));
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), kDir + QStringLiteral("sub")));
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), kDir + QStringLiteral("x\r\nDELE as_files/keep_%1.txt").arg(pid)));
    EXPECT_TRUE(keep.exists());
    EXPECT_TRUE(s.list().count(QStringLiteral("report.zip")));
}

INSTANTIATE_TEST_SUITE_P(Peers, FtpPeer, ::testing::ValuesIn(kFtpPeers),
                         [](const auto& p) { return std::string(p.param.name); });

// nginx over the main update server's folder: the same answers.
// Pure-FTPd stops a listing at 10,000 entries and still answers 226
// ("Output truncated to 10000 matches"): the listing must say it is cut, or
// the window would show part of a folder as the whole. Other listings are
// whole.
TEST(PureFtpdPeer, ListingCutByTheServerIsReportedAsCut) {
    const int port = peerPort("PEER_PUREFTPD_PORT");
    SKIP_UNLESS_LISTENING("pureftpd", port);
    const QString many = QStringLiteral("%1/peers/home-pureftpd/many").arg(QString::fromUtf8(testenv::kEnvDir));
    QDir().mkpath(many);
    for (int i = 0; i < 10050; ++i) {
        QFile f(QStringLiteral("%1/f%2").arg(many).arg(i, 5, 10, QLatin1Char('0')));
        if (!f.exists()) {
            ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << f.fileName().toStdString();
        }
    }
    const auto cleanup = qScopeGuard([&many] { QDir(many).removeRecursively(); });
    Session s(port, INTERNET_FLAG_PASSIVE);
    ASSERT_TRUE(s.conn);
    int entries = 0;
    bool cut = false;
    ASSERT_TRUE(FtpListFolder(s.conn.get(), QStringLiteral("many"), [&](const FindData&) { ++entries; }, &cut));
    EXPECT_TRUE(cut);
    EXPECT_LT(entries, 10050);
    cut = true;
    ASSERT_TRUE(FtpListFolder(s.conn.get(), QStringLiteral("as_files"), [](const FindData&) {}, &cut));
    EXPECT_FALSE(cut);
}

TEST(NginxPeer, UpdateFetchAndDownloadAsFromTheMainServer) {
    const int port = peerPort("PEER_NGINX_PORT");
    SKIP_UNLESS_LISTENING("nginx", port);
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY"}) qunsetenv(name);
    const QString base = QStringLiteral("http://%1:%2%3").arg(QString::fromUtf8(testenv::kHost)).arg(port).arg(
        QString::fromUtf8(testenv::http::kUpdatePath));
    const QString dir = QString::fromUtf8(testenv::http::kUpdateDir);
    const QString stem = QStringLiteral("peer_%1_").arg(QCoreApplication::applicationPid());

    QByteArray program;
    for (int i = 0; i < 300000; ++i) program.append(static_cast<char>(i % 251));
    const struct {
        QString name;
        QByteArray content;
    } files[] = {{stem + QStringLiteral("lastver.txt"), "15\r\n"},
                 {stem + QStringLiteral("long.txt"), "0123456789abcdefghijKLMNOP"},
                 {stem + QStringLiteral("버전.txt"), "7\r\n"},
                 {stem + QStringLiteral("prog.exe"), program}};
    for (const auto& f : files) {
        QFile out(dir + f.name);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(f.content);
    }
    const auto cleanup = [&] {
        for (const auto& f : files) QFile::remove(dir + f.name);
    };
    QString url = base + files[0].name;
    EXPECT_EQ(update::ReadUrlText(url), QStringLiteral("15\r\n"));
    url = base + files[1].name;
    EXPECT_EQ(update::ReadUrlText(url), QStringLiteral("0123456789abcdefghij"));
    url = base + files[2].name;
    EXPECT_EQ(update::ReadUrlText(url), QStringLiteral("7\r\n"));
    url = base + QStringLiteral("no_such_version.txt");
    const QString page = update::ReadUrlText(url);
    EXPECT_TRUE(page.startsWith(QStringLiteral("<html>"))) << page.toStdString();  // its error page

    const QString local = QString::fromUtf8(testenv::kEnvDir) + QStringLiteral("/") + stem + QStringLiteral("dl");
    QDir().mkpath(local);
    url = base + files[3].name;
    QString target = local + QStringLiteral("/prog.exe");
    EXPECT_TRUE(update::DownloadUrlToFile(url, target));
    QFile got(target);
    EXPECT_TRUE(got.open(QIODevice::ReadOnly) && got.readAll() == program);
    got.close();
    url = base + QStringLiteral("no_such_program.exe");
    target = local + QStringLiteral("/missing.exe");
    EXPECT_FALSE(update::DownloadUrlToFile(url, target));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(update::FetchSmallResource(base + files[0].name, 100), std::optional<QByteArray>("15\r\n"));
    QDir(local).removeRecursively();
    cleanup();
}
