#include "dbtest.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <atomic>

#include "db/cmysql.h"
#include "formats/profile.h"
#include "testsupport.h"

namespace dbtest {

const QString kUser = QString::fromUtf8(testenv::db::kUser);
const QString kPassword = QString::fromUtf8(testenv::db::kPassword);
const QString kRetryUser = QString::fromUtf8(testenv::db::kRetryUser);
const QString kRetryPassword = QString::fromUtf8(testenv::db::kRetryPassword);

bool Connect(cMySQL& c, int port, const QString& user, const QString& password, const QString& charset,
             bool noErrMsg) {
    return c.real_connect(testsupport::Env::dbHost(), user, password, QString::fromUtf8(testenv::db::kName),
                          port, QString(), 0, noErrMsg, charset);
}

QString Lpid(const QString& section, const QString& user) {
    return formats::GetPrivateProfileString(section, user, QStringLiteral("<none>"), 100,
                                             QCoreApplication::applicationDirPath() +
                                                 QStringLiteral("/config.ini"));
}

std::vector<QString> LoggedQueries(const QString& logFile, int threadId) {
    // "[yymmdd hh:mm:ss]\t\t   <id> <Command>\t<argument>"; a statement that
    // spans lines continues on lines without that prefix.
    static const QRegularExpression line(QStringLiteral("^[^\\t]*\\t+\\s*(\\d+) ([A-Za-z_ ]+)\\t(.*)$"));
    std::vector<QString> out;
    QFile f(logFile);
    if (!f.open(QIODevice::ReadOnly)) return out;
    bool continuing = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString l = QString::fromUtf8(raw);
        if (l.isEmpty()) continue;
        const auto m = line.match(l);
        if (!m.hasMatch()) {
            if (continuing && !out.empty()) out.back() += QLatin1Char('\n') + l;
            continue;
        }
        const bool ours = m.captured(1).toInt() == threadId;
        // Thread ids start again after a server restart: only the latest
        // connection of that id counts.
        if (ours && m.captured(2) == QLatin1String("Connect")) out.clear();
        continuing = ours && m.captured(2) == QLatin1String("Query");
        if (continuing) out.push_back(m.captured(3));
    }
    return out;
}

QString Unique(const QString& stem) {
    static std::atomic<int> n{0};
    return stem + QLatin1Char('_') + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('_') +
           QString::number(++n);
}

}  // namespace dbtest
