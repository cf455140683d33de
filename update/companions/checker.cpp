// Version checker: started by the program with "revision;own file name" in
// the program folder. When the update server has a higher revision of the
// program, leaves the new build there as "New_" + own file name. Exit 0 when
// nothing is newer or the new build is complete; non-zero on any failure,
// with nothing partial left behind.
#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include "core/errors.h"
#include "core/log.h"
#include "platform/dllsearch.h"
#include "update/launcher.h"
#include "formats/vbval.h"
#include "update/signedfetch.h"
#include "update/webfetch.h"

namespace {

enum Exit { Ok = 0, BadArgument = 2, NoServerText = 3, BadServerNumber = 4, DownloadFailed = 5, Unexpected = 6 };

int fail(int code, const QString& text) {
    qCWarning(core::lcUpdate).noquote() << "Quendrel.exe:" << text;
    return code;
}

bool plainFileName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    core::InstallLog();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2 || !args.at(1).contains(QLatin1Char(';')))
        return fail(BadArgument, QStringLiteral("usage: Quendrel.exe \"<revision>;<program file name>\""));

    const QString arg = args.at(1);
    const qsizetype split = arg.indexOf(QLatin1Char(';'));
    bool numeric = false;
    const qint64 revision = arg.left(split).trimmed().toLongLong(&numeric);
    const QString own = arg.mid(split + 1);
    if (!numeric) return fail(BadArgument, QStringLiteral("the revision \"%1\" is no whole number").arg(arg.left(split)));
    if (!plainFileName(own))
        return fail(BadArgument, QStringLiteral("\"%1\" is no file name in this folder").arg(own));

    const qsizetype dot = own.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? own.left(dot) : own;
    QString versionUrl = modAutoUpdateV1_Launcher::BaseUrl() + stem + QStringLiteral("_lastver.txt");
    const QString text = update::ReadUrlText(versionUrl);
    if (text.trimmed().isEmpty()) return fail(NoServerText, QStringLiteral("no revision text at ") + versionUrl);

    qint32 latest = 0;
    try {
        latest = RoundToLong(ReadLeadingNumber(text));
    } catch (const platform::Error& e) {
        return fail(BadServerNumber, QStringLiteral("the server's revision is out of range (%1)").arg(e.description()));
    }
    if (latest <= revision) return Ok;

    // "New_" appears complete and signed for this very name and the
    // announced revision, or not at all; an older build is never taken.
    const QString url = modAutoUpdateV1_Launcher::BaseUrl() + own;
    const QString local = QDir::currentPath() + QStringLiteral("/New_") + own;
    const update::Verdict verdict = update::DownloadSigned(url, local, {own, latest, latest});
    if (verdict != update::Verdict::Accepted)
        return fail(DownloadFailed, QStringLiteral("refused %1: %2").arg(url, update::VerdictText(verdict)));
    return Ok;
}

}  // namespace

// Whatever goes wrong ends in a failure code the launcher can see, never in
// an abort.
int main(int argc, char** argv) {
    platform::HardenDllSearch();
    try {
        return run(argc, argv);
    } catch (const std::exception&) {
        const platform::Error e = core::CurrentError();
        return fail(Unexpected, QStringLiteral("error %1 (%2)").arg(e.number()).arg(e.description()));
    }
}
