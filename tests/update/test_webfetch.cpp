// The web fetch against the update server of the test environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include "net/inet.h"
#include "platform/textcodec.h"
#include "tests/net/test_inet_fakehttp.h"
#include "testsupport.h"
#include "update/webfetch.h"

using update::DownloadUrlToFile;
using update::ReadUrlText;

namespace {

const QString kUpdateDir = QString::fromUtf8(testenv::http::kUpdateDir);
const QString kUpdateUrl = QString::fromUtf8(testenv::http::kUpdateUrl);

// The tests talk to their own servers, never through a proxy of the machine.
const bool kProxiesOff = [] {
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY"}) qunsetenv(name);
    return true;
}();

QString unique(const QString& base) {
    static int n = 0;
    return QStringLiteral("wf_%1_%2_%3").arg(QCoreApplication::applicationPid()).arg(++n).arg(base);
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A resource on the update server, removed at the end.
struct Resource {
    QString name;
    QString url;
    explicit Resource(const QByteArray& content) : name(unique(QStringLiteral("r.txt"))), url(kUpdateUrl + name) {
        writeFile(kUpdateDir + name, content);
    }
    ~Resource() { QFile::remove(kUpdateDir + name); }
    QString read() const {
        QString u = url;
        return ReadUrlText(u);
    }
};

// A local folder of the test's own.
struct Folder {
    QString path = QString::fromUtf8(testenv::kEnvDir) + QLatin1Char('/') + unique(QStringLiteral("dir"));
    Folder() { QDir().mkpath(path); }
    ~Folder() { QDir(path).removeRecursively(); }
    QString file(const QString& n) const { return path + QLatin1Char('/') + n; }
    QStringList entries() const { return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }
};

#ifndef _WIN32
mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}
#endif

}  // namespace

TEST(WebFetch, ReadUrlTextGivesTheFirstTwentyBytesAsText) {
    EXPECT_EQ(Resource("15\r\n").read(), QStringLiteral("15\r\n"));
    EXPECT_EQ(Resource("0123456789abcdefghijKLMNOPQRST").read(), QStringLiteral("0123456789abcdefghij"));
    EXPECT_EQ(Resource("").read(), QString());
    // Double-byte text: the 20-byte buffer is decoded whole, then cut to as
    // many characters as bytes arrived, so blanks of the buffer may remain.
    EXPECT_EQ(Resource(platform::ToCp949(QStringLiteral("가나다라\r\n"))).read(), QStringLiteral("가나다라\r\n    "));
    EXPECT_EQ(Resource(platform::ToCp949(QStringLiteral("가나다라마바사아자차카타"))).read(),
              QStringLiteral("가나다라마바사아자차"));

    // An error page's beginning is the answer (the caller's number parse rejects it).
    QString url = kUpdateUrl + QStringLiteral("no_such_version.txt");
    const QString page = ReadUrlText(url);
    EXPECT_EQ(page.size(), 20);
    EXPECT_TRUE(page.startsWith(QStringLiteral("<!DOCTYPE"))) << page.toStdString();
    url = QStringLiteral("http://%1:%2/v.txt").arg(testenv::kHost).arg(testenv::kClosedPort);
    EXPECT_EQ(ReadUrlText(url), QString());
    url = QStringLiteral("http://no-such-host.invalid/v.txt");
    EXPECT_EQ(ReadUrlText(url), QString());

    // The caller's variable gets the URL as code page 949 could carry it (Hangul does).
    url = kUpdateUrl + QStringLiteral("x\u0E01.txt");
    ReadUrlText(url);
    EXPECT_EQ(url, kUpdateUrl + QStringLiteral("x?.txt"));
}

TEST(WebFetch, DownloadStoresTheWholeResourceAndReplacesTheOldFile) {
    QByteArray program;
    for (int i = 0; i < 500000; ++i) program.append(static_cast<char>(i % 253));
    Resource res(program);
    Folder dir;
    QString url = res.url;
    QString fresh = dir.file(QStringLiteral("new.bin")), plain = dir.file(QStringLiteral("plain.txt")),
            old = dir.file(QStringLiteral("old.bin"));
    ASSERT_TRUE(DownloadUrlToFile(url, fresh));
    EXPECT_EQ(contentOf(fresh), program);
    ASSERT_TRUE(DownloadUrlToFile(url, plain, false));
    writeFile(old, "the old program");
#ifndef _WIN32  // a run bit exists only here
    EXPECT_TRUE(modeOf(fresh) & S_IXUSR);
    EXPECT_FALSE(modeOf(plain) & 0111);
    ::chmod(QFile::encodeName(old).constData(), 0640);
#endif
    ASSERT_TRUE(DownloadUrlToFile(url, old));
    EXPECT_EQ(contentOf(old), program);
#ifndef _WIN32
    EXPECT_EQ(modeOf(old), 0750u);  // its own rights kept, the run bit added
#endif
    EXPECT_EQ(dir.entries().size(), 3);  // no temporary file left
}

TEST(WebFetch, FailedDownloadLeavesTheOldFileAndNoTemporaryFile) {
    Folder dir;
    QString target = dir.file(QStringLiteral("checker.bin"));
    writeFile(target, "the working program");
    testinet::FakeHttp peer({"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(40000, 'p')});
    for (QString url : {kUpdateUrl + QStringLiteral("no_such_program.bin"),
                        QStringLiteral("http://127.0.0.1:%1/cut.bin").arg(peer.port()),
                        QStringLiteral("http://%1:%2/x.bin").arg(testenv::kHost).arg(testenv::kClosedPort)}) {
        EXPECT_FALSE(DownloadUrlToFile(url, target)) << url.toStdString();
        EXPECT_EQ(contentOf(target), QByteArray("the working program"));
        EXPECT_EQ(dir.entries(), QStringList{QStringLiteral("checker.bin")});
    }

    // Places that cannot be written.
    Resource res("data");
    QString url = res.url;
    for (QString bad : {dir.file(QStringLiteral("no_such_folder/file.bin")), dir.path,
                        QStringLiteral("/proc/orvel_update_test.bin"), QString()})
        EXPECT_FALSE(DownloadUrlToFile(url, bad)) << bad.toStdString();
    EXPECT_TRUE(QFileInfo(dir.path).isDir());
}

// A download that is to be run: no redirect is followed, a body past the
// limit is refused while it arrives, and only what the check accepts stays.
TEST(WebFetch, CheckedDownloadRefusesRedirectsOversizeAndRejectedBytes) {
    Folder dir;
    QString target = dir.file(QStringLiteral("checker.bin"));
    writeFile(target, "the working program");

    testinet::FakeHttp elsewhere({"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nevil"});
    const std::string away = "http://127.0.0.1:" + std::to_string(elsewhere.port()) + "/evil.bin";
    testinet::FakeHttp peer({"HTTP/1.1 302 Found\r\nLocation: " + away + "\r\nContent-Length: 0\r\n\r\n",
                             "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n\r\n" + std::string(3000, 'p'),
                             "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789"});
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(peer.port());

    update::DownloadCheck check;
    check.maxBytes = 2000;
    QByteArray seen;
    check.feed = [&](const char* data, qint64 size) { seen.append(data, static_cast<qsizetype>(size)); };
    bool acceptIt = false;
    check.accept = [&] { return acceptIt; };

    QString url = base + QStringLiteral("moved.bin");
    EXPECT_FALSE(DownloadUrlToFile(url, target, true, check));
    EXPECT_TRUE(elsewhere.requests().empty()) << "the redirect was followed";
    url = base + QStringLiteral("huge.bin");
    EXPECT_FALSE(DownloadUrlToFile(url, target, true, check));
    EXPECT_LE(seen.size(), 3000);
    seen.clear();
    url = base + QStringLiteral("small.bin");
    EXPECT_FALSE(DownloadUrlToFile(url, target, true, check));  // complete, but not accepted
    EXPECT_EQ(seen, QByteArray("0123456789"));
    EXPECT_EQ(contentOf(target), QByteArray("the working program"));
    EXPECT_EQ(dir.entries(), QStringList{QStringLiteral("checker.bin")});

    // Accepted: the file takes the target's place.
    acceptIt = true;
    Resource res("0123456789");
    url = res.url;
    EXPECT_TRUE(DownloadUrlToFile(url, target, true, check));
    EXPECT_EQ(contentOf(target), QByteArray("0123456789"));

    // Small resources: whole, or nothing when too long or missing.
    EXPECT_EQ(update::FetchSmallResource(res.url, 10), std::optional<QByteArray>("0123456789"));
    EXPECT_EQ(update::FetchSmallResource(res.url, 9), std::nullopt);
    EXPECT_EQ(update::FetchSmallResource(kUpdateUrl + QStringLiteral("no_such.minisig"), 4096), std::nullopt);
}

// A server that sends a byte now and then: a version text or a signature
// is given up at the small-fetch limit, a program at the minimum rate; the
// old file stays. (Limits shortened to 2 s; the peer drips 4 bytes/s and
// would be done only after 25 s.)
TEST(WebFetch, ADrippingServerIsGivenUpInTime) {
    const net::Limits saved = net::CurrentLimits();
    net::Limits shortened = saved;
    shortened.httpSmallTotal = 2;
    shortened.httpLowSpeedTime = 2;
    net::SetLimits(shortened);
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
    testinet::FakeHttp peer({head + std::string(100, '1'), head + std::string(100, 's'), head + std::string(100, 'p')},
                            250);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(peer.port());
    Folder dir;
    QString target = dir.file(QStringLiteral("checker.bin"));
    writeFile(target, "the working program");

    QElapsedTimer took;
    took.start();
    QString url = base + QStringLiteral("v.txt");
    EXPECT_EQ(ReadUrlText(url), QString());
    EXPECT_LT(took.restart(), 6000);
    EXPECT_EQ(update::FetchSmallResource(base + QStringLiteral("p.minisig"), 4096), std::nullopt);
    EXPECT_LT(took.restart(), 6000);
    url = base + QStringLiteral("p.bin");
    EXPECT_FALSE(DownloadUrlToFile(url, target));
    EXPECT_LT(took.restart(), 6000);
    EXPECT_EQ(contentOf(target), QByteArray("the working program"));
    EXPECT_EQ(dir.entries(), QStringList{QStringLiteral("checker.bin")});
    net::SetLimits(saved);
}
