#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <optional>
#include <thread>
#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "db/cmysql.h"
#include "dbtest.h"
#include "core/errors.h"
#include "formats/safesql.h"
#include "testsupport.h"

// The client library's field descriptions, read by every copy of a result
// into a recordset, made to run out of memory on demand. Where the library
// is linked statically (Windows) it cannot be interposed.
bool g_fieldsFail = false;
#ifndef _WIN32
constexpr bool kCanFailCopy = true;
extern "C" void* mysql_fetch_fields(void* res) {
    static const auto real = reinterpret_cast<void* (*)(void*)>(dlsym(RTLD_NEXT, "mysql_fetch_fields"));
    if (g_fieldsFail) throw std::bad_alloc();
    return real(res);
}
#else
constexpr bool kCanFailCopy = false;
#endif

using namespace dbtest;
using testsupport::Env;
using testsupport::RootSql;

namespace {

// The error an operation raises: {number, source}; {-1, ""} when none.
std::pair<long, QString> raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const platform::Error& e) {
        return {e.number(), e.source()};
    }
    return {-1, QString()};
}

std::vector<QString> column(const RecordsetPtr& rs, int field) {
    std::vector<QString> v;
    for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) v.push_back(rs->Fields(field).Value());
    return v;
}

bool has(const std::vector<QString>& v, const QString& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

}  // namespace

TEST(Admin, NewObjectAnswersWithoutConnection) {
    cMySQL c;
    EXPECT_EQ(c.num_rows() + c.num_fields(), 0);
    EXPECT_FALSE(c.eof());
    c.DoMemFree(true);
    c.free_result();
    EXPECT_EQ(raised([&] { c.thread_id(); }).second, "cMysql::thread_id");
    EXPECT_EQ(raised([&] { c.get_server_info(); }).second, "cMysql::get_server_info");
    // No quoting mode known yet: the form that holds in both.
    EXPECT_EQ(c.escape_string(QString(), QStringLiteral("it's\\"), 5), "it''s\\\\");
}

TEST(Admin, ServerAndStatementInformation) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c, old;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    ASSERT_TRUE(Connect(old, Env::dbOldPort()));
    EXPECT_EQ(c.get_proto_info(), "10");
    EXPECT_EQ(old.get_server_info(), "5.0.99-test");
    EXPECT_TRUE(c.get_host_info().contains(Env::dbHost()));
    EXPECT_TRUE(c.stat().startsWith(QStringLiteral("Uptime:")));
    EXPECT_TRUE(has(RootSql(QStringLiteral("SELECT id FROM information_schema.processlist")),
                    QString::number(c.thread_id())));

    const QString t = Unique(QStringLiteral("adm_t"));
    RootSql(QStringLiteral("CREATE TABLE %1 (id INT AUTO_INCREMENT PRIMARY KEY, s VARCHAR(40))").arg(t));
    c.query(QStringLiteral("INSERT INTO %1 (s) VALUES ('a'), ('b')").arg(t));
    EXPECT_EQ(c.insert_id(), 1);  // the first row of a multi-row insert
    EXPECT_EQ(c.info(), "Records: 2  Duplicates: 0  Warnings: 0");
    c.query(QStringLiteral("SELECT s FROM %1").arg(t));
    EXPECT_EQ(raised([&] { c.info(); }), std::make_pair(0L, QStringLiteral("cMysql::info")));

    // Escaped text goes through a literal and back unchanged, Korean included.
    const QString nasty = QStringLiteral("it's \"q\" \\ 한글\n; --");
    const QString escaped = c.escape_string(QString(), nasty, 1000);
    c.query(QStringLiteral("INSERT INTO %1 (s) VALUES ('%2')").arg(t, escaped));
    RecordsetPtr rs = c.query(QStringLiteral("SELECT s FROM %1 WHERE id = LAST_INSERT_ID()").arg(t));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Fields(0).Value(), nasty);
    EXPECT_EQ(c.escape_string(QString(), nasty, 4), "it\\'s");  // from_length counts characters
    RootSql(QStringLiteral("DROP TABLE ") + t);

    EXPECT_FALSE(c.query(QStringLiteral("SELECT * FROM no_such_table_x"), true));
    EXPECT_EQ(c.err_no(), 1146);
    EXPECT_EQ(c.err_description(), "Table 'qx_inhouse.no_such_table_x' doesn't exist");
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(Admin, ListingsBecomeTheCurrentResult) {
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort(), kUser, kPassword, QString(), true));
    RecordsetPtr tables = c.list_tables(QString());
    ASSERT_TRUE(tables);
    EXPECT_EQ(column(tables, 0), RootSql(QStringLiteral("SHOW TABLES")));
    EXPECT_EQ(c.num_rows(), tables->RecordCount());
    EXPECT_EQ(c.num_fields(), 1);
    EXPECT_TRUE(c.eof());  // every row went into the recordset
    EXPECT_EQ(column(c.list_tables(QStringLiteral("user%")), 0),
              (std::vector<QString>{QStringLiteral("user"), QStringLiteral("user_mac")}));

    RecordsetPtr fields = c.list_fields(QStringLiteral("config"), QString());
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->RecordCount(), 0);
    ASSERT_EQ(fields->FieldCount(), 3);
    EXPECT_EQ(fields->Fields(2).Name(), "svalue");
    EXPECT_FALSE(c.list_fields(QStringLiteral("no_such_table_x"), QString()));

    EXPECT_TRUE(has(column(c.list_dbs(QStringLiteral("qx%")), 0), QStringLiteral("qx_inhouse")));
    RecordsetPtr procs = c.list_processes();
    ASSERT_TRUE(procs);
    EXPECT_TRUE(has(column(procs, 0), QString::number(c.thread_id())));

    c.DoMemFree(true);
    c.free_result();
    EXPECT_EQ(c.num_rows(), 0);
    EXPECT_FALSE(c.eof());
    EXPECT_EQ(procs->RecordCount(), column(procs, 0).size());  // the copy outlives the result
}

TEST(Admin, RefusedCommandsRaiseAndLeaveTheConnection) {
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort(), kUser, kPassword, QString(), true));
    // qx_inhouse holds none of these privileges; the shared server stays up.
    EXPECT_EQ(raised([&] { c.shutdown(); }).second, "cMysql::shutdown");
    EXPECT_EQ(raised([&] { c.Refresh(1); }).second, "cMysql::refresh");
    EXPECT_EQ(raised([&] { c.dump_debug_info(); }).second, "cMysql::dump_debug_info");
    EXPECT_EQ(raised([&] { c.create_db(Unique(QStringLiteral("orvel_db"))); }).second, "cMysql::create_db");

    EXPECT_EQ(raised([&] { c.select_db(QStringLiteral("no_such_db_x")); }),
              std::make_pair(1044L, QStringLiteral("cMysql::select_db")));
    EXPECT_EQ(c.db(), "no_such_db_x");  // stored although refused
    c.ping();  // still connected
    c.select_db(QStringLiteral("qx_inhouse"));

    // Kill ends another connection; its next ping raises.
    cMySQL victim;
    ASSERT_TRUE(Connect(victim, Env::dbPort(), kUser, kPassword, QString(), true));
    c.Kill(victim.thread_id());
    EXPECT_EQ(raised([&] { victim.ping(); }).second, "cMysql::ping");
    c.debug_push(QStringLiteral("d:t"));
}

TEST(Admin, CreateDbWithPrivilege) {
    // The administrative account may create databases.
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort(), QString::fromUtf8(testenv::db::kAdminUser),
                        QString::fromUtf8(testenv::db::kAdminPassword), QString(), true));
    const QString name = Unique(QStringLiteral("orvel`db"));
    c.create_db(name);
    EXPECT_TRUE(has(column(c.list_dbs(QStringLiteral("orvel%")), 0), name));
    EXPECT_EQ(raised([&] { c.create_db(name); }), std::make_pair(1007L, QStringLiteral("cMysql::create_db")));
    c.query(QStringLiteral("DROP DATABASE `%1`").arg(QString(name).replace(QLatin1Char('`'), QStringLiteral("``"))));
}

TEST(Admin, PingSkippedWhileRealQueryRuns) {
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort(), kUser, kPassword, QString(), true));
    const int id = c.thread_id();
    // A ping counts as an administrative command of its connection; sent on
    // the busy connection it would also mix its answer into the query's.
    auto pings = [&c] {
        const RecordsetPtr r = c.query(QStringLiteral("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                                      "WHERE VARIABLE_NAME = 'COM_ADMIN_COMMANDS'"));
        return r ? r->Fields(0).Value().toLongLong() : -1;
    };
    // The query waits for a lock this test holds, as long as it must.
    cMySQL holder;
    ASSERT_TRUE(Connect(holder, Env::dbPort(), kUser, kPassword, QString(), true));
    const QString lock = Unique(QStringLiteral("ping"));
    ASSERT_TRUE(holder.query(QStringLiteral("SELECT GET_LOCK('%1', 0)").arg(lock)));
    const long long before = pings();
    RecordsetPtr rs;
    std::thread t([&] {
        try {
            const QString wait = QStringLiteral("SELECT GET_LOCK('%1', 60) AS s").arg(lock);
            rs = c.real_query(wait, static_cast<int>(wait.toUtf8().size()));
        } catch (const platform::Error&) {  // rs stays empty: reported below
        }
    });
    bool running = false;
    for (int i = 0; i < 500 && !running; ++i) {
        running = RootSql(QStringLiteral("SELECT command FROM information_schema.processlist WHERE id = %1").arg(id)) ==
                  std::vector<QString>{QStringLiteral("Query")};
        if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(running);
    // A ping that waits for the busy connection would wait for the lock: it
    // is let go after 10 s, so that such a fault fails here, not hangs.
    std::atomic<bool> pinged{false}, waitedForLock{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 200 && !pinged; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!pinged) {
            waitedForLock = true;
            RootSql(QStringLiteral("KILL %1").arg(holder.thread_id()));
        }
    });
    c.ping();
    pinged = true;
    watchdog.join();
    EXPECT_FALSE(waitedForLock) << "the ping went to the busy connection";
    if (!waitedForLock) holder.query(QStringLiteral("SELECT RELEASE_LOCK('%1')").arg(lock));
    t.join();
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Fields(0).Value(), "1");
    EXPECT_EQ(pings(), before);

    // After a raise the flag is clear again: ping reaches the server.
    EXPECT_EQ(raised([&] { c.real_query(QStringLiteral("SELEC"), 5); }).first, 1064);
    const long long idle = pings();
    c.ping();
    EXPECT_EQ(pings(), idle + 1);
    RootSql(QStringLiteral("KILL %1").arg(id));
    EXPECT_EQ(raised([&] { c.ping(); }).second, "cMysql::ping");
}

// A memory failure while a listing or real_query copies its rows reaches the
// caller as error 7 of that call; the connection goes on.
TEST(Admin, MemoryFailureWhileCopyingIsRaised) {
    if (!kCanFailCopy) GTEST_SKIP() << "the client library is linked statically";
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort(), kUser, kPassword, QString(), true));
    const std::pair<QString, std::function<void()>> calls[] = {
        {QStringLiteral("cMysql::real_query"), [&] { c.real_query(QStringLiteral("SELECT 1"), 8); }},
        {QStringLiteral("cMysql::list_dbs"), [&] { c.list_dbs(QString()); }},
        {QStringLiteral("cMysql::list_fields"), [&] { c.list_fields(QStringLiteral("config"), QString()); }},
        {QStringLiteral("cMysql::list_processes"), [&] { c.list_processes(); }},
        {QStringLiteral("cMysql::list_tables"), [&] { c.list_tables(QString()); }},
    };
    for (const auto& [source, call] : calls) {
        g_fieldsFail = true;
        std::optional<platform::Error> error;
        try {
            call();
        } catch (const platform::Error& e) {
            error = e;
        }
        g_fieldsFail = false;
        ASSERT_TRUE(error) << source.toStdString();
        EXPECT_EQ(error->number(), 7);
        EXPECT_EQ(error->source(), source);
        EXPECT_EQ(error->description(), "Out of memory");
        EXPECT_EQ(c.num_fields(), 0) << source.toStdString();  // the result that did not fit is gone
        ASSERT_TRUE(c.list_tables(QString())) << source.toStdString();
    }
    EXPECT_TRUE(boxes.shown().empty());
}

// Text escaped by the connection reads back as it was typed in every
// character set the program converts; ordinary text comes out byte for byte
// as the fixed doubling rule gives it. Any other set is refused.
TEST(Admin, EscapingFollowsTheConnectionsCharacterSet) {
    testsupport::ScriptedMsgBoxes boxes;
    const std::pair<QString, QString> sets[] = {
        {QStringLiteral("utf8mb4"), QStringLiteral("평범한 암호 abc-123 😀")},
        {QStringLiteral("latin1"), QStringLiteral("café Ünïcödé ß")},
        {QStringLiteral("euckr"), QStringLiteral("한글암호 abc")},
    };
    for (const auto& [set, plain] : sets) {
        cMySQL c;
        ASSERT_TRUE(Connect(c, Env::dbPort()));
        c.query(QStringLiteral("SET NAMES ") + set);
        EXPECT_EQ(c.real_escape_string(plain), formats::QuoteSqlText(plain)) << set.toStdString();
        const QString nasty = plain + QStringLiteral("' \\ \" \n\r\x1a x\\'");
        for (const char* mode : {"", "NO_BACKSLASH_ESCAPES"}) {
            c.query(QStringLiteral("SET SESSION sql_mode = '%1'").arg(QLatin1String(mode)));
            RecordsetPtr rs = c.query(QStringLiteral("SELECT '%1' AS v").arg(c.real_escape_string(nasty)));
            ASSERT_TRUE(rs) << set.toStdString() << mode;
            EXPECT_EQ(rs->Fields(0).Value(), nasty) << set.toStdString() << mode;
        }
    }
    EXPECT_TRUE(boxes.shown().empty());

    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    c.query(QStringLiteral("SET NAMES gbk"));
    EXPECT_EQ(raised([&] { c.real_escape_string(QStringLiteral("x")); }),
              std::make_pair(2019L, QStringLiteral("cMysql::real_escape_string")));
    EXPECT_EQ(raised([&] { c.real_query(QStringLiteral("SELECT 1"), 8); }),
              std::make_pair(2019L, QStringLiteral("cMysql::real_query")));
    EXPECT_FALSE(c.query(QStringLiteral("SELECT 1")));
    EXPECT_EQ(boxes.texts(), std::vector<QString>{QStringLiteral(
                                 "Error 2019 (Can't initialize character set gbk) in procedure query of Module "
                                 "cMySQL\r\n\r\nSELECT 1")});
}
