#include "testsupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <stdexcept>

namespace testsupport {

ScriptedMsgBoxes::ScriptedMsgBoxes() {
    platform::setMsgBoxHandler([this](const platform::MsgBoxRecord& r) {
        shown_.push_back(r);
        if (onShow) onShow(r);
        if (r.buttons == platform::MsgButtons::YesNo) {
            if (answers_.empty()) return platform::MsgAnswer::No;
            auto a = answers_.front();
            answers_.pop_front();
            return a;
        }
        return platform::MsgAnswer::Ok;
    });
}

ScriptedMsgBoxes::~ScriptedMsgBoxes() { platform::setMsgBoxHandler({}); }

std::vector<QString> ScriptedMsgBoxes::texts() const {
    std::vector<QString> t;
    for (const auto& r : shown_) t.push_back(r.text);
    return t;
}

InterceptEnd::InterceptEnd() {
    platform::setEndProgramHook([](platform::ExitCode c) { throw ProgramEnded{c}; });
}
InterceptEnd::~InterceptEnd() { platform::setEndProgramHook({}); }

namespace {
QString envOr(const char* name, const QString& def) {
    const QString v = QProcessEnvironment::systemEnvironment().value(QString::fromLatin1(name));
    return v.isEmpty() ? def : v;
}
}  // namespace

QString Env::dbHost() { return envOr("ORVEL_TEST_DB_HOST", QStringLiteral("127.0.0.1")); }
int Env::dbPort() { return envOr("ORVEL_TEST_DB_PORT", QStringLiteral("3306")).toInt(); }
int Env::dbOldPort() { return envOr("ORVEL_TEST_DB_OLD_PORT", QStringLiteral("3307")).toInt(); }
QString Env::dbSocket() {
    return envOr("ORVEL_TEST_DB_SOCKET", QStringLiteral("/tmp/orvel-env/mariadb/mysqld.sock"));
}
QString Env::dbRootSocket() { return dbSocket(); }
QString Env::generalLog() {
    return envOr("ORVEL_TEST_DB_GENERAL_LOG", QStringLiteral("/tmp/orvel-env/mariadb/general.log"));
}
QString Env::generalLogOld() {
    return envOr("ORVEL_TEST_DB_OLD_GENERAL_LOG",
                 QStringLiteral("/tmp/orvel-env/mariadb-old/general.log"));
}
int Env::closedPort() { return 3399; }

std::vector<QString> RootSql(const QString& sql, int port) {
    QString sock = Env::dbSocket();
    if (port == Env::dbOldPort())
        sock = envOr("ORVEL_TEST_DB_OLD_SOCKET", QStringLiteral("/tmp/orvel-env/mariadb-old/mysqld.sock"));
    QProcess p;
    p.start(QStringLiteral("mariadb"),
            {QStringLiteral("--protocol=socket"), QStringLiteral("-S"), sock, QStringLiteral("-uroot"),
             QStringLiteral("--batch"), QStringLiteral("--skip-column-names"),
             QStringLiteral("--default-character-set=utf8mb4"), QStringLiteral("qx_inhouse"),
             QStringLiteral("-e"), sql});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        throw std::runtime_error("root sql failed: " + sql.toStdString() + ": " +
                                 p.readAllStandardError().toStdString());
    std::vector<QString> lines;
    for (const auto& l : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (!l.isEmpty()) lines.push_back(l);
    return lines;
}

}  // namespace testsupport
