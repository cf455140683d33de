// File replacer: started by the program with "own file name;New_ + own file
// name" just before it ends. Waits until no process runs the old program
// file any more, moves the new build over it in one step and starts the
// program again. When the move fails, the old file stays as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>

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
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

// True while some process (other than us) executes `path`. Processes we may
// not inspect cannot be the user's program and are skipped.
bool isRunning(const QByteArray& path) {
    const QDir proc(QStringLiteral("/proc"));
    const pid_t self = ::getpid();
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const long pid = entry.toLong(&isPid);
        if (!isPid || pid == self) continue;
        char target[4096];
        const QByteArray link = QByteArrayLiteral("/proc/") + entry.toLatin1() + QByteArrayLiteral("/exe");
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n <= 0) continue;
        if (QByteArray(target, static_cast<qsizetype>(n)) == path) return true;
    }
    return false;
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
    const QByteArray oldBytes = QFile::encodeName(oldPath);
    const QByteArray newBytes = QFile::encodeName(newPath);

    struct stat st {};
    if (::stat(newBytes.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail(NothingToInstall, QStringLiteral("no new build at ") + newPath);

    // The program ends right after starting us; give it time to be gone.
    const QFileInfo oldInfo(oldPath);
    const QByteArray runningPath = QFile::encodeName(oldInfo.exists() ? oldInfo.canonicalFilePath() : oldPath);
    int waited = 0;
    while (isRunning(runningPath)) {
        if (waited >= kWaitMs) return fail(StillRunning, oldPath + QStringLiteral(" is still running; nothing replaced"));
        QThread::msleep(kPollMs);
        waited += kPollMs;
    }

    // The new build must be runnable before it takes the old one's place.
    const mode_t runBits = (st.st_mode & S_IRUSR ? S_IXUSR : 0) | (st.st_mode & S_IRGRP ? S_IXGRP : 0) |
                           (st.st_mode & S_IROTH ? S_IXOTH : 0);
    if ((st.st_mode & runBits) != runBits && ::chmod(newBytes.constData(), (st.st_mode & 07777) | runBits) != 0)
        return fail(MoveFailed, QStringLiteral("cannot make %1 runnable: %2").arg(newPath, QString::fromLocal8Bit(std::strerror(errno))));

    // One step: either the old file or the complete new one, never neither;
    // the "New_" name is gone with it.
    if (::rename(newBytes.constData(), oldBytes.constData()) != 0)
        return fail(MoveFailed, QStringLiteral("cannot replace %1: %2").arg(oldPath, QString::fromLocal8Bit(std::strerror(errno))));

    const platform::ProcessOutcome started =
        platform::StartProcessDetached(oldPath, {}, folder, platform::ShowState::Normal);
    if (!started.started)
        return fail(RestartFailed, QStringLiteral("installed, but cannot start %1: %2")
                                       .arg(oldPath, QString::fromLocal8Bit(std::strerror(started.error))));
    return Ok;
}
