// File replacer: started by the program with "own file name;New_ + own file
// name" just before it ends. Waits until no process runs the old program
// file any more, moves the new build over it in one step and starts the
// program again. When the move fails, the old file stays as it was.
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

enum Exit { Ok = 0, BadArgument = 2, NothingToInstall = 3, StillRunning = 4, MoveFailed = 5, RestartFailed = 6 };

constexpr int kWaitMs = 60000;
constexpr int kPollMs = 100;

int fail(int code, const QString& text) {
    std::fprintf(stderr, "sarvix.exe: %s\n", text.toLocal8Bit().constData());
    return code;
}

bool plainFileName(const QString& name) {
    // On Windows a "\" or a drive's ":" also leads out of the folder.
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..")
#ifdef Q_OS_WIN
           && !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char(':'))
#endif
        ;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString arg = args.size() == 2 ? args.at(1) : QString();
    const qsizetype split = arg.indexOf(QLatin1Char(';'));
    const QString oldName = split > 0 ? arg.left(split) : QString();
    const QString newName = split > 0 ? arg.mid(split + 1) : QString();
    if (!plainFileName(oldName) || !plainFileName(newName) || oldName == newName)
        return fail(BadArgument, QStringLiteral("usage: sarvix.exe \"<program file>;<new build file>\""));

    // Both files live beside the replacer.
    const QString folder = QCoreApplication::applicationDirPath();
    const QString oldPath = folder + QLatin1Char('/') + oldName;
    const QString newPath = folder + QLatin1Char('/') + newName;
    if (!QFileInfo(newPath).isFile()) return fail(NothingToInstall, QStringLiteral("no new build at ") + newPath);

    // The program ends right after starting us; give it time to be gone.
    const platform::FileId running = platform::FileIdentity(oldPath);
    int waited = 0;
    while (platform::IsRunningProgram(running)) {
        if (waited >= kWaitMs) return fail(StillRunning, oldPath + QStringLiteral(" is still running; nothing replaced"));
        QThread::msleep(kPollMs);
        waited += kPollMs;
    }

    // The new build must be runnable before it takes the old one's place.
    QString error;
    if (!platform::MakeRunnable(newPath, &error))
        return fail(MoveFailed, QStringLiteral("cannot make %1 runnable: %2").arg(newPath, error));

    // One step: either the old file or the complete new one, never neither;
    // the "New_" name is gone with it.
    if (!platform::ReplaceFile(newPath, oldPath, &error))
        return fail(MoveFailed, QStringLiteral("cannot replace %1: %2").arg(oldPath, error));

    const platform::ProcessOutcome started =
        platform::StartProcessDetached(oldPath, {}, folder, platform::ShowState::Normal);
    if (!started.started)
        return fail(RestartFailed, QStringLiteral("installed, but cannot start %1: %2")
                                       .arg(oldPath, platform::SystemErrorText(started.error)));
    return Ok;
}
