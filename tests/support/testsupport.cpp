#include "testsupport.h"

#include <mysql.h>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <QStringList>
#include <memory>
#include <stdexcept>

namespace testsupport {

ScriptedMsgBoxes::ScriptedMsgBoxes() {
    core::SetMsgBoxHandler([this](const core::MsgBoxRecord& r) {
        shown_.push_back(r);
        if (onShow) onShow(r);
        if (r.buttons == core::MsgButtons::YesNo) {
            if (answers_.empty()) return core::MsgAnswer::No;
            auto a = answers_.front();
            answers_.pop_front();
            return a;
        }
        return core::MsgAnswer::Ok;
    });
}

ScriptedMsgBoxes::~ScriptedMsgBoxes() { core::SetMsgBoxHandler({}); }

std::vector<QString> ScriptedMsgBoxes::texts() const {
    std::vector<QString> t;
    for (const auto& r : shown_) t.push_back(r.text);
    return t;
}

InterceptEnd::InterceptEnd() {
    core::SetEndProgramHook([](core::ExitCode c) { throw ProgramEnded{c}; });
}
InterceptEnd::~InterceptEnd() { core::SetEndProgramHook({}); }

QString Env::dbHost() { return QString::fromUtf8(testenv::kHost); }
int Env::dbPort() { return testenv::db::kMain.port; }
int Env::dbOldPort() { return testenv::db::kOld.port; }
QString Env::dbSocket() { return QString::fromUtf8(testenv::db::kMain.socket); }
QString Env::generalLog() { return QString::fromUtf8(testenv::db::kMain.generalLog); }
QString Env::generalLogOld() { return QString::fromUtf8(testenv::db::kOld.generalLog); }
int Env::closedPort() { return testenv::kClosedPort; }

std::vector<QString> RootSql(const QString& sql, int port) {
    // The administrative account over TCP, as the program itself connects:
    // the same from a Linux test and from a Windows one under wine.
    const int p = port == 0 ? Env::dbPort() : port;
    std::unique_ptr<MYSQL, decltype(&mysql_close)> db(mysql_init(nullptr), &mysql_close);
    if (!db) throw std::runtime_error("root sql: no memory for a connection");
    mysql_options(db.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    unsigned int timeout = 60;
    mysql_options(db.get(), MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(db.get(), MYSQL_OPT_READ_TIMEOUT, &timeout);
    const QByteArray stmt = sql.toUtf8();
    const auto fail = [&] {
        return std::runtime_error("root sql failed: " + stmt.toStdString() + ": " + mysql_error(db.get()));
    };
    if (!mysql_real_connect(db.get(), testenv::kHost, testenv::db::kAdminUser, testenv::db::kAdminPassword,
                            testenv::db::kName, static_cast<unsigned>(p), nullptr, 0) ||
        mysql_real_query(db.get(), stmt.constData(), static_cast<unsigned long>(stmt.size())) != 0)
        throw fail();
    std::vector<QString> lines;
    std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> res(mysql_store_result(db.get()), &mysql_free_result);
    if (!res) {
        if (mysql_field_count(db.get()) != 0) throw fail();
        return lines;  // a statement without rows
    }
    // One line per row, columns tab-separated, NULL spelt out: as the
    // command-line client prints them in batch mode.
    const unsigned columns = mysql_num_fields(res.get());
    while (MYSQL_ROW row = mysql_fetch_row(res.get())) {
        const unsigned long* lengths = mysql_fetch_lengths(res.get());
        QStringList cells;
        for (unsigned i = 0; i < columns; ++i)
            cells << (row[i] ? QString::fromUtf8(row[i], static_cast<qsizetype>(lengths[i])) : QStringLiteral("NULL"));
        lines.push_back(cells.join(QLatin1Char('\t')));
    }
    return lines;
}

long PeakResidentKiB() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof c;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c)) return -1;
    return static_cast<long>(c.PeakWorkingSetSize / 1024);
#else
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
#endif
}

}  // namespace testsupport
