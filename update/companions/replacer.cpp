// File replacer: started by the program with "own file name;New_ + own file
// name" just before it ends. Waits until no process runs the old program
// file any more, checks that the new build is signed by the company for this
// program and newer than the old one, moves it over the old file in one step
// and starts the program again. Whatever fails, the "New_" file is removed
// (or every start would hand over again) and the old program comes back.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <cstring>

#include "core/errors.h"
#include "core/log.h"
#include "core/msgbox.h"
#include "platform/dllsearch.h"
#include "formats/versioninfo.h"
#include "platform/files.h"
#include "platform/nativemsgbox.h"
#include "platform/process.h"
#include "update/signature.h"

namespace {

enum Exit { Ok = 0, BadArgument = 2, NothingToInstall = 3, StillRunning = 4, MoveFailed = 5, RestartFailed = 6,
            Refused = 7 };

constexpr int kWaitMs = 60000;
constexpr int kPollMs = 100;
// A virus scanner or a reader may hold the old file for a moment.
constexpr int kMoveTries = 20;
constexpr int kMoveRetryMs = 250;

int fail(int code, const QString& text) {
    qCWarning(core::lcUpdate).noquote() << "sarvix.exe:" << text;
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

// The revision of the installed program: the last part of its file version.
qint32 installedRevision(const QString& path) {
    const QString version = GetFileVer(path, true, true);
    return version.mid(version.lastIndexOf(QLatin1Char('.')) + 1).toInt();
}

void removeNewBuild(const QString& newPath) {
    QFile::remove(newPath);
    QFile::remove(newPath + QLatin1String(update::kSignatureSuffix));
}

int startOld(const QString& oldPath, const QString& folder, int code) {
    const platform::ProcessOutcome started =
        platform::StartProcessDetached(oldPath, {}, folder, platform::ShowState::Normal);
    if (!started.started)
        return fail(RestartFailed, QStringLiteral("cannot start %1: %2")
                                       .arg(oldPath, platform::SystemErrorText(started.error)));
    return code;
}

// The user learns that the update did not happen; the old program goes on.
void tellNotInstalled() {
    core::MsgBox(QStringLiteral("업데이트를 설치하지 못했습니다.\r\n기존 버전의 프로그램을 다시 시작합니다."),
                     core::MsgButtons::Ok, core::MsgIcon::Exclamation, core::AppTitle());
}

}  // namespace

int main(int argc, char** argv) {
    platform::HardenDllSearch();
    QCoreApplication app(argc, argv);
    core::InstallLog();
    // No window toolkit here: the system draws the one box this program shows.
    core::SetMsgBoxDisplay({[](const core::MsgBoxRecord& box) {
                                    platform::ShowNativeMessageBox(box.text, box.title);
                                    return core::MsgAnswer::Ok;
                                },
                                {}});
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
        if (waited >= kWaitMs) {
            // The old program still runs: it is not started a second time.
            tellNotInstalled();
            removeNewBuild(newPath);
            return fail(StillRunning, oldPath + QStringLiteral(" is still running; nothing replaced"));
        }
        QThread::msleep(kPollMs);
        waited += kPollMs;
    }

    // Only the company's build of this program, newer than the installed one.
    const qint32 installed = installedRevision(oldPath);
    const update::Verdict verdict =
        installed < 0x7fffffff ? update::VerifyFile(newPath, {oldName, installed + 1}) : update::Verdict::WrongRevision;
    if (verdict != update::Verdict::Accepted) {
        removeNewBuild(newPath);
        fail(Refused, QStringLiteral("refused %1: %2").arg(newPath, update::VerdictText(verdict)));
        return startOld(oldPath, folder, Refused);
    }

    // The new build must be runnable before it takes the old one's place.
    // One step: either the old file or the complete new one, never neither;
    // the "New_" name is gone with it.
    QString error;
    bool moved = false;
    for (int attempt = 0; attempt < kMoveTries && !moved; ++attempt) {
        if (attempt > 0) QThread::msleep(kMoveRetryMs);
        moved = platform::MakeRunnable(newPath, &error) && platform::ReplaceFile(newPath, oldPath, &error);
    }
    if (!moved) {
        fail(MoveFailed, QStringLiteral("cannot replace %1: %2").arg(oldPath, error));
        tellNotInstalled();
        removeNewBuild(newPath);
        return startOld(oldPath, folder, MoveFailed);
    }
    // The signature goes along: it vouches for the installed file now.
    platform::ReplaceFile(newPath + QLatin1String(update::kSignatureSuffix),
                          oldPath + QLatin1String(update::kSignatureSuffix));

    qCInfo(core::lcUpdate).noquote() << "sarvix.exe: installed" << newPath << "as" << oldPath;
    return startOld(oldPath, folder, Ok);
}
