// FTP calls against the servers of the test environment.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimeZone>
#include <map>

#include "net/inet.h"
#include "testsupport.h"

using namespace net;

namespace {

const QString kHome = QString::fromUtf8(testenv::ftp::kHome) + QLatin1Char('/');
const QString kDir = QStringLiteral("as_files/");
constexpr int kMain = testenv::ftp::kMain.port, kPeer = testenv::ftp::kPeer.port, kIdle = testenv::ftp::kIdle.port,
              kEmpty = testenv::ftp::kEmpty.port, kCut = testenv::ftp::kCut.port, kSilent = testenv::ftp::kSilentPort;

struct Session {
    HInternet root = InternetOpenA(QStringLiteral("ORVEL"), INTERNET_OPEN_TYPE_DIRECT, QString(), QString(),
                                   INTERNET_FLAG_NO_CACHE_WRITE);
    HInternet conn;
    explicit Session(int port, const QString& host = QString::fromUtf8(testenv::kHost),
                     const QString& pass = QString::fromUtf8(testenv::ftp::kPassword)) {
        const QString user = QString::fromUtf8(port == kPeer ? testenv::ftp::kPeer.user : testenv::ftp::kUser);
        conn = InternetConnectA(root.get(), host, port, user, port == kPeer ? QString() : pass,
                                INTERNET_SERVICE_FTP, 0, 0);
    }
    std::map<QString, FindData> list(const QString& folder = kDir) {
        std::map<QString, FindData> out;
        FindData fd;
        HInternet find = FtpFindFirstFileA(conn.get(), folder, fd, INTERNET_FLAG_RELOAD, 0);
        for (bool more = find != nullptr; more; more = InternetFindNextFileA(find.get(), fd)) out[fd.cFileName] = fd;
        return out;
    }
    HInternet open(const QString& name) {
        return FtpOpenFileA(conn.get(), kDir + name, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
    }
};

QByteArray localContent(const QString& name) {
    QFile f(kHome + kDir + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The window's way: 1024-byte blocks, then the rest; stops at the first bad read.
QByteArray readInBlocks(Handle* file, qint64 size, bool* ok, int* reads) {
    QByteArray data;
    char buf[1024];
    *ok = true;
    *reads = 0;
    while (size > data.size() && *ok) {
        const auto want = static_cast<quint32>(std::min<qint64>(size - data.size(), 1024));
        quint32 got = 0;
        *ok = InternetReadFile(file, buf, want, &got) && got == want;
        ++*reads;
        data.append(buf, got);
    }
    return data;
}

// A file of the test's own in the shared folder.
struct TempRemoteFile {
    QString name;
    explicit TempRemoteFile(const QString& base, const QByteArray& content = "x")
        : name(QStringLiteral("%1_%2").arg(base).arg(QCoreApplication::applicationPid())) {
        QFile f(path());
        if (f.open(QIODevice::WriteOnly)) f.write(content);
    }
    ~TempRemoteFile() { QFile::remove(path()); }
    QString path() const { return kHome + kDir + name; }
};

class InetFtp : public ::testing::Test {
protected:
    void TearDown() override {
        SetLimits(saved_);
        SetWaitCallback(nullptr);
    }
    Limits saved_ = CurrentLimits();
};

}  // namespace

TEST_F(InetFtp, LoginNeedsAReachableServerAndTheRightAccount) {
    EXPECT_TRUE(Session(kMain).conn);
    EXPECT_FALSE(Session(kMain, QString::fromUtf8(testenv::kHost), QStringLiteral("wrong")).conn);
    EXPECT_FALSE(Session(testsupport::Env::closedPort()).conn);
    EXPECT_FALSE(Session(kMain, QStringLiteral("no-such-host.invalid")).conn);

    // A server that accepts and never answers is given up, and the caller
    // gets its wait callback meanwhile.
    Limits l = CurrentLimits();
    l.ftpConnect = l.ftpResponse = 2;
    SetLimits(l);
    int ticks = 0;
    SetWaitCallback([&ticks] { ++ticks; });
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(Session(kSilent).conn);
    EXPECT_LT(t.elapsed(), 8000);
    EXPECT_GE(ticks, 10);
}

TEST_F(InetFtp, MlsdAndListGiveTheSameEntries) {
    const auto a = Session(kMain).list();   // MLSD
    const auto b = Session(kPeer).list();   // LIST only
    for (const char* n : {"report.zip", "견적서_2024.xlsx", "with blank.txt", "empty.txt", "big5g.iso", "sub"}) {
        const QString name = QString::fromUtf8(n);
        ASSERT_TRUE(a.count(name) && b.count(name)) << n;
        EXPECT_EQ(a.at(name).nFileSize, b.at(name).nFileSize) << n;
        EXPECT_EQ(a.at(name).dwFileAttributes, b.at(name).dwFileAttributes) << n;
        EXPECT_EQ(a.at(name).ftLastWriteTime.date(), b.at(name).ftLastWriteTime.date()) << n;
    }
    EXPECT_EQ(a.size(), b.size());
    EXPECT_FALSE(a.count(QStringLiteral(".")) || a.count(QStringLiteral("..")));
    EXPECT_EQ(a.at(QStringLiteral("report.zip")).ftLastWriteTime,
              QDateTime(QDate(2024, 3, 7), QTime(0, 5, 30), QTimeZone::utc()));
    EXPECT_TRUE(a.at(QStringLiteral("sub")).isDirectory());
    for (const auto* m : {&a, &b}) {
        const FindData& big = m->at(QStringLiteral("big5g.iso"));
        EXPECT_EQ(big.nFileSize, Q_INT64_C(5368709120));
        EXPECT_EQ(big.nFileSizeHigh, 1u);
        EXPECT_EQ(big.nFileSizeLow, 1073741824u);
    }

    EXPECT_TRUE(Session(kEmpty).list().empty());
    EXPECT_TRUE(Session(kMain).list(QStringLiteral("no_such_folder/")).empty());
}

TEST_F(InetFtp, OpenAndReadDeliverExactBlocks) {
    Session s(kMain);
    ASSERT_TRUE(s.conn);
    QByteArray bytes(2048, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
    TempRemoteFile twoBlocks(QStringLiteral("two_blocks"), bytes);
    TempRemoteFile odd(QStringLiteral("a #b;c%20d 한글"), "odd");  // needs encoding in a URL
    const std::pair<QString, int> cases[] = {{QStringLiteral("report.zip"), 12057},
                                             {QStringLiteral("견적서_2024.xlsx"), 2},
                                             {QStringLiteral("with blank.txt"), 1},
                                             {twoBlocks.name, 2},
                                             {odd.name, 1},
                                             {QStringLiteral("empty.txt"), 0}};
    for (const auto& [name, reads] : cases) {
        const QByteArray expected = localContent(name);
        HInternet file = s.open(name);
        ASSERT_TRUE(file) << name.toStdString();
        quint32 high = 7;
        EXPECT_EQ(FtpGetFileSize(file.get(), &high), static_cast<quint32>(expected.size()));
        EXPECT_EQ(high, 0u);
        bool ok = false;
        int n = 0;
        EXPECT_TRUE(readInBlocks(file.get(), expected.size(), &ok, &n) == expected && ok) << name.toStdString();
        EXPECT_EQ(n, reads);
        char extra[16];
        quint32 got = 99;
        EXPECT_TRUE(InternetReadFile(file.get(), extra, sizeof extra, &got) && got == 0);  // the end
    }
    for (const char* path : {"sub", "sub/", "no_such_file.bin", "x\r\nDELE y"})
        EXPECT_FALSE(s.open(QString::fromUtf8(path))) << path;
    EXPECT_TRUE(s.list().count(QStringLiteral("report.zip")));  // still connected
}

TEST_F(InetFtp, LargeFileStreamsWithBoundedMemoryAndCanBeAbandoned) {
    Session s(kMain);
    HInternet file = s.open(QStringLiteral("big5g.iso"));
    ASSERT_TRUE(file);
    quint32 high = 0;
    EXPECT_EQ(FtpGetFileSize(file.get(), &high), 1073741824u);
    EXPECT_EQ(high, 1u);
    EXPECT_TRUE(s.list().empty());  // the connection is taken while the file streams

    int ticks = 0;
    SetWaitCallback([&ticks] { ++ticks; });
    const long before = testsupport::PeakResidentKiB();
    QElapsedTimer t;
    t.start();
    std::vector<char> block(1024);
    for (qint64 total = 0; total < (qint64{256} << 20); total += 1024) {
        quint32 got = 0;
        ASSERT_TRUE(InternetReadFile(file.get(), block.data(), 1024, &got) && got == 1024);
    }
    EXPECT_LT(testsupport::PeakResidentKiB() - before, 64 * 1024) << "kilobytes grown";
    if (t.elapsed() >= 150) {
        EXPECT_GE(ticks, 1);  // short reads still let the caller repaint
    }

    InternetCloseHandle(file);
    EXPECT_TRUE(s.list().count(QStringLiteral("big5g.iso")));
}

TEST_F(InetFtp, DeleteOnlyReportsWhatTheServerDid) {
    Session s(kMain);
    TempRemoteFile plain(QStringLiteral("del")), named(QStringLiteral("삭제 대상")), victim(QStringLiteral("victim"));
    EXPECT_TRUE(FtpDeleteFileA(s.conn.get(), kDir + plain.name));
    EXPECT_FALSE(QFile::exists(plain.path()));
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), kDir + plain.name));
    // A listing before must not change what the relative path means.
    EXPECT_FALSE(s.list().empty());
    EXPECT_TRUE(FtpDeleteFileA(s.conn.get(), kDir + named.name));
    EXPECT_FALSE(QFile::exists(named.path()));

    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), kDir + QStringLiteral("sub")));
    EXPECT_TRUE(QDir(kHome + kDir + QStringLiteral("sub")).exists());
    // A line break must not smuggle in a second command.
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), kDir + QStringLiteral("none\r\nDELE ") + kDir + victim.name));
    EXPECT_TRUE(QFile::exists(victim.path()));
}

TEST_F(InetFtp, SessionSurvivesTheServerDroppingAnIdleConnection) {
    Session s(kIdle);  // sends 421 and closes after 2 s idle
    ASSERT_TRUE(s.conn);
    QThread::msleep(3000);
    EXPECT_TRUE(s.list().count(QStringLiteral("report.zip")));
    TempRemoteFile gone(QStringLiteral("idle"));
    QThread::msleep(3000);
    EXPECT_TRUE(FtpDeleteFileA(s.conn.get(), kDir + gone.name));
}

TEST_F(InetFtp, TransferCutShortFailsTheRead) {
    Session s(kCut);  // sends half the file, then drops both connections
    HInternet file = s.open(QStringLiteral("report.zip"));
    ASSERT_TRUE(file);
    ASSERT_EQ(FtpGetFileSize64(file.get()), 12345678);
    bool ok = true;
    int reads = 0;
    const QByteArray got = readInBlocks(file.get(), 12345678, &ok, &reads);
    EXPECT_FALSE(ok);
    EXPECT_LT(got.size(), 12345678);
    EXPECT_EQ(got, localContent(QStringLiteral("report.zip")).left(got.size()));  // a true beginning
}
