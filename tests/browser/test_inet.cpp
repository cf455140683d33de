// FTP calls against the servers of the test environment.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimeZone>
#include <map>

#include "browser/inet.h"
#include "testsupport.h"

using namespace inet;

namespace {

const QString kHost = QStringLiteral("127.0.0.1");
const QString kUser = QStringLiteral("qxasftp");
const QString kPass = QStringLiteral("Kd38-47.2Wm");
const QString kHome = QStringLiteral("/tmp/orvel-env/ftp/home/");
constexpr int kMain = 21, kPeer = 2121, kIdle = 2122, kEmpty = 2123, kCut = 2124, kEvil = 2126, kSilent = 2127;

struct Session {
    HInternet root;
    HInternet conn;
};

Session connectTo(int port, const QString& user = kUser, const QString& pass = kPass) {
    Session s;
    s.root = InternetOpenA(QStringLiteral("ORVEL"), INTERNET_OPEN_TYPE_DIRECT, QString(), QString(),
                           INTERNET_FLAG_NO_CACHE_WRITE);
    if (s.root) s.conn = InternetConnectA(s.root.get(), kHost, port, user, pass, INTERNET_SERVICE_FTP, 0, 0);
    return s;
}

std::map<QString, FindData> listFolder(Handle* conn, const QString& folder = QStringLiteral("as_files/")) {
    std::map<QString, FindData> out;
    FindData fd;
    HInternet find = FtpFindFirstFileA(conn, folder, fd, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) return out;
    do out[fd.cFileName] = fd;
    while (InternetFindNextFileA(find.get(), fd));
    return out;
}

QByteArray sha256Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray manifestDigest(const QString& name) {
    QFile f(QStringLiteral("/tmp/orvel-env/ftp/manifest.txt"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    // "digest  size  name" per line
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const QStringList parts = line.split(QStringLiteral("  "));
        if (parts.size() == 3 && parts[2] == name) return parts[0].toLatin1();
    }
    return {};
}

// Reads the whole file the way the window does: 1024-byte blocks, then the rest.
struct ReadResult {
    bool ok = true;
    QByteArray data;
    int reads = 0;
};
ReadResult readInBlocks(Handle* file, qint64 size) {
    ReadResult r;
    char buf[1024];
    for (qint64 left = size; left > 0 && r.ok;) {
        const quint32 want = static_cast<quint32>(std::min<qint64>(left, 1024));
        quint32 got = 0;
        r.ok = InternetReadFile(file, buf, want, &got) && got == want;
        ++r.reads;
        r.data.append(buf, got);
        left -= got;
    }
    return r;
}

// A file of our own in the shared folder, removed again at the end.
struct TempRemoteFile {
    QString name;
    explicit TempRemoteFile(const QString& base, const QByteArray& content = "x") {
        name = QStringLiteral("%1_%2_%3").arg(base).arg(QCoreApplication::applicationPid()).arg(QDateTime::currentMSecsSinceEpoch());
        QFile f(kHome + QStringLiteral("as_files/") + name);
        if (f.open(QIODevice::WriteOnly)) f.write(content);
    }
    ~TempRemoteFile() { QFile::remove(path()); }
    QString path() const { return kHome + QStringLiteral("as_files/") + name; }
};

class InetFtp : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CurrentLimits(); }
    void TearDown() override {
        SetLimits(saved_);
        SetWaitCallback(nullptr);
    }
    Limits saved_;
};

}  // namespace

TEST_F(InetFtp, LoginSucceedsOnlyWithAReachableServerAndTheRightAccount) {
    EXPECT_TRUE(connectTo(kMain).conn);
    EXPECT_FALSE(connectTo(kMain, kUser, QStringLiteral("wrong")).conn);
    EXPECT_FALSE(connectTo(testsupport::Env::closedPort()).conn);

    HInternet root = InternetOpenA(QStringLiteral("ORVEL"), INTERNET_OPEN_TYPE_DIRECT, QString(), QString(), 0);
    ASSERT_TRUE(root);
    EXPECT_FALSE(InternetConnectA(root.get(), QStringLiteral("no-such-host.invalid"), kMain, kUser, kPass,
                                  INTERNET_SERVICE_FTP, 0, 0));
    // Host texts that would change the URL, and a service other than FTP.
    EXPECT_FALSE(InternetConnectA(root.get(), QStringLiteral("127.0.0.1/x"), kMain, kUser, kPass,
                                  INTERNET_SERVICE_FTP, 0, 0));
    EXPECT_FALSE(InternetConnectA(root.get(), QStringLiteral("x@127.0.0.1"), kMain, kUser, kPass,
                                  INTERNET_SERVICE_FTP, 0, 0));
    EXPECT_FALSE(InternetConnectA(root.get(), kHost, kMain, kUser, kPass, 3, 0, 0));
    EXPECT_FALSE(InternetConnectA(nullptr, kHost, kMain, kUser, kPass, INTERNET_SERVICE_FTP, 0, 0));
}

TEST_F(InetFtp, SilentServerGivesUpInBoundedTimeWhileTheWaitCallbackRuns) {
    Limits l = CurrentLimits();
    l.ftpConnect = 2;
    l.ftpResponse = 2;
    SetLimits(l);
    int ticks = 0;
    SetWaitCallback([&ticks] { ++ticks; });
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(connectTo(kSilent).conn);
    EXPECT_LT(t.elapsed(), 8000);
    EXPECT_GE(ticks, 10);  // about every 50 ms for about 2 s
}

TEST_F(InetFtp, MlsdAndListGiveTheSameEntries) {
    // A recent file: LIST shows its time of day, not only the year.
    TempRemoteFile recent(QStringLiteral("recent"), QByteArray(777, 'r'));
    const QDateTime when = QDateTime::currentDateTimeUtc().addDays(-2);
    const QDateTime whenMinute(when.date(), QTime(when.time().hour(), when.time().minute()), QTimeZone::utc());
    {
        QFile f(recent.path());
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(whenMinute, QFileDevice::FileModificationTime));
    }

    Session mlsd = connectTo(kMain);
    Session list = connectTo(kPeer, QStringLiteral("anonymous"), QString());
    ASSERT_TRUE(mlsd.conn);
    ASSERT_TRUE(list.conn);
    const auto a = listFolder(mlsd.conn.get());
    const auto b = listFolder(list.conn.get());

    for (const char* name :
         {"report.zip", "견적서_2024.xlsx", "with blank.txt", "512.bin", "1536.bin", "empty.txt", "big5g.iso", "sub"}) {
        const QString n = QString::fromUtf8(name);
        ASSERT_TRUE(a.count(n)) << name;
        ASSERT_TRUE(b.count(n)) << name;
        EXPECT_EQ(a.at(n).nFileSize, b.at(n).nFileSize) << name;
        EXPECT_EQ(a.at(n).isDirectory(), b.at(n).isDirectory()) << name;
        EXPECT_EQ(a.at(n).ftLastWriteTime.toUTC().date(), b.at(n).ftLastWriteTime.toUTC().date()) << name;
    }
    EXPECT_EQ(a.size(), b.size());
    EXPECT_FALSE(a.count(QStringLiteral(".")) || a.count(QStringLiteral("..")));

    const FindData& report = a.at(QStringLiteral("report.zip"));
    EXPECT_EQ(report.nFileSize, 12345678);
    EXPECT_EQ(report.nFileSizeLow, 12345678u);
    EXPECT_EQ(report.ftLastWriteTime.toUTC(), QDateTime(QDate(2024, 3, 7), QTime(0, 5, 30), QTimeZone::utc()));
    EXPECT_EQ(report.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(a.at(QStringLiteral("sub")).dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);

    // 5 GiB: the whole size, split into its halves.
    for (const auto* m : {&a, &b}) {
        const FindData& big = m->at(QStringLiteral("big5g.iso"));
        EXPECT_EQ(big.nFileSize, Q_INT64_C(5368709120));
        EXPECT_EQ(big.nFileSizeHigh, 1u);
        EXPECT_EQ(big.nFileSizeLow, 1073741824u);
    }

    ASSERT_TRUE(a.count(recent.name));
    ASSERT_TRUE(b.count(recent.name));
    EXPECT_EQ(a.at(recent.name).ftLastWriteTime.toUTC(), whenMinute);
    EXPECT_EQ(b.at(recent.name).ftLastWriteTime.toUTC(), whenMinute);
    EXPECT_EQ(a.at(recent.name).nFileSize, 777);
}

TEST_F(InetFtp, ListingFailsQuietlyForEmptyOrMissingFolders) {
    Session empty = connectTo(kEmpty);
    ASSERT_TRUE(empty.conn);
    FindData fd;
    EXPECT_FALSE(FtpFindFirstFileA(empty.conn.get(), QStringLiteral("as_files/"), fd, INTERNET_FLAG_RELOAD, 0));

    Session main = connectTo(kMain);
    ASSERT_TRUE(main.conn);
    EXPECT_FALSE(FtpFindFirstFileA(main.conn.get(), QStringLiteral("no_such_folder/"), fd, INTERNET_FLAG_RELOAD, 0));
    // The connection is still good afterwards, and listings are fresh each time.
    TempRemoteFile added(QStringLiteral("fresh"));
    EXPECT_TRUE(listFolder(main.conn.get()).count(added.name));
    QFile::remove(added.path());
    EXPECT_FALSE(listFolder(main.conn.get()).count(added.name));

    Session evil = connectTo(kEvil);
    ASSERT_TRUE(evil.conn);
    const auto names = listFolder(evil.conn.get());
    EXPECT_TRUE(names.count(QStringLiteral("ok.txt")));
    EXPECT_FALSE(names.count(QStringLiteral(".")) || names.count(QStringLiteral("..")));
}

TEST_F(InetFtp, OpenAndReadDeliverExactBlocks) {
    Session s = connectTo(kMain);
    ASSERT_TRUE(s.conn);
    QByteArray twoBlocks(2048, '\0');
    for (int i = 0; i < twoBlocks.size(); ++i) twoBlocks[i] = static_cast<char>(i * 31 + 7);
    TempRemoteFile exact(QStringLiteral("two_blocks"), twoBlocks);
    struct Case {
        const char* name;
        qint64 size;
        int reads;
    };
    for (const Case& c : {Case{"report.zip", 12345678, 12057}, Case{"견적서_2024.xlsx", 1500, 2},
                          Case{"with blank.txt", 511, 1}, Case{nullptr, 2048, 2}, Case{"empty.txt", 0, 0}}) {
        const QString name = c.name ? QString::fromUtf8(c.name) : exact.name;
        HInternet file = FtpOpenFileA(s.conn.get(), QStringLiteral("as_files/") + name, GENERIC_READ,
                                      FTP_TRANSFER_TYPE_BINARY, 0);
        ASSERT_TRUE(file) << name.toStdString();
        quint32 high = 7;
        EXPECT_EQ(FtpGetFileSize(file.get(), &high), static_cast<quint32>(c.size)) << name.toStdString();
        EXPECT_EQ(high, 0u);
        const ReadResult r = readInBlocks(file.get(), c.size);
        EXPECT_TRUE(r.ok) << name.toStdString();
        EXPECT_EQ(r.reads, c.reads) << name.toStdString();
        EXPECT_EQ(sha256Hex(r.data), c.name ? manifestDigest(name) : sha256Hex(twoBlocks)) << name.toStdString();
        // At the end: success with nothing more.
        char extra[16];
        quint32 got = 99;
        EXPECT_TRUE(InternetReadFile(file.get(), extra, sizeof extra, &got)) << name.toStdString();
        EXPECT_EQ(got, 0u) << name.toStdString();
        InternetCloseHandle(file);
        EXPECT_FALSE(file);
    }
}

TEST_F(InetFtp, OpenFailsForFoldersMissingFilesAndBadPaths) {
    Session s = connectTo(kMain);
    ASSERT_TRUE(s.conn);
    for (const char* path : {"as_files/sub", "as_files/sub/", "as_files/no_such_file.bin", "as_files/x\r\nDELE y", ""})
        EXPECT_FALSE(FtpOpenFileA(s.conn.get(), QString::fromUtf8(path), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0))
            << path;
    // Names that need encoding in a URL reach the server unchanged.
    TempRemoteFile odd(QStringLiteral("a #b;c%20d 한글"), "odd");
    HInternet file =
        FtpOpenFileA(s.conn.get(), QStringLiteral("as_files/") + odd.name, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 0);
    ASSERT_TRUE(file);
    EXPECT_EQ(readInBlocks(file.get(), 3).data, QByteArray("odd"));
    // The connection still serves after the failures.
    InternetCloseHandle(file);
    EXPECT_TRUE(listFolder(s.conn.get()).count(QStringLiteral("report.zip")));
}

TEST_F(InetFtp, LargeFileStreamsWithBoundedMemoryAndCanBeAbandoned) {
    Session s = connectTo(kMain);
    ASSERT_TRUE(s.conn);
    HInternet file = FtpOpenFileA(s.conn.get(), QStringLiteral("as_files/big5g.iso"), GENERIC_READ,
                                  FTP_TRANSFER_TYPE_BINARY, 0);
    ASSERT_TRUE(file);
    quint32 high = 0;
    EXPECT_EQ(FtpGetFileSize(file.get(), &high), 1073741824u);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(FtpGetFileSize64(file.get()), Q_INT64_C(5368709120));

    // The connection is taken while the file streams.
    FindData fd;
    EXPECT_FALSE(FtpFindFirstFileA(s.conn.get(), QStringLiteral("as_files/"), fd, INTERNET_FLAG_RELOAD, 0));

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::vector<char> block(1 << 16);
    qint64 total = 0;
    bool zeros = true;
    while (total < (qint64{256} << 20)) {
        quint32 got = 0;
        ASSERT_TRUE(InternetReadFile(file.get(), block.data(), static_cast<quint32>(block.size()), &got));
        ASSERT_EQ(got, block.size());
        zeros = zeros && std::all_of(block.begin(), block.end(), [](char c) { return c == 0; });
        total += got;
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_TRUE(zeros);  // the sparse file reads as zeros
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes grown";

    // Closing in the middle frees the connection for the next command.
    InternetCloseHandle(file);
    EXPECT_TRUE(listFolder(s.conn.get()).count(QStringLiteral("big5g.iso")));
}

TEST_F(InetFtp, DeleteOnlyReportsWhatTheServerDid) {
    Session s = connectTo(kMain);
    ASSERT_TRUE(s.conn);
    TempRemoteFile plain(QStringLiteral("del"));
    TempRemoteFile named(QStringLiteral("삭제 대상"));
    EXPECT_TRUE(FtpDeleteFileA(s.conn.get(), QStringLiteral("as_files/") + plain.name));
    EXPECT_FALSE(QFile::exists(plain.path()));
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), QStringLiteral("as_files/") + plain.name));

    // After a listing (which must not move the control connection's folder)
    // the relative path still means the same file.
    EXPECT_FALSE(listFolder(s.conn.get()).empty());
    EXPECT_TRUE(FtpDeleteFileA(s.conn.get(), QStringLiteral("as_files/") + named.name));
    EXPECT_FALSE(QFile::exists(named.path()));

    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), QStringLiteral("as_files/sub")));
    EXPECT_TRUE(QDir(kHome + QStringLiteral("as_files/sub")).exists());
    // A line break must not smuggle a second command in.
    TempRemoteFile victim(QStringLiteral("victim"));
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), QStringLiteral("as_files/none\r\nDELE as_files/") + victim.name));
    EXPECT_TRUE(QFile::exists(victim.path()));
    EXPECT_FALSE(FtpDeleteFileA(s.conn.get(), QString()));
}

TEST_F(InetFtp, SessionSurvivesTheServerDroppingAnIdleConnection) {
    Session s = connectTo(kIdle);
    ASSERT_TRUE(s.conn);
    EXPECT_TRUE(listFolder(s.conn.get()).count(QStringLiteral("report.zip")));
    QThread::msleep(3000);
    EXPECT_TRUE(listFolder(s.conn.get()).count(QStringLiteral("report.zip")));
    QThread::msleep(3000);
    HInternet file = FtpOpenFileA(s.conn.get(), QStringLiteral("as_files/1536.bin"), GENERIC_READ,
                                  FTP_TRANSFER_TYPE_BINARY, 0);
    ASSERT_TRUE(file);
    EXPECT_EQ(sha256Hex(readInBlocks(file.get(), 1536).data), manifestDigest(QStringLiteral("1536.bin")));
    InternetCloseHandle(file);
    TempRemoteFile gone(QStringLiteral("idle"));
    QThread::msleep(3000);
    EXPECT_TRUE(FtpDeleteFileA(s.conn.get(), QStringLiteral("as_files/") + gone.name));
    EXPECT_FALSE(QFile::exists(gone.path()));
}

TEST_F(InetFtp, TransferCutShortFailsTheRead) {
    Session s = connectTo(kCut);
    ASSERT_TRUE(s.conn);
    HInternet file = FtpOpenFileA(s.conn.get(), QStringLiteral("as_files/report.zip"), GENERIC_READ,
                                  FTP_TRANSFER_TYPE_BINARY, 0);
    ASSERT_TRUE(file);
    const qint64 size = FtpGetFileSize64(file.get());
    ASSERT_EQ(size, 12345678);
    const ReadResult r = readInBlocks(file.get(), size);
    EXPECT_FALSE(r.ok);
    EXPECT_LT(r.data.size(), size);
    // What did arrive is the true beginning of the file.
    QFile original(kHome + QStringLiteral("as_files/report.zip"));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(r.data, original.read(r.data.size()));
}
