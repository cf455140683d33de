#include "update/launcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <utility>

#include "buildconfig.h"
#include "core/errors.h"
#include "core/log.h"
#include "platform/files.h"
#include "core/msgbox.h"
#include "platform/process.h"
#include "core/terminate.h"
#include "core/tls.h"
#include "formats/vbval.h"
#include "formats/versioninfo.h"
#include "update/signature.h"
#include "update/signedfetch.h"
#include "update/waitproc.h"
#include "update/webfetch.h"

namespace modAutoUpdateV1_Launcher {

namespace {

const QString kModule = QStringLiteral("modAutoUpdateV1_Launcher");
const QString kCheckerName = QStringLiteral("Quendrel.exe");
const QString kReplacerName = QStringLiteral("sarvix.exe");
const QString kNewPrefix = QStringLiteral("New_");

// Runs one step; an error it raises is reported under the procedure's name
// and the caller goes on with the next step. False when the step failed.
template <class Step>
bool trapped(const QString& procedure, Step&& step) {
    return core::TrapErrors(procedure, kModule, core::ModuleKind::Module, std::forward<Step>(step));
}

QString inFolder(const QString& folder, const QString& name) { return folder + QLatin1Char('/') + name; }

// The companions count as installed only when both carry the company's
// signature, for one and the same release.
bool companionsSigned(const QString& folder) {
    qint32 checker = -1, replacer = -2;
    const update::Verdict c = update::VerifyFile(inFolder(folder, kCheckerName), {kCheckerName}, &checker);
    const update::Verdict r = update::VerifyFile(inFolder(folder, kReplacerName), {kReplacerName}, &replacer);
    if (c == update::Verdict::Accepted && r == update::Verdict::Accepted && checker == replacer) return true;
    qCWarning(core::lcUpdate).noquote() << "the companions are no signed release (" << kCheckerName << ":"
                                        << update::VerdictText(c) << "," << kReplacerName << ":"
                                        << update::VerdictText(r) << "); both are fetched again";
    return false;
}

// Checks a local file before it runs; why it may not is logged.
bool mayRun(const QString& path, const update::Expectation& expect) {
    const update::Verdict v = update::VerifyFile(path, expect);
    if (v != update::Verdict::Accepted)
        qCWarning(core::lcUpdate).noquote() << "not running" << path << "-" << update::VerdictText(v);
    return v == update::Verdict::Accepted;
}

// Removes a file and the signature kept beside it.
void removeWithSignature(const QString& path) {
    QFile::remove(path);
    QFile::remove(path + QLatin1String(update::kSignatureSuffix));
}

// Leading and trailing space characters only; tabs and line breaks stay.
QString trimSpaces(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' ')) ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' ')) --e;
    return s.mid(b, e - b);
}

}  // namespace

QString BaseUrl() {
    // With the update server's TLS setting on, https and nothing else.
    const bool secure = core::UpdateTlsSetting().required;
    return (secure ? QStringLiteral("https://") : QStringLiteral("http://")) + QString::fromUtf8(buildconfig::kUpdateHost) +
           QStringLiteral("/download/자동업데이트_v1/");
}

QString FindNormalFile(const QString& folder, const QString& name) {
    if (name.startsWith(QLatin1Char('.'))) return QString();
    return platform::FindPlainFile(folder, name);
}

bool AutoUpdaterSelfUpdate(const QString& programFolder, const QString& baseUrl) {
    const QString procedure = QStringLiteral("AutoUpdaterSelfUpdate");
    const QString name = kCheckerName;
    const QString localPath = inFolder(programFolder, name);

    QString localRevText = QStringLiteral("0");
    trapped(procedure, [&] {
        if (FindNormalFile(programFolder, name).isEmpty()) return;
        // Unsigned companions are as good as none: the signed ones replace them.
        if (!companionsSigned(programFolder)) return;
        const QString ver = GetFileVer(localPath, true, true);
        localRevText = ver.mid(ver.lastIndexOf(QLatin1Char('.')) + 1);
    });

    const QString versionFile = name.left(name.lastIndexOf(QLatin1Char('.'))) + QStringLiteral("_lastver.txt");
    QString serverText;
    trapped(procedure, [&] {
        QString url = baseUrl + versionFile;
        serverText = update::ReadUrlText(url);
    });

    if (trimSpaces(serverText).isEmpty()) {
        core::MsgBox(name + QStringLiteral("의 최신버전 정보를 읽어올 수 없습니다!"), core::MsgButtons::Ok,
                         core::MsgIcon::Critical, core::AppTitle());
        return false;
    }

    // A number beyond the 32-bit range is reported and counts as 0.
    qint32 serverRev = 0;
    trapped(procedure, [&] { serverRev = RoundToLong(ReadLeadingNumber(serverText)); });
    const double localRev = ReadLeadingNumber(localRevText);
    if (localRev >= serverRev) return true;

    // Both companions are one release: each must be signed for its own name
    // and for the revision the server announced.
    bool ok = false;
    trapped(procedure, [&] {
        ok = update::DownloadSigned(baseUrl + name, localPath, {name, serverRev, serverRev}) ==
             update::Verdict::Accepted;
    });
    if (!ok) return false;

    ok = false;
    trapped(procedure, [&] {
        ok = update::DownloadSigned(baseUrl + kReplacerName, inFolder(programFolder, kReplacerName),
                                    {kReplacerName, serverRev, serverRev}) == update::Verdict::Accepted;
    });
    return ok;
}

void RunAutoUpdate(bool& SkipSelfUpdate, const QString& programFolder, const QString& ownFileName, int revision) {
    const QString procedure = QStringLiteral("RunAutoUpdate");

    if (!SkipSelfUpdate) {
        bool mayRun = false;
        trapped(procedure, [&] { mayRun = AutoUpdaterSelfUpdate(programFolder); });
        if (!mayRun) return;
    }

    const QString checkerPath = inFolder(programFolder, kCheckerName);

    QString own;
    trapped(procedure, [&] { own = FindNormalFile(programFolder, ownFileName); });
    if (own.isEmpty()) return;

    // A checker that is not the company's counts as one that cannot be started.
    const QString parameters = QString::number(revision) + QLatin1Char(';') + own;
    trapped(procedure, [&] {
        if (mayRun(checkerPath, {kCheckerName}))
            modWaitProc::RunAndWait(checkerPath, 0, parameters, programFolder, false, false);
    });

    QString waiting;
    trapped(procedure, [&] { waiting = FindNormalFile(programFolder, kNewPrefix + own); });
    if (waiting.isEmpty()) return;
    // Only a signed build of this program, newer than the running one, is
    // handed over; anything else is removed and counts as not found.
    bool newBuildSigned = false;
    trapped(procedure, [&] {
        newBuildSigned = revision < 0x7fffffff && mayRun(inFolder(programFolder, waiting), {own, revision + 1});
        if (!newBuildSigned) removeWithSignature(inFolder(programFolder, waiting));
    });
    if (!newBuildSigned) return;

    const QString replacerPath = inFolder(programFolder, kReplacerName);
    bool haveReplacer = false;
    trapped(procedure, [&] {
        haveReplacer = !FindNormalFile(programFolder, kReplacerName).isEmpty() &&
                       mayRun(replacerPath, {kReplacerName});
    });
    if (!haveReplacer) {
        core::MsgBox(QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.") + QStringLiteral("\r\n\r\n") +
                             QDir::toNativeSeparators(replacerPath),
                         core::MsgButtons::Ok, core::MsgIcon::None, core::AppTitle());
        platform::OpenFolderInFileManager(programFolder);
        core::EndProgramNow(core::ExitCode::ReplacerMissing);
    }

    trapped(procedure, [&] {
        const platform::ProcessOutcome started = platform::StartProcessDetached(
            replacerPath, {own + QLatin1Char(';') + kNewPrefix + own}, programFolder, platform::ShowState::Minimized);
        // A program that is there but cannot be run is no file error.
        if (!started.started)
            throw core::RuntimeError(core::RuntimeErrorNumber(
                platform::ClassifySystemError(started.error), core::err::InvalidProcedureCall));
    });
    core::EndProgramNow(core::ExitCode::UpdateHandover);
}

void RunAutoUpdate(bool& SkipSelfUpdate) {
    const QString folder = QCoreApplication::applicationDirPath();
    const QString own = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    RunAutoUpdate(SkipSelfUpdate, folder, own, buildconfig::kRevision);
}

bool AutoUpdaterSelfUpdate() { return AutoUpdaterSelfUpdate(QCoreApplication::applicationDirPath()); }

}  // namespace modAutoUpdateV1_Launcher
