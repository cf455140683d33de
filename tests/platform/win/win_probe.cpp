// Started by test_winplatform to see how a started program is started:
//   win_probe args <file> ARG...   writes the arguments as the system's
//                                  parser splits them, one per line; exits
//                                  with 40 + their number
//   win_probe instance             exits 1 when another copy runs, else 0
//   win_probe hold <folder>        takes the instance lock, writes
//                                  <folder>/ready, ends when <folder>/stop
//                                  appears (at most after 60 s)
//   win_probe dllsearch <name>     loads the library <name> by its bare
//                                  name before and after hardening the
//                                  search; exits with 1 if it loaded
//                                  before, + 2 if hardening held, + 4 if
//                                  it loaded after
//   win_probe                      writes "restarted" beside itself
#include <windows.h>
#include <shellapi.h>

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include "platform/dllsearch.h"
#include "platform/singleinstance.h"

namespace {

void touch(const QString& path) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write("1");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int n = 0;
    wchar_t** w = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    QStringList args;
    for (int i = 0; i < n; ++i) args << QString::fromWCharArray(w[i]);
    ::LocalFree(w);

    if (args.size() < 2) {
        touch(QCoreApplication::applicationDirPath() + QStringLiteral("/restarted"));
        return 0;
    }
    const QString mode = args.at(1);
    if (mode == QLatin1String("args") && args.size() >= 3) {
        QFile out(args.at(2));
        if (!out.open(QIODevice::WriteOnly)) return 2;
        const QStringList rest = args.mid(3);
        for (const QString& a : rest) out.write(a.toUtf8() + '\n');
        return 40 + static_cast<int>(rest.size());
    }
    if (mode == QLatin1String("instance")) return platform::PrevInstance() ? 1 : 0;
    if (mode == QLatin1String("dllsearch") && args.size() == 3) {
        const std::wstring name = args.at(2).toStdWString();
        auto loads = [&] {
            const HMODULE m = ::LoadLibraryW(name.c_str());
            if (m) ::FreeLibrary(m);
            return m != nullptr;
        };
        const bool before = loads();
        const bool hardened = platform::HardenDllSearch();
        return (before ? 1 : 0) + (hardened ? 2 : 0) + (loads() ? 4 : 0);
    }
    if (mode == QLatin1String("hold") && args.size() == 3) {
        if (platform::PrevInstance()) return 1;
        touch(args.at(2) + QStringLiteral("/ready"));
        for (int waited = 0; waited < 60000 && !QFile::exists(args.at(2) + QStringLiteral("/stop")); waited += 20)
            QThread::msleep(20);
        return 0;
    }
    return 2;
}
