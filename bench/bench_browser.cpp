// Figures for the main window's listing and download, each against curl on
// the same server in the same run, per round and as the median (with the
// spread: lowest and highest round).
//   bench_browser list <mlsd port> <list-only port> <rounds> <port of a one-file folder>
//   bench_browser download <port> <name> <server-side path> <rounds>
// The window is the real one (offscreen): the listing is timed from the
// refresh command until its list holds every line (the refresh first empties
// it); the download is the double-click command, message boxes answered at
// once. The list's resident memory is the growth of the process from a window
// showing one file until a second window's first listing is in, per entry.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#ifdef __linux__
#include <sys/resource.h>
#endif
#ifdef _WIN32
#include <windows.h>
#endif
#include <vector>

#include "browser/frmmain.h"
#include "core/msgbox.h"
#include "platform/procstats.h"
#include "testendpoints.h"

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// "median (lowest-highest)" with `digits` decimals.
QByteArray spread(const std::vector<double>& v, int digits) {
    if (v.empty()) return "-";
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return QByteArray::number(median(v), 'f', digits) + " (" + QByteArray::number(*lo, 'f', digits) + "-" +
           QByteArray::number(*hi, 'f', digits) + ")";
}

// Resident memory in KB: VmRSS on Linux, the working set on Windows.
long residentKb() { return static_cast<long>(platform::CurrentProcStats().residentBytes / 1024); }

// A figure of /proc/self/status in KB ("VmHWM"); -1 where there is none.
long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(prefix)) return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Starts the peak (VmHWM) afresh from the present size.
void resetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

double runCurl(const QStringList& args) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(QStringLiteral("curl"), args);
    p.waitForFinished(-1);
    if (p.exitCode() != 0) std::fprintf(stderr, "curl failed: %s\n", p.readAllStandardError().constData());
    return t.nsecsElapsed() / 1e9;
}

// CPU seconds this process has used (both threads); 0 where unknown.
double cpuSeconds() {
#ifdef __linux__
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
#elif defined(_WIN32)
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
    const auto secs = [](const FILETIME& f) {
        return ((static_cast<quint64>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
    };
    return secs(kernel) + secs(user);
#else
    return 0;
#endif
}

void syncDisks() { QProcess::execute(QStringLiteral("sync"), {}); }

// Under wine the system's curl cannot be timed from inside (wine gives a
// Windows program no handle of a Linux process to wait on): scripts/bench
// times it outside, on the same server in the same run, and passes the
// seconds of each round as BENCH_CURL_MLSD / BENCH_CURL_LIST.
std::optional<double> curlTimedOutside(const char* kind, int round) {
    const QByteArray given = qgetenv((QByteArray("BENCH_CURL_") + kind).constData());
    if (given.isEmpty()) return std::nullopt;
    const QList<QByteArray> rounds = given.split(',');
    return rounds.value(round % rounds.size()).toDouble();
}

QString ftpUrl(int port, const QString& path) {
    return QStringLiteral("ftp://%1:%2@%3:%4/%5")
        .arg(testenv::ftp::kUser, testenv::ftp::kPassword, testenv::kHost)
        .arg(port)
        .arg(path);
}

// The window on the server at `port`, shown (first listing done), with its
// download folder beside the program as in real use.
std::unique_ptr<FrmMain> openWindow(int port) {
    FrmMainEndpoints at;
    at.ftpHost = QString::fromUtf8(testenv::kHost);
    at.ftpPort = port;
    at.localFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/AS파일");
    auto w = std::make_unique<FrmMain>(at);
    w->Show();
    return w;
}

// The form's controls, by the names the form gives them.
QListView* listOf(FrmMain& w) { return w.findChild<QListView*>(QStringLiteral("List1")); }
int lineCount(FrmMain& w) { return listOf(w)->model()->rowCount(); }
void refresh(FrmMain& w) { w.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click(); }
// What a double-click on the selected line runs.
void downloadSelected(FrmMain& w) {
    QListView* list = listOf(w);
    Q_EMIT list->doubleClicked(list->currentIndex());
}

// The largest gap between two runs of the window thread's event loop,
// seen by a 10 ms timer on that thread.
class Watchdog {
public:
    Watchdog() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        worst_ = 0;
        since_.start();
        timer_.start();
    }
    double stop() {
        tick();
        timer_.stop();
        return worst_ / 1e3;
    }

private:
    void tick() {
        worst_ = std::max(worst_, since_.restart());
    }
    QTimer timer_;
    QElapsedTimer since_;
    qint64 worst_ = 0;
};

// Lets the window thread run its event loop for `ms` (pending layout and
// painting included).
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int list(int mlsdPort, int listPort, int rounds, int idlePort) {
    struct Kind {
        const char* name;
        int port;
        QStringList curlExtra;
        std::unique_ptr<FrmMain> w;
        std::vector<double> ours, curl, ratio, stall, peak;
    };
    Kind kinds[] = {{"MLSD", mlsdPort, {QStringLiteral("-X"), QStringLiteral("MLSD")}, nullptr, {}, {}, {}, {}, {}},
                    {"LIST", listPort, {}, nullptr, {}, {}, {}, {}, {}}};
    int count = -1;
    Watchdog dog;
    // Idle: a window open on a folder of one file, drawn and settled.
    const auto idleWindow = openWindow(idlePort);
    settle(300);
    const long idle = residentKb();
    double perEntry = 0;
    for (Kind& k : kinds) {
        k.w = openWindow(k.port);
        settle(300);
        if (count < 0) {
            count = lineCount(*k.w);
            perEntry = count > 0 ? (residentKb() - idle) * 1024.0 / count : 0;
            std::printf("listing: %d entries: resident memory of the list %.0f bytes per entry above idle (idle RSS "
                        "%.1f MB)\n",
                        count, perEntry, idle / 1024.0);
            std::fflush(stdout);
        } else if (lineCount(*k.w) != count) {
            std::fprintf(stderr, "LIST and MLSD disagree: %d and %d lines\n", count, lineCount(*k.w));
            return 3;
        }
    }
    std::printf("listing: %d entries, TZ=%s (time until the list is full; curl: raw listing to /dev/null)\n", count,
                qgetenv("TZ").constData());
    for (int r = 0; r < rounds; ++r) {
        for (Kind& k : kinds) {
            QStringList args = {QStringLiteral("-s"), QStringLiteral("--ftp-port"), QStringLiteral("-"),
                                QStringLiteral("-o"), QStringLiteral("/dev/null")};
            args += k.curlExtra;
            args << ftpUrl(k.port, QStringLiteral("as_files/"));
            // The single-threaded server may still be tidying up after a
            // listing of a million lines when the next one comes in: each
            // side gets the same pause before it, and who goes first
            // alternates by round.
            double c = 0;
            const auto timeCurl = [&] {
                settle(500);
                const auto outside = curlTimedOutside(k.name, r);
                c = outside ? *outside : runCurl(args);
            };
            if (r % 2 == 0) timeCurl();
            settle(500);
            const long before = statusKb("VmRSS");
            resetPeak();
            dog.start();
            const double cpu0 = cpuSeconds();
            QElapsedTimer t;
            t.start();
            refresh(*k.w);
            const double o = t.nsecsElapsed() / 1e9;
            const double cpu = cpuSeconds() - cpu0;
            // What the view still has to do for the new rows (layout, the
            // first paint) counts as a stall too.
            settle(200);
            const double gap = dog.stop();
            // The peak is known on Linux only (-1 elsewhere).
            const long hwm = statusKb("VmHWM");
            const double peak = count > 0 && hwm >= 0 && before >= 0 ? (hwm - before) * 1024.0 / count : -1;
            if (lineCount(*k.w) != count) {
                std::fprintf(stderr, "%s round %d: %d lines, expected %d\n", k.name, r + 1, lineCount(*k.w), count);
                return 3;
            }
            if (r % 2 == 1) timeCurl();
            k.ours.push_back(o);
            k.curl.push_back(c);
            k.ratio.push_back(o / c);
            k.stall.push_back(gap * 1e3);
            k.peak.push_back(peak);
            const char* when = curlTimedOutside(k.name, r) ? "timed outside" : r % 2 == 0 ? "first" : "second";
            std::printf("  round %d %s: orvel-as %.3f s (CPU %.2f s), curl %.3f s (%s), ratio %.2f, longest stall "
                        "%.0f ms, peak during the refresh +%.0f bytes per entry\n",
                        r + 1, k.name, o, cpu, c, when, o / c, gap * 1e3, peak);
            std::fflush(stdout);
        }
    }
    double worst = 0;
    for (const Kind& k : kinds) {
        std::printf("  median (lowest-highest) %s: orvel-as %s s, curl %s s, ratio %s, longest stall %s ms, "
                    "peak +%s bytes per entry\n",
                    k.name, spread(k.ours, 3).constData(), spread(k.curl, 3).constData(),
                    spread(k.ratio, 2).constData(), spread(k.stall, 0).constData(), spread(k.peak, 0).constData());
        worst = std::max(worst, median(k.ratio));
    }
    std::printf("  listing ratio (the worse of the two medians): %.2f x curl\n", worst);
    return 0;
}

int download(int port, const QString& name, const QString& source, int rounds) {
    std::vector<QString> said;
    core::SetMsgBoxHandler([&said](const core::MsgBoxRecord& r) {
        said.push_back(r.text);
        return core::MsgAnswer::Ok;
    });
    auto w = openWindow(port);
    bool found = false;
    QListView* list = listOf(*w);
    for (int i = 0; i < lineCount(*w) && !found; ++i)
        if (list->model()->index(i, 0).data(Qt::UserRole).toString() == name) {
            list->setCurrentIndex(list->model()->index(i, 0));
            found = true;
        }
    if (!found) {
        std::fprintf(stderr, "%s is not listed\n", qUtf8Printable(name));
        return 2;
    }
    const qint64 size = QFileInfo(source).size();
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/AS파일");
    const QString local = folder + QLatin1Char('/') + name;
    const QString curlOut = folder + QStringLiteral("/curl-") + name;
    // Idle means shown and drawn: the first paint's caches are no download's.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    const long idle = statusKb("VmRSS");
    std::printf("download: %s, %.0f MB into %s (curl -o into the same folder; disks synced between runs)\n",
                qUtf8Printable(name), size / 1e6, qUtf8Printable(folder));
    std::vector<double> ours, theirs, ratio, peak, stall;
    Watchdog dog;
    for (int r = 0; r < rounds; ++r) {
        QFile::remove(local);
        syncDisks();
        const double c = runCurl({QStringLiteral("-s"), QStringLiteral("--ftp-port"), QStringLiteral("-"),
                                  QStringLiteral("-o"), curlOut, ftpUrl(port, QStringLiteral("as_files/") + name)});
        const bool curlWhole = QFileInfo(curlOut).size() == size;
        QFile::remove(curlOut);
        syncDisks();

        said.clear();
        resetPeak();
        dog.start();
        QElapsedTimer t;
        t.start();
        downloadSelected(*w);
        const double o = t.nsecsElapsed() / 1e9;
        const double gap = dog.stop();
        const long above = statusKb("VmHWM") - idle;
        const bool exact = said == std::vector<QString>{QStringLiteral("파일다운로드가 완료되었습니다.")} &&
                           QProcess::execute(QStringLiteral("cmp"), {QStringLiteral("-s"), source, local}) == 0;
        if (!exact || !curlWhole) {
            std::fprintf(stderr, "round %d: %s\n", r + 1, !exact ? "the download is not exact" : "curl fell short");
            for (const QString& s : said) std::fprintf(stderr, "  message: %s\n", qUtf8Printable(s));
            return 3;
        }
        const double mbO = size / 1e6 / o, mbC = size / 1e6 / c;
        ours.push_back(mbO);
        theirs.push_back(mbC);
        ratio.push_back(mbO / mbC);
        peak.push_back(above / 1024.0);
        stall.push_back(gap);
        std::printf("  round %d: orvel-as %.1f MB/s, curl -o %.1f MB/s, ratio %.2f, peak RSS +%.1f MB, "
                    "longest stall %.3f s\n",
                    r + 1, mbO, mbC, mbO / mbC, above / 1024.0, gap);
    }
    QFile::remove(local);
    std::printf("  median : orvel-as %.1f MB/s, curl -o %.1f MB/s, ratio %.2f, peak RSS +%.1f MB, "
                "longest stall %.3f s (idle RSS %.1f MB)\n",
                median(ours), median(theirs), median(ratio), median(peak), median(stall), idle / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    core::SetMsgBoxHandler([](const core::MsgBoxRecord& r) {
        std::fprintf(stderr, "message: %s\n", r.text.toUtf8().constData());
        return core::MsgAnswer::Ok;
    });
    const QStringList a = app.arguments();
    if (a.size() >= 6 && a[1] == QLatin1String("list"))
        return list(a[2].toInt(), a[3].toInt(), a[4].toInt(), a[5].toInt());
    if (a.size() >= 6 && a[1] == QLatin1String("download"))
        return download(a[2].toInt(), a[3], a[4], a[5].toInt());
    std::fprintf(stderr,
                 "usage: bench_browser list <mlsd port> <list-only port> <rounds> <port of a one-file folder>\n"
                 "       bench_browser download <port> <name> <server-side path> <rounds>\n");
    return 1;
}
