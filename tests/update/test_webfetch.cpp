// The web fetch against the update server of the test environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "platform/textcodec.h"
#include "tests/browser/test_inet_fakehttp.h"
#include "testsupport.h"
#include "update/webfetch.h"

using update::DownloadUrlToFile;
using update::ReadUrlText;

namespace {

// The tests talk to their own servers, never through a proxy of the machine.
const bool kProxiesOff = [] {
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY"}) qunsetenv(name);
    return true;
}();

const QString kUpdateDir = QStringLiteral("/tmp/orvel-env/http/download/자동업데이트_v1/");
const QString kUpdateUrl = QStringLiteral("http://127.0.0.1/download/자동업데이트_v1/");

QString unique(const QString& base) {
    static int n = 0;
    return QStringLiteral("wf_%1_%2_%3").arg(QCoreApplication::applicationPid()).arg(++n).arg(base);
}

// A resource on the update server, removed again at the end.
struct Resource {
    QString name;
    explicit Resource(const QByteArray& content, const QString& base = QStringLiteral("r.txt"))
        : name(unique(base)) {
        QFile f(kUpdateDir + name);
        if (f.open(QIODevice::WriteOnly)) f.write(content);
    }
    ~Resource() { QFile::remove(kUpdateDir + name); }
    QString url() const { return kUpdateUrl + name; }
};

// A local folder of the test's own.
struct Folder {
    QString path;
    Folder() : path(QStringLiteral("/tmp/orvel-env/") + unique(QStringLiteral("dir"))) { QDir().mkpath(path); }
    ~Folder() { QDir(path).removeRecursively(); }
    QString file(const QString& n) const { return path + QLatin1Char('/') + n; }
    QStringList entries() const { return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }
};

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

}  // namespace

TEST(WebFetch, ReadUrlTextGivesTheFirstTwentyBytesAsText) {
    Resource version("15\r\n");
    QString url = version.url();
    const QString text = ReadUrlText(url);
    EXPECT_EQ(text, QStringLiteral("15\r\n"));
    EXPECT_EQ(text.trimmed().toInt(), 15);
    EXPECT_EQ(url, version.url());  // Hangul survives the trip through code page 949

    Resource longer("0123456789abcdefghijKLMNOPQRST");
    url = longer.url();
    EXPECT_EQ(ReadUrlText(url), QStringLiteral("0123456789abcdefghij"));

    Resource empty("");
    url = empty.url();
    EXPECT_EQ(ReadUrlText(url), QString());

    // Double-byte text: the 20-byte buffer is decoded whole, then cut to as
    // many characters as bytes arrived, so blanks of the buffer may remain.
    Resource shortHangul(platform::ToCp949(QStringLiteral("가나다라\r\n")));
    url = shortHangul.url();
    EXPECT_EQ(ReadUrlText(url), QStringLiteral("가나다라\r\n    "));
    Resource longHangul(platform::ToCp949(QStringLiteral("가나다라마바사아자차카타")));
    url = longHangul.url();
    EXPECT_EQ(ReadUrlText(url), QStringLiteral("가나다라마바사아자차"));
}

TEST(WebFetch, ReadUrlTextOnErrorsAndUnreachableServers) {
    // The error page's beginning is the answer; the caller's number parse rejects it.
    QString url = kUpdateUrl + QStringLiteral("no_such_version.txt");
    const QString page = ReadUrlText(url);
    EXPECT_EQ(page.size(), 20);
    EXPECT_TRUE(page.startsWith(QStringLiteral("<!DOCTYPE"))) << page.toStdString();

    url = QStringLiteral("http://127.0.0.1:%1/v.txt").arg(testsupport::Env::closedPort());
    EXPECT_EQ(ReadUrlText(url), QString());
    url = QStringLiteral("http://no-such-host.invalid/v.txt");
    EXPECT_EQ(ReadUrlText(url), QString());

    // The caller's variable gets the URL as code page 949 could carry it.
    url = kUpdateUrl + QStringLiteral("x\u0E01.txt");
    ReadUrlText(url);
    EXPECT_EQ(url, kUpdateUrl + QStringLiteral("x?.txt"));
}

TEST(WebFetch, DownloadStoresTheWholeResourceAndReplacesTheOldFile) {
    QByteArray program;
    for (int i = 0; i < 500000; ++i) program.append(static_cast<char>(i % 253));
    Resource res(program, QStringLiteral("checker.bin"));
    Folder dir;

    QString url = res.url();
    QString target = dir.file(QStringLiteral("new.bin"));
    ASSERT_TRUE(DownloadUrlToFile(url, target));
    EXPECT_EQ(contentOf(target), program);
    EXPECT_TRUE(modeOf(target) & S_IXUSR);

    QString plain = dir.file(QStringLiteral("plain.txt"));
    ASSERT_TRUE(DownloadUrlToFile(url, plain, false));
    EXPECT_FALSE(modeOf(plain) & 0111);

    QString existing = dir.file(QStringLiteral("old.bin"));
    writeFile(existing, "old program, longer than nothing");
    ::chmod(QFile::encodeName(existing).constData(), 0640);
    ASSERT_TRUE(DownloadUrlToFile(url, existing));
    EXPECT_EQ(contentOf(existing), program);
    EXPECT_EQ(modeOf(existing), 0750u);  // its own rights kept, the run bit added

    EXPECT_EQ(dir.entries(), (QStringList{QStringLiteral("new.bin"), QStringLiteral("old.bin"),
                                          QStringLiteral("plain.txt")}));
}

TEST(WebFetch, FailedDownloadLeavesTheOldFileAndNoTemporaryFile) {
    Folder dir;
    QString target = dir.file(QStringLiteral("checker.bin"));
    const QByteArray old = "the working program";
    writeFile(target, old);

    QString url = kUpdateUrl + QStringLiteral("no_such_program.bin");
    EXPECT_FALSE(DownloadUrlToFile(url, target));
    EXPECT_EQ(contentOf(target), old);
    EXPECT_EQ(dir.entries(), QStringList{QStringLiteral("checker.bin")});

    testinet::FakeHttp peer({"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(40000, 'p'),
                             "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\noops"});
    url = QStringLiteral("http://127.0.0.1:%1/cut.bin").arg(peer.port());
    EXPECT_FALSE(DownloadUrlToFile(url, target));
    EXPECT_EQ(contentOf(target), old);
    url = QStringLiteral("http://127.0.0.1:%1/err.bin").arg(peer.port());
    EXPECT_FALSE(DownloadUrlToFile(url, target));
    EXPECT_EQ(contentOf(target), old);
    EXPECT_EQ(dir.entries(), QStringList{QStringLiteral("checker.bin")});

    url = QStringLiteral("http://127.0.0.1:%1/x.bin").arg(testsupport::Env::closedPort());
    EXPECT_FALSE(DownloadUrlToFile(url, target));
    EXPECT_EQ(contentOf(target), old);
}

TEST(WebFetch, DownloadIntoAPlaceThatCannotBeWrittenFails) {
    Resource res("data");
    QString url = res.url();
    Folder dir;
    QString missingFolder = dir.file(QStringLiteral("no_such_folder/file.bin"));
    EXPECT_FALSE(DownloadUrlToFile(url, missingFolder));
    QString folderItself = dir.path;
    EXPECT_FALSE(DownloadUrlToFile(url, folderItself));
    EXPECT_TRUE(QFileInfo(dir.path).isDir());
    QString procFile = QStringLiteral("/proc/orvel_update_test.bin");  // not writable, even for root
    EXPECT_FALSE(DownloadUrlToFile(url, procFile));
    QString none;
    EXPECT_FALSE(DownloadUrlToFile(url, none));
}
