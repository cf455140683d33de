// The database connection with TLS required, against the TLS twins of the
// test environment (scripts/env kind "tls") and the plain main server.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <vector>

#include "core/errors.h"
#include "core/log.h"
#include "core/tls.h"
#include "db/cmysql.h"
#include "dbtest.h"
#include "tcprelay.h"
#include "testsupport.h"
#include "tlstrust.h"

using namespace dbtest;
using testsupport::Env;

namespace {

using testsupport::TlsFile;
using testsupport::TrustCa;
using testsupport::TrustPin;

const QString kUnreachableBox =
    QStringLiteral("Error 2003 Can't connect to server on '127.0.0.1'\r\n\r\n데이터베이스 서버에 접속할 수 없습니다."
                   "\r\n\r\n인터넷이 연결되어 있는지 확인 해 주세요.\r\n\r\n"
                   "인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 가동중인지 "
                   "확인해 주세요.\r\n관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.");

QString sslCipher(cMySQL& c) {
    RecordsetPtr rs = c.query(QStringLiteral("SHOW SESSION STATUS LIKE 'Ssl_cipher'"), true);
    return rs && rs->RecordCount() == 1 ? rs->Fields(1).Value() : QStringLiteral("<no answer>");
}

// Connects through a relay that records the bytes, runs the sign-in
// statement's shape with a marker password, and returns what crossed.
std::string wireOfSignIn(const core::TlsTrust& trust, int serverPort, bool* connected) {
    testsupport::TcpRelay relay(serverPort);
    cMySQL c;
    c.tls(trust);
    *connected = Connect(c, relay.port(), kUser, kPassword, QString(), true);
    if (*connected) c.query(QStringLiteral("SELECT id FROM user WHERE password2 = SHA1('marker-pw-5521')"), true);
    return relay.seen();
}

}  // namespace

TEST(DbTls, RequiredWithCaOrPinEncryptsTheSession) {
    testsupport::ScriptedMsgBoxes boxes;
    const QByteArray fingerprint = TlsFile("server.fp-sha1");
    ASSERT_FALSE(fingerprint.isEmpty()) << "no test certificates: scripts/env start tls";
    std::vector<core::TlsTrust> trusts{TrustPin(fingerprint), TrustPin(fingerprint.toUpper())};
    // The client library checks a CA with a chain engine of that CA alone,
    // asked for with the Windows 8 form of its settings; wine 8.0 knows only
    // the older forms and refuses it (E_INVALIDARG). That check needs Windows.
    if (!testsupport::UnderWine()) trusts.push_back(TrustCa("ca.pem"));
    for (const core::TlsTrust& trust : trusts) {
        cMySQL c;
        c.tls(trust);
        if (!Connect(c, testenv::tls::kDb.port)) {
            ADD_FAILURE() << (trust.caPem.isEmpty() ? "pin: " : "CA: ")
                          << (boxes.shown().empty() ? "" : boxes.shown().back().text.toStdString());
            continue;
        }
        EXPECT_FALSE(sslCipher(c).isEmpty());
        // A lost connection is reopened with the same demands.
        testsupport::RootSql(QStringLiteral("KILL %1").arg(c.thread_id()), testenv::tls::kDb.port);
        EXPECT_FALSE(sslCipher(c).isEmpty());
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(DbTls, NothingOfTheStatementsTravelsInClearText) {
    testsupport::ScriptedMsgBoxes boxes;
    bool connected = false;
    // The relay does see clear text when there is some: the check below can fail.
    const std::string plain = wireOfSignIn(core::TlsTrust{}, testenv::tls::kDb.port, &connected);
    ASSERT_TRUE(connected);
    EXPECT_NE(plain.find("marker-pw-5521"), std::string::npos);
    const std::string sealed = wireOfSignIn(TrustPin(TlsFile("server.fp-sha1")), testenv::tls::kDb.port, &connected);
    ASSERT_TRUE(connected);
    EXPECT_EQ(sealed.find("marker-pw-5521"), std::string::npos);
    EXPECT_EQ(sealed.find("qx_inhouse"), std::string::npos);  // neither the account nor the database name
    // A server without TLS gets nothing but the client's refusal: no account, no statement.
    const std::string refused = wireOfSignIn(TrustCa("ca.pem"), Env::dbPort(), &connected);
    EXPECT_FALSE(connected);
    EXPECT_EQ(refused.find("qx_inhouse"), std::string::npos);
}

TEST(DbTls, AServerThatFailsTheCheckIsUnreachable) {
    QTemporaryDir logDir;
    ASSERT_TRUE(core::InstallLog(logDir.filePath(QStringLiteral("t.log"))));
    testsupport::ScriptedMsgBoxes boxes;
    const struct {
        const char* what;
        core::TlsTrust trust;
        int port;
    } cases[] = {
        {"another CA", TrustCa("wrong-ca.pem"), testenv::tls::kDb.port},
        {"another certificate", TrustPin(QByteArray(40, 'a')), testenv::tls::kDb.port},
        {"an expired certificate", TrustCa("ca.pem"), testenv::tls::kDbExpiredPort},
        {"no TLS at all", TrustCa("ca.pem"), Env::dbPort()},
        {"nothing to check against", TrustCa("no-such-file.pem"), testenv::tls::kDb.port},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        cMySQL conn;
        conn.tls(c.trust);
        EXPECT_FALSE(Connect(conn, c.port));
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, kUnreachableBox);
        // Silent too, and the same handle stays refused.
        EXPECT_FALSE(Connect(conn, c.port, kUser, kPassword, QString(), true));
        EXPECT_EQ(boxes.shown().size(), 1u);
    }
    core::RemoveLog();
    QFile log(logDir.filePath(QStringLiteral("t.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    // The causes are in the log, worded by the library.
    EXPECT_TRUE(text.contains("error 2026")) << text.toStdString();
    EXPECT_TRUE(text.contains("TLS required, not connecting")) << text.toStdString();
}

TEST(DbTls, OtherFailuresKeepTheirOwnReport) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    c.tls(TrustPin(TlsFile("server.fp-sha1")));
    EXPECT_FALSE(Connect(c, testenv::tls::kDb.port, kUser, QStringLiteral("wrong")));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 1045 "))) << boxes.shown()[0].text.toStdString();
}

TEST(DbTls, TheBuildSettingIsTheDefault) {
    testsupport::ScriptedMsgBoxes boxes;
    cMySQL c;
    const core::TlsTrust built = core::DbTlsSetting();
    if (!built.required) {
        // Off: a plain server answers as before, and a TLS server in plain text.
        ASSERT_TRUE(Connect(c, Env::dbPort()));
        cMySQL twin;
        ASSERT_TRUE(Connect(twin, testenv::tls::kDb.port));
        EXPECT_TRUE(sslCipher(twin).isEmpty());
    } else {
        // A build made against the test CA (docs/tls.md): it must not talk to the plain server.
        ASSERT_TRUE(Connect(c, testenv::tls::kDb.port));
        EXPECT_FALSE(sslCipher(c).isEmpty());
        cMySQL plain;
        EXPECT_FALSE(Connect(plain, Env::dbPort(), kUser, kPassword, QString(), true));
    }
}
