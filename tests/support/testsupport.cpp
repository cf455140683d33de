#include "testsupport.h"

#include <QProcess>
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

QString Env::dbHost() { return QString::fromUtf8(testenv::kHost); }
int Env::dbPort() { return testenv::db::kMain.port; }
int Env::dbOldPort() { return testenv::db::kOld.port; }
QString Env::dbSocket() { return QString::fromUtf8(testenv::db::kMain.socket); }
QString Env::dbRootSocket() { return dbSocket(); }
QString Env::generalLog() { return QString::fromUtf8(testenv::db::kMain.generalLog); }
QString Env::generalLogOld() { return QString::fromUtf8(testenv::db::kOld.generalLog); }
int Env::closedPort() { return testenv::kClosedPort; }

std::vector<QString> RootSql(const QString& sql, int port) {
    const auto& server = port == Env::dbOldPort() ? testenv::db::kOld : testenv::db::kMain;
    const QString sock = QString::fromUtf8(server.socket);
    QProcess p;
    p.start(QStringLiteral("mariadb"),
            {QStringLiteral("--protocol=socket"), QStringLiteral("-S"), sock, QStringLiteral("-uroot"),
             QStringLiteral("--batch"), QStringLiteral("--skip-column-names"),
             QStringLiteral("--default-character-set=utf8mb4"), QString::fromUtf8(testenv::db::kName),
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
