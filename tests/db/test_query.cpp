#include <gtest/gtest.h>

#include <algorithm>

#include <QElapsedTimer>
#include <QFile>
#ifndef _WIN32
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <optional>
#include <thread>

#include "db/cmysql.h"
#include "dbtest.h"
#include "core/errors.h"
#include "testsupport.h"

using namespace dbtest;
using testsupport::Env;
using testsupport::RootSql;

namespace {

const QString kSuffix = QStringLiteral(") in procedure query of Module cMySQL\r\n\r\n");

// Drops the scratch table when the test ends, however it ends.
struct ScratchTable {
    QString name;
    ScratchTable(const QString& stem, const QString& columns) : name(Unique(stem)) {
        RootSql(QStringLiteral("CREATE TABLE %1 (%2) DEFAULT CHARSET=utf8mb4").arg(name, columns));
    }
    ~ScratchTable() { RootSql(QStringLiteral("DROP TABLE IF EXISTS ") + name); }
};

std::vector<QString> names(const RecordsetPtr& rs) {
    std::vector<QString> n;
    for (int i = 0; i < rs->FieldCount(); ++i) n.push_back(rs->Fields(i).Name());
    return n;
}

// The server refreshes its table of transactions only when it has not been
// read for 0.1 s: polled faster, it would show the first answer for ever.
bool waitFor(const std::function<bool()>& cond) {
    for (int i = 0; i < 40; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    return false;
}

// Locks row 1 on `ours`, lets a heavier transaction of another connection
// take rows 2..20 and wait for row 1, then runs `step`, in which `ours` asks
// for row 2: a deadlock whose victim is `ours`, the lighter one.
void withDeadlock(cMySQL& ours, const std::function<void()>& step) {
    ours.query(QStringLiteral("BEGIN"));
    ours.query(QStringLiteral("UPDATE deadlock_t SET v = v + 1 WHERE id = 1"));
    cMySQL other;
    ASSERT_TRUE(Connect(other, Env::dbPort(), kUser, kPassword, QString(), true));
    const int otherId = other.thread_id();
    std::thread t([&] {
        other.query(QStringLiteral("BEGIN"), true);
        other.query(QStringLiteral("UPDATE deadlock_t SET v = v + 1 WHERE id BETWEEN 2 AND 20"), true);
        other.query(QStringLiteral("UPDATE deadlock_t SET v = v + 1 WHERE id = 1"), true);
        other.query(QStringLiteral("COMMIT"), true);
    });
    const bool waiting = waitFor([&] {
        return RootSql(QStringLiteral("SELECT COUNT(*) FROM information_schema.innodb_trx WHERE "
                                      "trx_state = 'LOCK WAIT' AND trx_mysql_thread_id = %1")
                           .arg(otherId)) == std::vector<QString>{QStringLiteral("1")};
    });
    EXPECT_TRUE(waiting);
    step();
    t.join();
}

}  // namespace

TEST(Query, ResultsArriveAsText) {
    testsupport::ScriptedMsgBoxes boxes;
    ScratchTable t(QStringLiteral("q_text"), QStringLiteral("id INT PRIMARY KEY, s VARCHAR(20), n INT"));
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    EXPECT_FALSE(c.query(QStringLiteral("INSERT INTO %1 VALUES (1, '  lead', 5), (2, 'trail   ', NULL), "
                                        "(3, '한글', -7)").arg(t.name)));
    EXPECT_EQ(c.affected_rows(), 3);

    RecordsetPtr rs = c.query(QStringLiteral("SELECT id, s, n FROM %1 ORDER BY id").arg(t.name));
    ASSERT_TRUE(rs);
    EXPECT_EQ(c.affected_rows(), 3);
    EXPECT_EQ(rs->RecordCount(), 3);
    EXPECT_EQ(rs->Fields(1).DefinedSize(), 80);  // 20 characters of up to 4 bytes
    EXPECT_EQ(rs->Fields(QStringLiteral("s")).Value(), "  lead");  // first row current, leading blanks kept
    EXPECT_EQ(rs->Fields(QStringLiteral("n")).Value(), "5");
    rs->MoveNext();
    EXPECT_EQ(rs->Fields(QStringLiteral("s")).Value(), "trail");
    EXPECT_EQ(rs->Fields(QStringLiteral("n")).Value(), "");  // NULL
    rs->MoveNext();
    EXPECT_EQ(rs->Fields(QStringLiteral("s")).Value(), QStringLiteral("한글"));

    RecordsetPtr none = c.query(QStringLiteral("SELECT id, s FROM %1 WHERE id = 99").arg(t.name));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->State(), 1);
    EXPECT_EQ(none->FieldCount(), 2);
    EXPECT_TRUE(none->IsEOF());
    EXPECT_EQ(c.affected_rows(), 0);

    EXPECT_FALSE(c.query(QStringLiteral("UPDATE %1 SET n = 0 WHERE id <= 2").arg(t.name)));
    EXPECT_EQ(c.affected_rows(), 2);
    EXPECT_FALSE(c.query(QStringLiteral("SELECT nothing FROM %1").arg(t.name), true));
    EXPECT_EQ(c.affected_rows(), -1);

    // A NUL inside the statement does not cut it short.
    EXPECT_FALSE(c.query(QStringLiteral("DELETE FROM %1").arg(t.name) + QChar(0) + QStringLiteral(" WHERE id = 1"), true));
    EXPECT_EQ(RootSql(QStringLiteral("SELECT COUNT(*) FROM ") + t.name), std::vector<QString>{QStringLiteral("3")});
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(Query, DuplicateColumnNamesAreQualified) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    RecordsetPtr rs = c.query(QStringLiteral("SELECT a.id, b.id FROM config a, config b LIMIT 1"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(names(rs), (std::vector<QString>{QStringLiteral("a.id"), QStringLiteral("b.id")}));
    rs = c.query(QStringLiteral("SELECT t1.id AS x, t2.id AS x, t3.id AS x FROM config t1, config t2, config t3 LIMIT 1"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(names(rs), (std::vector<QString>{QStringLiteral("t1.x"), QStringLiteral("t2.x"), QStringLiteral("x")}));
    EXPECT_TRUE(boxes.shown().empty());

    // Computed columns have no table, so both become ".x": reported like any error.
    const QString sql = QStringLiteral("SELECT 1 AS x, 2 AS x");
    EXPECT_FALSE(c.query(sql));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Error 3367 (Object is already in collection. Cannot append.") + kSuffix + sql);
}

TEST(Query, ServerErrorsAreReportedUnlessSilent) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    const QString sql = QStringLiteral("SELEC svalue FROM config");
    EXPECT_FALSE(c.query(sql, true));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_FALSE(c.query(sql));
    ASSERT_EQ(boxes.shown().size(), 1u);
    const auto& box = boxes.shown()[0];
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("Error 1064 (You have an error in your SQL syntax")))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.endsWith(kSuffix + sql)) << box.text.toStdString();
    EXPECT_EQ(box.title, core::AppTitle());
}

TEST(Query, LostConnectionIsReopenedOnce) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort(), kRetryUser, kRetryPassword));
    const int old = c.thread_id();
    RootSql(QStringLiteral("KILL %1").arg(old));
    RecordsetPtr rs = c.query(QStringLiteral("SELECT svalue FROM config WHERE skey = 'sys1'"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Fields(QStringLiteral("svalue")).Value(), "1");
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_NE(c.thread_id(), old);
    EXPECT_EQ(Lpid(QStringLiteral("LPID"), kRetryUser), QString::number(c.thread_id()));
    EXPECT_EQ(Lpid(QStringLiteral("LPID2"), kRetryUser), QString::number(old));

    // When the reopening fails, the connect message is the only one.
    c.port(Env::closedPort());
    RootSql(QStringLiteral("KILL %1").arg(c.thread_id()));
    EXPECT_FALSE(c.query(QStringLiteral("SELECT 1")));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 2003 "))) << boxes.shown()[0].text.toStdString();
}

// After a reconnect failed, text escaped for the next statement must stay one
// literal whichever quoting mode the server it then reaches is in: a
// password may not widen the sign-in statement to every user.
TEST(Query, EscapingAfterAFailedReconnectHoldsInBothQuotingModes) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    c.port(Env::closedPort());
    RootSql(QStringLiteral("KILL %1").arg(c.thread_id()));
    EXPECT_FALSE(c.query(QStringLiteral("SELECT 1"), true));
    cMySQL never;  // and before any connection
    const QString typed = QStringLiteral("') OR hidden=0 -- ");
    const QString nasty = QStringLiteral("a'b\\c\\'d\"e\n");
    cMySQL judge;
    ASSERT_TRUE(Connect(judge, Env::dbPort()));
    for (cMySQL* offline : {&c, &never}) {
        for (const char* mode : {"", "NO_BACKSLASH_ESCAPES"}) {
            judge.query(QStringLiteral("SET SESSION sql_mode = '%1'").arg(QLatin1String(mode)));
            const QString signIn = QStringLiteral("SELECT *, now() as svrtime FROM user where id='no-such-user' "
                                                  "AND password2 = SHA1('%1') and hidden=0");
            RecordsetPtr rs = judge.query(signIn.arg(offline->real_escape_string(typed)));
            ASSERT_TRUE(rs) << mode;
            EXPECT_EQ(judge.affected_rows(), 0) << mode;
            rs = judge.query(QStringLiteral("SELECT '%1' AS v").arg(offline->real_escape_string(nasty)));
            ASSERT_TRUE(rs) << mode;
            // A server that reads backslashes literally keeps both halves of
            // each doubled one: the text is then wrong, but still one literal.
            const QString expected =
                *mode ? QString(nasty).replace(QStringLiteral("\\"), QStringLiteral("\\\\")) : nasty;
            EXPECT_EQ(rs->Fields(0).Value(), expected) << mode;
        }
    }
    EXPECT_EQ(boxes.shown().size(), 1u);  // the failed reconnect's message only
}

TEST(Query, DeadlocksRetriedOnlyForTheRetryUser) {
    testsupport::ScriptedMsgBoxes boxes;
    const QString victim = QStringLiteral("UPDATE deadlock_t SET v = v + 1 WHERE id = 2");
    {
        cMySQL c;
        ASSERT_TRUE(Connect(c, Env::dbPort(), kRetryUser, kRetryPassword));
        const int old = c.thread_id();
        QElapsedTimer timer;
        withDeadlock(c, [&] {
            timer.start();
            EXPECT_FALSE(c.query(victim));
            EXPECT_GE(timer.elapsed(), 500);
            EXPECT_EQ(c.affected_rows(), 1);  // the retry ran
        });
        EXPECT_NE(c.thread_id(), old);
        EXPECT_TRUE(boxes.shown().empty());
    }
    {
        cMySQL c;
        ASSERT_TRUE(Connect(c, Env::dbPort()));
        const int old = c.thread_id();
        withDeadlock(c, [&] { EXPECT_FALSE(c.query(victim)); });
        EXPECT_EQ(c.thread_id(), old);
        // Sent once: no retry.
        const auto sent = LoggedQueries(Env::generalLog(), old);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), victim), 1);
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 1213 (Deadlock found")));
        EXPECT_TRUE(boxes.shown()[0].text.endsWith(kSuffix + victim));
    }
}

TEST(Query, FourthDeadlockIsReported) {
    testsupport::ScriptedMsgBoxes boxes;
    const QString proc = Unique(QStringLiteral("dl_sig"));
    RootSql(QStringLiteral("CREATE PROCEDURE %1() SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = 1213, "
                           "MESSAGE_TEXT = 'always deadlocked'").arg(proc));
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort(), kRetryUser, kRetryPassword));
    const QString sql = QStringLiteral("CALL %1()").arg(proc);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(c.query(sql));
    EXPECT_GE(timer.elapsed(), 1500);
    RootSql(QStringLiteral("DROP PROCEDURE ") + proc);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Error 1213 (always deadlocked") + kSuffix + sql);

    QFile log(Env::generalLog());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count(sql.toUtf8()), 4);  // the first try and three retries
}

TEST(Query, RealQuerySendsLengthBytesAndRaises) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    RecordsetPtr rs = c.real_query(QStringLiteral("SELECT 12345"), 9);
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Fields(0).Value(), "12");
    // Length counts bytes of the statement as sent: 3 per Hangul syllable here.
    rs = c.real_query(QStringLiteral("SELECT '한글' AS k"), 15);
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Fields(0).Value(), QStringLiteral("한글"));

    auto raised = [&](const QString& sql, int len) {
        try {
            c.real_query(sql, len);
        } catch (const platform::Error& e) {
            EXPECT_EQ(e.source(), "cMysql::real_query");
            return e.number();
        }
        return 0L;
    };
    EXPECT_EQ(raised(QStringLiteral("SELEC 1"), 7), 1064);
    EXPECT_EQ(raised(QStringLiteral("SELECT 1"), 9), 5);  // past the end of the statement
    EXPECT_EQ(raised(QStringLiteral("SELECT 1"), -1), 5);
    EXPECT_TRUE(boxes.shown().empty());
}

#ifndef _WIN32  // the limit is an address-space limit of this system
// Rows that the client library holds but that do not fit a second time as
// text: the address space is limited to a little more than the library
// needs, so copying them runs out of memory.
TEST(Query, MemoryFailureWhileCopyingIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves the address space for itself";
#endif
    // Large blocks come from their own mappings and go back when freed, so
    // the process size says how much room is really left.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    ASSERT_TRUE(Connect(c, Env::dbPort()));
    const QString sql = QStringLiteral("SELECT REPEAT('x', 4000000) AS big FROM deadlock_t");  // 20 rows, 80 MB
    ASSERT_TRUE(c.query(sql));  // fits without a limit, and leaves the library's buffers grown
    c.query(QStringLiteral("SELECT 1"));

    QFile statm(QStringLiteral("/proc/self/statm"));  // first the size in pages
    ASSERT_TRUE(statm.open(QIODevice::ReadOnly));
    const rlim_t size = statm.readAll().split(' ').at(0).toULongLong() * rlim_t(sysconf(_SC_PAGESIZE));
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = size + (rlim_t(100) << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    const RecordsetPtr rs = c.query(sql);
    // real_query raises what query reports.
    std::optional<platform::Error> raised;
    try {
        c.real_query(sql, static_cast<int>(sql.size()));
    } catch (const platform::Error& e) {
        raised = e;
    }
    setrlimit(RLIMIT_AS, &before);

    EXPECT_FALSE(rs);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Error 7 (Out of memory") + kSuffix + sql);
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->number(), 7);
    EXPECT_EQ(raised->source(), "cMysql::real_query");
    EXPECT_TRUE(c.query(QStringLiteral("SELECT 1")));  // the connection goes on
}
#endif
