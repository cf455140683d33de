#include <gtest/gtest.h>

#include "db/cmysql.h"
#include "dbtest.h"
#include "core/errors.h"
#include "testsupport.h"

using namespace dbtest;
using testsupport::Env;

namespace {

const QString kNoServer = QStringLiteral("데이터베이스 서버에 접속할 수 없습니다.");
const QString kUnreachable =
    kNoServer + QStringLiteral("\r\n\r\n인터넷이 연결되어 있는지 확인 해 주세요.\r\n\r\n"
                               "인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 가동중인지 "
                               "확인해 주세요.\r\n관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 "
                               "있습니다.");

bool contains(const std::vector<QString>& v, const QString& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

TEST(RealConnect, ReportsFailuresByKind) {
    testsupport::ScriptedMsgBoxes boxes;
    {
        cMySQL c;
        EXPECT_FALSE(Connect(c, Env::closedPort()));
        ASSERT_EQ(boxes.shown().size(), 1u);
        const auto& box = boxes.shown()[0];
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("Error 2003 Can't connect"))) << box.text.toStdString();
        EXPECT_TRUE(box.text.endsWith(QStringLiteral("\r\n\r\n") + kUnreachable)) << box.text.toStdString();
        EXPECT_EQ(box.title, core::AppTitle());
        EXPECT_EQ(box.buttons, core::MsgButtons::Ok);
        EXPECT_EQ(box.icon, core::MsgIcon::None);
    }
    boxes.clear();
    {
        cMySQL c;
        EXPECT_FALSE(Connect(c, Env::dbPort(), kUser, QStringLiteral("wrong")));
        ASSERT_EQ(boxes.shown().size(), 1u);
        const QString t = boxes.shown()[0].text;
        EXPECT_TRUE(t.startsWith(QStringLiteral("Error 1045 Access denied"))) << t.toStdString();
        EXPECT_TRUE(t.endsWith(QStringLiteral("\r\n\r\n") + kNoServer)) << t.toStdString();
        EXPECT_FALSE(t.contains(QStringLiteral("인터넷")));
    }
#ifndef _WIN32  // Windows has no such sockets: there "localhost" goes over TCP
    boxes.clear();
    {
        // A local socket nobody serves stays the library's own number.
        cMySQL c;
        EXPECT_FALSE(c.real_connect(QStringLiteral("localhost"), kUser, kPassword, kUser, 0,
                                    QStringLiteral("/tmp/orvel-no-such.sock"), 0, false, QString()));
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 2002 "))) << boxes.shown()[0].text.toStdString();
    }
#endif
    boxes.clear();
    {
        cMySQL c;
        EXPECT_FALSE(Connect(c, Env::closedPort(), kUser, kPassword, QString(), true));
        EXPECT_FALSE(Connect(c, Env::dbPort(), kUser, QStringLiteral("wrong"), QString(), true));
        EXPECT_TRUE(boxes.shown().empty());
        // The same handle connects once the settings are right.
        EXPECT_TRUE(Connect(c, Env::dbPort(), kUser, kPassword, QString(), true));
    }
}

TEST(RealConnect, TakesOverOnlyGivenSettings) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    c.host(Env::dbHost());
    c.user(kUser);
    c.password(kPassword);
    c.db(QStringLiteral("qx_inhouse"));
    c.ClientFlags(0);
    ASSERT_TRUE(c.real_connect(QString(), QString(), QString(), QString(), 3306, QString(), 0, false, QString()));
    EXPECT_EQ(c.host(), Env::dbHost());
    EXPECT_EQ(c.user(), kUser);
    EXPECT_EQ(c.port(), 0);  // 3306 is the default and is not stored

    cMySQL old;
    ASSERT_TRUE(Connect(old, Env::dbOldPort()));
    EXPECT_EQ(old.port(), Env::dbOldPort());
    EXPECT_EQ(old.password(), kPassword);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(RealConnect, RotatesThreadIdsInConfigIni) {
    // The retry user: no other test program connects as it.
    cMySQL first;
    ASSERT_TRUE(Connect(first, Env::dbPort(), kRetryUser, kRetryPassword));
    const QString firstId = QString::number(first.thread_id());
    EXPECT_EQ(Lpid(QStringLiteral("LPID"), kRetryUser), firstId);

    cMySQL second;
    ASSERT_TRUE(Connect(second, Env::dbPort(), kRetryUser, kRetryPassword));
    EXPECT_EQ(Lpid(QStringLiteral("LPID2"), kRetryUser), firstId);
    EXPECT_EQ(Lpid(QStringLiteral("LPID"), kRetryUser), QString::number(second.thread_id()));
}

TEST(RealConnect, CharacterSetStepsOnlyForVersion5Servers) {
    testsupport::ScriptedMsgBoxes boxes;
    const QString version = QStringLiteral("SHOW VARIABLES LIKE 'version'");
    const QString client = QStringLiteral("SHOW VARIABLES like 'character_set_client'");
    {
        cMySQL c;
        ASSERT_TRUE(Connect(c, Env::dbOldPort(), kUser, kPassword, QStringLiteral("euckr")));
        const auto q = LoggedQueries(Env::generalLogOld(), c.thread_id());
        EXPECT_EQ(q, (std::vector<QString>{version, client, QStringLiteral("set names euckr")}));
    }
    {
        // Already the connection's set: checked, not sent. The check is
        // exact, so another spelling is sent.
        cMySQL same;
        ASSERT_TRUE(Connect(same, Env::dbOldPort(), kUser, kPassword, QStringLiteral("utf8mb4")));
        EXPECT_EQ(LoggedQueries(Env::generalLogOld(), same.thread_id()), (std::vector<QString>{version, client}));
        cMySQL upper;
        ASSERT_TRUE(Connect(upper, Env::dbOldPort(), kUser, kPassword, QStringLiteral("UTF8MB4")));
        EXPECT_TRUE(contains(LoggedQueries(Env::generalLogOld(), upper.thread_id()),
                             QStringLiteral("set names UTF8MB4")));
    }
    {
        cMySQL none;
        ASSERT_TRUE(Connect(none, Env::dbOldPort()));
        EXPECT_TRUE(LoggedQueries(Env::generalLogOld(), none.thread_id()).empty());
        cMySQL current;
        ASSERT_TRUE(Connect(current, Env::dbPort(), kUser, kPassword, QStringLiteral("euckr")));
        EXPECT_EQ(LoggedQueries(Env::generalLog(), current.thread_id()), (std::vector<QString>{version}));
    }
    {
        // A later non-empty set replaces the stored one, an empty one keeps it.
        cMySQL c;
        EXPECT_FALSE(Connect(c, Env::closedPort(), kUser, kPassword, QStringLiteral("latin1"), true));
        EXPECT_FALSE(Connect(c, Env::closedPort(), kUser, kPassword, QStringLiteral("euckr"), true));
        ASSERT_TRUE(Connect(c, Env::dbOldPort(), kUser, kPassword, QString()));
        EXPECT_TRUE(contains(LoggedQueries(Env::generalLogOld(), c.thread_id()), QStringLiteral("set names euckr")));
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(RealConnect, KoreanTextSurvivesBothCharacterSets) {
    testsupport::ScriptedMsgBoxes boxes;
    const QString korean = QStringLiteral("한글 테스트 값");
    for (const int port : {Env::dbPort(), Env::dbOldPort()}) {
        const QString table = Unique(QStringLiteral("ko_t"));
        testsupport::RootSql(QStringLiteral("CREATE TABLE %1 (s VARCHAR(50)) DEFAULT CHARSET=utf8mb4").arg(table), port);
        cMySQL c;
        ASSERT_TRUE(Connect(c, port, kUser, kPassword, QStringLiteral("euckr")));
        c.query(QStringLiteral("INSERT INTO %1 VALUES ('%2')").arg(table, korean));
        RecordsetPtr rs = c.query(QStringLiteral("SELECT s FROM %1").arg(table));
        ASSERT_TRUE(rs) << port;
        EXPECT_EQ(rs->Fields(QStringLiteral("s")).Value(), korean) << port;
        // What the server stored, read through another client.
        EXPECT_EQ(testsupport::RootSql(QStringLiteral("SELECT s FROM %1").arg(table), port),
                  (std::vector<QString>{korean}))
            << port;
        testsupport::RootSql(QStringLiteral("DROP TABLE %1").arg(table), port);
    }
    EXPECT_TRUE(boxes.shown().empty());
}
