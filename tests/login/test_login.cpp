// Admission and sign-in against the real database, with the real widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QStyle>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include "db/cmysql.h"
#include "login/admission.h"
#include "login/frmlogin.h"
#include "platform/adapters.h"
#include "platform/errors.h"
#include "platform/session.h"
#include "platform/settingsstore.h"
#include "testsupport.h"

using namespace testsupport;
using platform::NetworkAdapterConfiguration;

namespace {

const QString kRefusal = QStringLiteral("허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.\r\nMAC: ");
const QString kWrong = QStringLiteral("암호가 잘못되었습니다.");

NetworkAdapterConfiguration adapter(std::optional<QString> mac, bool enabled = true) {
    NetworkAdapterConfiguration a;
    a.IPEnabled = enabled;
    a.MACAddress = std::move(mac);
    return a;
}

int g_adapterQueries = 0;
platform::AdapterSource g_adapters;  // what the adapter query of `endpoints()` sees
void useAdapters(std::vector<NetworkAdapterConfiguration> list) {
    g_adapters = [list] {
        ++g_adapterQueries;
        return list;
    };
}
// The test database, and the adapters of the last useAdapters.
modOrvelDBConsts::Endpoints endpoints(const QString& dbHost = QString()) {
    modOrvelDBConsts::Endpoints e;
    if (!dbHost.isEmpty()) e.db.host = dbHost;
    e.adapters = [] { return g_adapters(); };
    return e;
}

QString setting(const QString& key) {
    return platform::GetSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(), key);
}
void store(const QString& key, const QString& value) {
    platform::SaveSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(), key, value);
}

class Login : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QStandardPaths::setTestModeEnabled(true);
        RootSql(QStringLiteral("DELETE FROM user_mac WHERE mac_addr LIKE '02BB%'"));
        RootSql(QStringLiteral("DELETE FROM user WHERE id LIKE 't\\_%'"));
        RootSql(QStringLiteral(
            "INSERT INTO user_mac VALUES ('02BB00000001','t_kim',0), ('02BB00000002','t_kim',1),"
            " ('02BB00000003','t_hidden',0), ('02BB00000004','t_lee',0)"));
        RootSql(QStringLiteral("INSERT INTO user (id, password2, hidden, name) VALUES "
                               "('t_kim', SHA1('pw-kim'), 0, '김철수'),"
                               "('t_hidden', SHA1('pw-hidden'), 1, '숨은이'),"
                               "('t_lee', SHA1('x'), 0, '이영희')"));
    }
    static void TearDownTestSuite() {
        RootSql(QStringLiteral("DELETE FROM user_mac WHERE mac_addr LIKE '02BB%'"));
        RootSql(QStringLiteral("DELETE FROM user WHERE id LIKE 't\\_%'"));
    }
    void SetUp() override {
        store(QStringLiteral("issave_passwd"), QStringLiteral("0"));
        store(QStringLiteral("passwd"), QString());
        useAdapters({adapter(QStringLiteral("02:BB:00:00:00:01"))});
    }
    // Shows the form and lets its first activation run.
    static void open(frmLogin& f) {
        f.show();
        QApplication::setActiveWindow(&f);
        for (int i = 0; i < 50 && !f.connection() && f.isVisible(); ++i) QTest::qWait(10);
    }
    static void setLeePassword(const QString& sqlExpr) {
        RootSql(QStringLiteral("UPDATE user SET password2 = SHA1(%1) WHERE id='t_lee'").arg(sqlExpr));
    }
};

TEST_F(Login, AdmissionByAddress) {
    struct Case {
        std::vector<NetworkAdapterConfiguration> adapters;
        QString uid;  // empty: refused
        QString shownMac;
    } cases[] = {
        {{adapter(QStringLiteral("02:BB:00:00:00:01"))}, QStringLiteral("t_kim"), {}},
        {{adapter(QStringLiteral("02-BB-00-00-00-01"))}, QStringLiteral("t_kim"), {}},
        {{adapter(QStringLiteral("02:BB:00:00:00:02"))}, {}, QStringLiteral("02BB00000002")},  // blocked
        {{adapter(QStringLiteral("02:BB:00:00:00:99"))}, {}, QStringLiteral("02BB00000099")},  // unknown
        // The first IP-enabled adapter with an address decides.
        {{adapter(std::nullopt), adapter(QStringLiteral("02:BB:00:00:00:01"), false),
          adapter(QStringLiteral("02:BB:00:00:00:77")), adapter(QStringLiteral("02:BB:00:00:00:01"))},
         {},
         QStringLiteral("02BB00000077")},
        {{adapter(std::nullopt), adapter(QStringLiteral("02:BB:00:00:00:01"))}, QStringLiteral("t_kim"), {}},
        {{}, {}, QString()},  // no adapter at all
    };
    for (const auto& c : cases) {
        useAdapters(c.adapters);
        ScriptedMsgBoxes boxes;
        InterceptEnd end;
        if (!c.uid.isEmpty()) {
            EXPECT_EQ(modOrvelDBConsts::AdmitWorkstation(endpoints()), c.uid);
            EXPECT_TRUE(boxes.shown().empty());
            continue;
        }
        try {
            modOrvelDBConsts::AdmitWorkstation(endpoints());
            ADD_FAILURE() << "admitted " << c.shownMac.toStdString();
        } catch (const ProgramEnded& e) {
            EXPECT_EQ(e.code, platform::ExitCode::WorkstationRefused);
        }
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, kRefusal + c.shownMac);
        EXPECT_EQ(boxes.shown()[0].icon, platform::MsgIcon::None);
        EXPECT_EQ(boxes.shown()[0].title, platform::AppTitle());
    }
}

TEST_F(Login, AdmissionFailuresOfTheLookup) {
    // Database unreachable: the connection's own message, then the refusal.
    {
        ScriptedMsgBoxes boxes;
        InterceptEnd end;
        EXPECT_THROW(modOrvelDBConsts::AdmitWorkstation(endpoints(QStringLiteral("127.0.0.2"))), ProgramEnded);
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 2003 ")));
        EXPECT_EQ(boxes.shown()[1].text, kRefusal + QStringLiteral("02BB00000001"));
    }
    // The adapter query itself fails: its error twice, then the refusal.
    g_adapters = []() -> std::vector<NetworkAdapterConfiguration> {
        throw platform::Error(-2147217405, QStringLiteral("SWbemServices"), QStringLiteral("Access denied"));
    };
    ScriptedMsgBoxes boxes;
    InterceptEnd end;
    EXPECT_THROW(modOrvelDBConsts::AdmitWorkstation(endpoints()), ProgramEnded);
    const QString err = QStringLiteral(
        "Error -2147217405 (Access denied) in procedure GetMyMacAddress of Module modOrvelDBConsts");
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{err, err, kRefusal}));
}

TEST_F(Login, RealMachineAdapterHasTheExpectedForm) {
    ScriptedMsgBoxes boxes;
    const QString mac = modOrvelDBConsts::GetMyMacAddress();
    EXPECT_TRUE(boxes.shown().empty());
    if (!mac.isEmpty()) {
        EXPECT_EQ(mac.size(), 12);
        EXPECT_EQ(mac, mac.toUpper());
        EXPECT_FALSE(mac.contains(QLatin1Char(':')));
    }
}

TEST_F(Login, PasswordsReachTheServerAsTyped) {
    useAdapters({adapter(QStringLiteral("02:BB:00:00:00:04"))});
    struct Case {
        QString typed;
        QString sqlLiteral;  // the same text, written by the test for the server
    } cases[] = {
        {QStringLiteral("it's"), QStringLiteral("'it''s'")},
        {QStringLiteral("back\\slash"), QStringLiteral("'back\\\\slash'")},
        {QStringLiteral("a'\\'b\\"), QStringLiteral("'a''\\\\''b\\\\'")},
        {QStringLiteral("한글암호"), QStringLiteral("'한글암호'")},
        {QStringLiteral(""), QStringLiteral("''")},
        {QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"), QStringLiteral("'ab'")},
    };
    for (const auto& c : cases) {
        setLeePassword(c.sqlLiteral);
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        open(f);
        ASSERT_TRUE(f.connection());
        EXPECT_EQ(f.txtUserName->text(), QStringLiteral("t_lee"));
        EXPECT_FALSE(f.txtUserName->isEnabled());
        f.txtPassword->setText(c.typed);
        f.cmdOK->click();
        EXPECT_TRUE(f.LoginSucceeded) << c.sqlLiteral.toStdString();
        EXPECT_TRUE(boxes.shown().empty()) << c.sqlLiteral.toStdString();
        EXPECT_FALSE(f.isVisible());
        EXPECT_EQ(modMain::gUserName, QStringLiteral("이영희"));
    }
    // Attempts to leave the literal sign nobody in.
    setLeePassword(QStringLiteral("'secret'"));
    for (const QString& evil : {QStringLiteral("' OR '1'='1"), QStringLiteral("\\' OR 1=1 -- "),
                                QStringLiteral("') OR ('1'='1"), QStringLiteral("x') OR 1=1 -- ")}) {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        open(f);
        f.txtPassword->setText(evil);
        f.cmdOK->click();
        EXPECT_FALSE(f.LoginSucceeded) << evil.toStdString();
        EXPECT_EQ(boxes.texts(), std::vector<QString>{kWrong}) << evil.toStdString();
    }
}

TEST_F(Login, WrongPasswordAndHiddenUserLookAlike) {
    for (const auto& [mac, pw] : {std::pair{QStringLiteral("02:BB:00:00:00:01"), QStringLiteral("nope")},
                                  std::pair{QStringLiteral("02:BB:00:00:00:03"), QStringLiteral("pw-hidden")}}) {
        useAdapters({adapter(mac)});
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        open(f);
        f.txtPassword->setText(pw);
        f.cmdOK->click();
        EXPECT_FALSE(f.LoginSucceeded);
        EXPECT_TRUE(f.isVisible());
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, kWrong);
        EXPECT_EQ(boxes.shown()[0].title, QStringLiteral("로그인"));
        EXPECT_EQ(boxes.shown()[0].icon, platform::MsgIcon::None);
        EXPECT_EQ(QApplication::focusWidget(), f.txtPassword);
        EXPECT_EQ(f.txtPassword->selectedText(), pw);  // Home, then Shift+End
    }
}

TEST_F(Login, RememberedPassword) {
    // Correct: signs in during the first activation, without a key press.
    store(QStringLiteral("issave_passwd"), QStringLiteral("1"));
    store(QStringLiteral("passwd"), QStringLiteral("pw-kim"));
    {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        EXPECT_TRUE(f.chkpwdSave->isChecked());
        open(f);
        EXPECT_TRUE(f.LoginSucceeded);
        EXPECT_TRUE(boxes.shown().empty());
        EXPECT_EQ(modMain::gUserID, QStringLiteral("t_kim"));
    }
    // Stale: the wrong-password message at once, the password selected.
    store(QStringLiteral("passwd"), QStringLiteral("old-pw"));
    {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        open(f);
        EXPECT_FALSE(f.LoginSucceeded);
        EXPECT_EQ(boxes.texts(), std::vector<QString>{kWrong});
        EXPECT_EQ(f.txtPassword->selectedText(), QStringLiteral("old-pw"));

        // Unticking erases the stored password at once; ticking stores the box's text.
        f.chkpwdSave->setChecked(false);
        EXPECT_EQ(setting(QStringLiteral("issave_passwd")), QStringLiteral("0"));
        EXPECT_EQ(setting(QStringLiteral("passwd")), QString());
        f.chkpwdSave->setChecked(true);
        EXPECT_EQ(setting(QStringLiteral("issave_passwd")), QStringLiteral("1"));
        EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("old-pw"));

        // Editing, then leaving the box, stores the new text while ticked...
        f.txtPassword->setFocus();
        f.txtPassword->setText(QStringLiteral("new-pw"));
        f.chkpwdSave->setFocus();
        EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("new-pw"));
        // ...leaving without an edit stores nothing...
        store(QStringLiteral("passwd"), QStringLiteral("kept"));
        f.txtPassword->setFocus();
        f.chkpwdSave->setFocus();
        EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("kept"));
        // ...and while unticked an edit is not remembered.
        f.chkpwdSave->setChecked(false);
        f.txtPassword->setFocus();
        f.txtPassword->setText(QStringLiteral("secret2"));
        f.chkpwdSave->setFocus();
        EXPECT_EQ(setting(QStringLiteral("passwd")), QString());
    }
    const QFileInfo file(platform::SettingsFilePath(frmLogin::SettingsApp()));
    EXPECT_EQ(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());
}

TEST_F(Login, ReactivationRunsTheAdmissionOnce) {
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, endpoints());
    g_adapterQueries = 0;
    open(f);
    cMySQL* first = f.connection();
    ASSERT_TRUE(first);
    const int threadId = first->thread_id();
    const int queries = g_adapterQueries;
    QWidget other;
    for (int i = 0; i < 3; ++i) {
        other.show();
        QApplication::setActiveWindow(&other);
        QTest::qWait(10);
        QApplication::setActiveWindow(&f);
        QTest::qWait(10);
    }
    EXPECT_EQ(g_adapterQueries, queries);
    EXPECT_EQ(f.connection(), first);
    EXPECT_EQ(first->thread_id(), threadId);
    const auto n = RootSql(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID=%1")
                               .arg(threadId));
    EXPECT_EQ(n, std::vector<QString>{QStringLiteral("1")});
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(Login, CancelEscAndFrameEndTheSignInSilently) {
    for (int way = 0; way < 3; ++way) {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        open(f);
        const int tid = f.connection()->thread_id();
        if (way == 0) f.cmdCancel->click();
        else if (way == 1) QTest::keyClick(&f, Qt::Key_Escape);
        else f.close();
        EXPECT_FALSE(f.isVisible());
        EXPECT_FALSE(f.LoginSucceeded);
        EXPECT_TRUE(boxes.shown().empty());
        f.Form_Unload();
        EXPECT_EQ(f.connection(), nullptr);
        // The form's connection is gone from the server.
        QTest::qWait(100);
        EXPECT_TRUE(RootSql(QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE ID=%1")
                                .arg(tid))
                        .empty());
    }
}

TEST_F(Login, LayoutAndControls) {
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, endpoints());
    EXPECT_EQ(f.windowTitle(), QStringLiteral("로그인"));
    EXPECT_EQ(f.size(), QSize(295, 107));
    EXPECT_EQ(f.txtUserName->geometry(), QRect(75, 9, 155, 23));
    EXPECT_EQ(f.txtPassword->geometry(), QRect(75, 35, 155, 23));
    EXPECT_EQ(f.cmdOK->geometry(), QRect(75, 65, 76, 26));
    EXPECT_EQ(f.chkpwdSave->geometry(), QRect(237, 39, 46, 16));
    EXPECT_EQ(f.lblLabels[0]->geometry(), QRect(10, 14, 61, 16));
    EXPECT_EQ(f.lblLabels[1]->geometry(), QRect(21, 41, 48, 15));
    EXPECT_EQ(f.cmdCancel->geometry(), QRect(156, 65, 76, 26));
    EXPECT_EQ(f.cmdOK->text(), QStringLiteral("확인"));
    EXPECT_EQ(f.cmdCancel->text(), QStringLiteral("취소"));
    EXPECT_EQ(f.chkpwdSave->text(), QStringLiteral("저장"));
    EXPECT_EQ(f.lblLabels[0]->text(), QStringLiteral("아이디(&U):"));
    EXPECT_EQ(f.lblLabels[1]->text(), QStringLiteral("암호(&P):"));
    EXPECT_TRUE(f.cmdOK->isDefault());
    EXPECT_EQ(f.txtPassword->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(f.txtPassword->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_FALSE(f.windowIcon().isNull());
    auto nextTab = [](QWidget* w) {
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    EXPECT_EQ(nextTab(f.txtUserName), f.txtPassword);
    EXPECT_EQ(nextTab(f.txtPassword), f.cmdOK);
    EXPECT_EQ(nextTab(f.cmdOK), f.chkpwdSave);
    EXPECT_EQ(nextTab(f.chkpwdSave), f.cmdCancel);
    EXPECT_EQ(nextTab(f.cmdCancel), f.txtUserName);
    // Every password character is drawn as "*".
    EXPECT_EQ(f.txtPassword->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, f.txtPassword),
              int('*'));
}

}  // namespace
