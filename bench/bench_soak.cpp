// The program signed in and left at work for a long run. After the start-up
// check and a real sign-in against the database, the real main window
// (offscreen) loops list -> download -> delete -> refresh through its own
// commands against an FTP server of the bench's own, with a download of
// 1 GiB every 100 cycles. Every 100 cycles it prints the process's resident
// memory, open descriptors (Windows: handles) and threads; at the end the
// growth after the warm-up and whether it stays within the goal: memory
// less than 1 MB, handles and threads not at all.
//   bench_soak <port> <server home> [--cycles N] [--big-mib M] [--warmup C]
// <server home> is the folder that server serves (it holds as_files/); the
// bench fills as_files/ and puts a new file there every cycle. The program's
// log goes to orvel-as.log in <server home>, as the program writes it; only
// that folder and the window's download folder are written.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "app/modmain.h"
#include "browser/frmmain.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/msgbox.h"
#include "core/session.h"
#include "gui/uisetup.h"
#include "login/frmlogin.h"
#include "platform/procstats.h"
#include "testendpoints.h"

namespace {

using core::MsgAnswer;

// The sample user of the test environment (scripts/env).
const QString kPassword = QStringLiteral("demo1234");
const QString kDone = QStringLiteral("파일다운로드가 완료되었습니다.");
const QString kAsk = QStringLiteral("정말 해당 파일을 삭제하시겠습니까?");
const QString kDeleted = QStringLiteral("파일이 삭제되었습니다.");
constexpr int kStaticFiles = 40;
constexpr int kEvery = 100;
constexpr qint64 kBlock = qint64{64} << 20;  // the big file has random bytes at each such step

#ifdef _WIN32
constexpr const char* kHandles = "handles";
#else
constexpr const char* kHandles = "descriptors";
#endif

// Every box is recorded; a question is answered Yes (the deletion's).
std::vector<QString> g_said;

[[noreturn]] void fail(int cycle, const QString& what) {
    std::fprintf(stderr, "cycle %d: %s\n", cycle, qUtf8Printable(what));
    for (const QString& s : g_said) std::fprintf(stderr, "  message: %s\n", qUtf8Printable(s));
    std::fflush(stdout);
    std::_Exit(3);
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// A second name for the file `from`, so that a 1 GiB file goes back on the
// server without a copy; a copy where the volume cannot link.
bool linkOrCopy(const QString& from, const QString& to) {
#ifdef _WIN32
    if (CreateHardLinkW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(to).utf16()),
                        reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(from).utf16()), nullptr))
        return true;
#else
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
#endif
    return QFile::copy(from, to);
}

// The big file: sparse, with a block of random bytes every 64 MiB so that a
// copy that got an offset wrong differs where sameContent() looks.
bool makeBig(const QString& path, qint64 size) {
    if (QFileInfo(path).size() == size) return true;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !f.resize(size)) return false;
    QByteArray block(65536, Qt::Uninitialized);
    for (qint64 off = 12345; off < size; off += kBlock) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        const qint64 n = std::min<qint64>(block.size(), size - off);
        if (!f.seek(off) || f.write(block.constData(), n) != n) return false;
    }
    return true;
}

// Whole files compared whole; big ones at their start, their end and every
// random block. Through two buffers of the bench's own, allocated once: the
// bench's reading must not move the memory it measures (glibc raises its
// threshold for mapped blocks after the first large one is freed, and later
// large blocks stay in the heap).
bool sameContent(const QString& a, const QString& b) {
    constexpr qint64 kPiece = 64 * 1024;
    static char bufA[kPiece], bufB[kPiece];
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size()) return false;
    const qint64 size = fa.size();
    std::vector<std::pair<qint64, qint64>> ranges;  // offset, length
    if (size <= (qint64{4} << 20)) {
        ranges.push_back({0, size});
    } else {
        ranges.push_back({size - (qint64{1} << 20), qint64{1} << 20});
        for (qint64 off = 0; off < size; off += kBlock) ranges.push_back({off, qint64{1} << 20});
    }
    for (const auto& [off, len] : ranges) {
        if (!fa.seek(off) || !fb.seek(off)) return false;
        for (qint64 done = 0; done < len;) {
            const qint64 n = std::min(kPiece, len - done);
            if (fa.read(bufA, n) != n || fb.read(bufB, n) != n || std::memcmp(bufA, bufB, size_t(n)) != 0)
                return false;
            done += n;
        }
    }
    return true;
}

// The start-up check and the sign-in form as the program runs them; the
// password is typed once the form has admitted this workstation and opened
// its connection (a remembered one may have signed in before that).
bool signIn() {
    if (!modMain::CheckStartupDB()) return false;
    modMain::gAppTitle = core::AppTitle();
    frmLogin login;
    QTimer typist;
    typist.setInterval(20);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        if (!login.isVisible() || !login.connection()) return;
        typist.stop();
        login.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(kPassword);
        login.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    typist.start();
    login.exec();
    const bool ok = login.LoginSucceeded;
    login.Form_Unload();
    return ok;
}

class Soak {
public:
    Soak(FrmMain& w, QString serverDir, QString localDir, QString big)
        : w_(w),
          list_(w.findChild<QListView*>(QStringLiteral("List1"))),
          serverDir_(std::move(serverDir)),
          localDir_(std::move(localDir)),
          big_(std::move(big)) {}

    void cycle(int n) {
        const bool big = n % kEvery == kEvery / 2;
        const QString name = big ? QStringLiteral("대용량_%1.bin").arg(n, 5, 10, QLatin1Char('0'))
                                 : QStringLiteral("견적_%1.dat").arg(n, 5, 10, QLatin1Char('0'));
        const QString remote = serverDir_ + QLatin1Char('/') + name;
        const QString local = localDir_ + QLatin1Char('/') + name;
        if (big ? !linkOrCopy(big_, remote) : !writeFile(remote, smallContent(n)))
            fail(n, QStringLiteral("cannot put %1 on the server").arg(remote));

        // List: the new file is there.
        click("cmdOK");
        const QModelIndex line = lineOf(name);
        if (!line.isValid()) fail(n, name + QStringLiteral(" is not listed"));

        // Download by double-click: the one message, an exact copy.
        list_->setCurrentIndex(line);
        g_said.clear();
        Q_EMIT list_->doubleClicked(line);
        if (g_said != std::vector<QString>{kDone}) fail(n, QStringLiteral("the download did not report success"));
        if (!sameContent(remote, local)) fail(n, QStringLiteral("the downloaded copy differs"));
        QFile::remove(local);

        // Delete, answering Yes: gone from the server and from the list.
        list_->setCurrentIndex(lineOf(name));
        g_said.clear();
        click("cmdDelete");
        if (g_said != std::vector<QString>{kAsk, kDeleted}) fail(n, QStringLiteral("the deletion did not go through"));
        if (QFileInfo::exists(remote) || lineOf(name).isValid()) fail(n, name + QStringLiteral(" is still there"));

        // Refresh: the folder as it was.
        click("cmdOK");
        if (list_->model()->rowCount() != kStaticFiles)
            fail(n, QStringLiteral("%1 lines after the refresh").arg(list_->model()->rowCount()));
    }

private:
    static QByteArray smallContent(int n) {
        QByteArray data(1000 + (n * 7919) % 65536, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i) data[i] = char((i * 31 + n) & 0xff);
        return data;
    }
    void click(const char* button) { w_.findChild<QPushButton*>(QString::fromLatin1(button))->click(); }
    QModelIndex lineOf(const QString& name) const {
        const QAbstractItemModel* m = list_->model();
        for (int i = 0; i < m->rowCount(); ++i)
            if (m->index(i, 0).data(Qt::UserRole).toString() == name) return m->index(i, 0);
        return {};
    }

    FrmMain& w_;
    QListView* list_;
    QString serverDir_, localDir_, big_;
};

#ifdef _WIN32
// wine (8.0) answers GetProcessHandleCount with 0 but keeps the system's
// list of handles right: there this process's entries are counted instead.
qint64 handlesInSystemList() {
    struct Entry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT creatorBackTrace;
        USHORT typeIndex;
        ULONG attributes;
        ULONG reserved;
    };
    struct List {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kExtendedHandleList = 64;
    constexpr LONG kTooSmall = LONG(0xC0000004);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    for (ULONG size = 1 << 20; size < (1u << 30); size *= 2) {
        std::vector<char> buffer(size);
        ULONG needed = 0;
        const LONG status = query(kExtendedHandleList, buffer.data(), size, &needed);
        if (status == kTooSmall) continue;
        if (status != 0) return -1;
        const auto* list = reinterpret_cast<const List*>(buffer.data());
        qint64 n = 0;
        for (ULONG_PTR i = 0; i < list->count; ++i) n += list->entries[i].processId == GetCurrentProcessId();
        return n;
    }
    return -1;
}
#endif

platform::ProcStats currentStats() {
    platform::ProcStats s = platform::CurrentProcStats();
#ifdef _WIN32
    if (s.handles == 0) s.handles = handlesInSystemList();
#endif
    return s;
}

struct Sample {
    int cycle;
    platform::ProcStats stats;
};

void print(const Sample& s, double seconds) {
    std::printf("cycle %5d  resident %8lld KB  %s %4lld  threads %3lld  elapsed %7.1f s\n", s.cycle,
                s.stats.residentBytes / 1024, kHandles, s.stats.handles, s.stats.threads, seconds);
    std::fflush(stdout);
}

int run(int port, const QString& home, int cycles, qint64 bigBytes, int warmup) {
    const QString serverDir = home + QStringLiteral("/as_files");
    const QString big = home + QStringLiteral("/soak-big.bin");
    QDir(serverDir).removeRecursively();  // what a broken run left
    if (!QDir().mkpath(serverDir) || !makeBig(big, bigBytes)) {
        std::fprintf(stderr, "cannot fill %s\n", qUtf8Printable(home));
        return 2;
    }
    for (int i = 0; i < kStaticFiles; ++i)
        writeFile(serverDir + QStringLiteral("/자료_%1.txt").arg(i, 2, 10, QLatin1Char('0')),
                  QByteArray(i * 997, char('a' + i % 26)));

    // The test environment's database is shared: a test elsewhere may have
    // its switch off for a moment.
    for (int attempt = 1; !signIn(); ++attempt) {
        std::fprintf(stderr, "the sign-in did not succeed\n");
        for (const QString& s : g_said) std::fprintf(stderr, "  message: %s\n", qUtf8Printable(s));
        if (attempt == 5) return 2;
        g_said.clear();
        QThread::sleep(3);
    }
    std::printf("signed in as %s (%s); %d cycles against port %d, %lld MiB every %d cycles\n",
                qUtf8Printable(modMain::gUserID), qUtf8Printable(modMain::gUserName), cycles, port,
                bigBytes >> 20, kEvery);

    const QString localDir = QCoreApplication::applicationDirPath() + QStringLiteral("/AS파일");
    FrmMainEndpoints at;
    at.ftpHost = QString::fromUtf8(testenv::kHost);
    at.ftpPort = port;
    at.localFolder = localDir;
    FrmMain w(at);
    w.Show();
    Soak soak(w, serverDir, localDir, big);

    QElapsedTimer clock;
    clock.start();
    std::vector<Sample> samples{{0, currentStats()}};
    print(samples.back(), 0);
    for (int n = 1; n <= cycles; ++n) {
        soak.cycle(n);
        if (n % kEvery == 0 || n == cycles) {
            samples.push_back({n, currentStats()});
            print(samples.back(), clock.nsecsElapsed() / 1e9);
        }
    }

    // The growth from the first sample at or after the warm-up to the last.
    const auto from = std::find_if(samples.begin(), samples.end(), [&](const Sample& s) { return s.cycle >= warmup; });
    if (from == samples.end() || from->cycle == samples.back().cycle) {
        std::printf("too few cycles after the warm-up (cycle %d) to judge the growth\n", warmup);
        return 0;
    }
    const platform::ProcStats& a = from->stats;
    const platform::ProcStats& b = samples.back().stats;
    qint64 peak = 0;
    for (auto s = from; s != samples.end(); ++s) peak = std::max(peak, s->stats.residentBytes - a.residentBytes);
    const qint64 grown = b.residentBytes - a.residentBytes;
    const bool held = grown < (qint64{1} << 20) && b.handles <= a.handles && b.threads <= a.threads;
    std::printf("growth from cycle %d to %d: resident %+lld KB (highest %+lld KB), %s %+lld, threads %+lld; "
                "%.2f s per cycle\n",
                from->cycle, samples.back().cycle, grown / 1024, peak / 1024, kHandles, b.handles - a.handles,
                b.threads - a.threads, clock.nsecsElapsed() / 1e9 / cycles);
    std::printf("goal (memory < 1 MB, %s and threads not at all): %s\n", kHandles, held ? "held" : "MISSED");
    return held ? 0 : 4;
}

// Below the program's log: warnings on stderr, the trace of every box only
// in the log file.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) std::fprintf(stderr, "%s\n", qUtf8Printable(text));
}

}  // namespace

int main(int argc, char** argv) {
    platform::SetUpHeap();  // as the program's main does
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    gui::SetUpKoreanUi(app);
    // Settings the sign-in form reads or writes stay out of the user's own.
    QStandardPaths::setTestModeEnabled(true);
    core::SetMsgBoxHandler([](const core::MsgBoxRecord& r) {
        g_said.push_back(r.text);
        return r.buttons == core::MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    });
    QStringList a = app.arguments();
    int cycles = 2000, warmup = 200;
    qint64 bigMib = 1024;
    for (int i = 3; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--cycles")) cycles = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--big-mib")) bigMib = a[i + 1].toLongLong();
        else if (a[i] == QLatin1String("--warmup")) warmup = a[i + 1].toInt();
    }
    if (a.size() < 3 || a[1].toInt() <= 0 || cycles <= 0 || bigMib <= 0 || (a.size() - 3) % 2) {
        std::fprintf(stderr, "usage: bench_soak <port> <server home> [--cycles N] [--big-mib M] [--warmup C]\n");
        return 1;
    }
    qInstallMessageHandler(quiet);
    core::InstallLog(a[2] + QStringLiteral("/orvel-as.log"));
    return run(a[1].toInt(), a[2], cycles, bigMib << 20, warmup);
}
