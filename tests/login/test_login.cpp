// Admission and sign-in against the real database, with the real widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QStyle>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <mutex>
#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <windows.h>
#include <wincrypt.h>
#endif

#include "db/cmysql.h"
#include "login/admission.h"
#include "login/frmlogin.h"
#include "platform/adapters.h"
#include "core/errors.h"
#include "core/session.h"
#include "platform/settingsstore.h"
#include "testsupport.h"

using namespace testsupport;
using platform::NetworkAdapterConfiguration;

// The client library's allocation of a connection record, made to fail on
// demand the way it does when memory runs out: after `g_initsUntilFailure`
// more successes (-1: never). Where the library is linked statically
// (Windows) it cannot be interposed.
int g_initsUntilFailure = -1;
#ifndef _WIN32
constexpr bool kCanFailInit = true;
extern "C" void* mysql_init(void* m) {
    static const auto real = reinterpret_cast<void* (*)(void*)>(dlsym(RTLD_NEXT, "mysql_init"));
    if (g_initsUntilFailure >= 0 && g_initsUntilFailure-- == 0) return nullptr;
    return real(m);
}
#else
constexpr bool kCanFailInit = false;
#endif

namespace {

template <class T = QWidget>
T* ctl(const QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(c) << name;
    return c;
}
QLineEdit* password(const frmLogin& f) { return ctl<QLineEdit>(f, "txtPassword"); }
QCheckBox* saveBox(const frmLogin& f) { return ctl<QCheckBox>(f, "chkpwdSave"); }
void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
// Puts `text` into the password box (as a paste would) and presses Enter.
void signIn(frmLogin& f, const QString& text) {
    password(f)->setText(text);
    QTest::keyClick(password(f), Qt::Key_Return);
}

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

// The password is a secret setting; the switch a plain one.
const QString kPasswdKey = QStringLiteral("passwd");
QString setting(const QString& key) {
    return key == kPasswdKey ? platform::GetSecretSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(), key)
                             : platform::GetSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(), key);
}
void store(const QString& key, const QString& value) {
    if (key == kPasswdKey)
        platform::SaveSecretSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(), key, value);
    else
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
        store(kPasswdKey, QString());
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
        // The address is taken as the system gives it: an all-zero one still
        // decides, and letters keep their case.
        {{adapter(QStringLiteral("00:00:00:00:00:00")), adapter(QStringLiteral("02:BB:00:00:00:01"))},
         {},
         QStringLiteral("000000000000")},
        {{adapter(QStringLiteral("02:bb:00:00:00:9a"))}, {}, QStringLiteral("02bb0000009a")},
        {{}, {}, QString()},  // no adapter at all
        // Only twelve hex digits reach the statement; anything else is no
        // registered address, however it would read as SQL.
        {{adapter(QStringLiteral("02BB00000001' OR '1'='1"))}, {}, QStringLiteral("02BB00000001' OR '1'='1")},
        {{adapter(QStringLiteral("02:BB:00:00:00:0G"))}, {}, QStringLiteral("02BB0000000G")},
        {{adapter(QStringLiteral("02:BB:00:00:00:01:00"))}, {}, QStringLiteral("02BB0000000100")},
        {{adapter(QStringLiteral("02:BB:00:00:00:1"))}, {}, QStringLiteral("02BB0000001")},
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
            EXPECT_EQ(e.code, core::ExitCode::WorkstationRefused);
        }
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, kRefusal + c.shownMac);
        EXPECT_EQ(boxes.shown()[0].icon, core::MsgIcon::None);
        EXPECT_EQ(boxes.shown()[0].title, core::AppTitle());
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
    // Twelve hex digits in the system's own case (a PC's service writes
    // upper case, wine's lower case).
    if (!mac.isEmpty()) {
        EXPECT_EQ(mac.size(), 12) << mac.toStdString();
        EXPECT_FALSE(mac.contains(QLatin1Char(':')) || mac.contains(QLatin1Char('-')));
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
        EXPECT_EQ(ctl<QLineEdit>(f, "txtUserName")->text(), QStringLiteral("t_lee"));
        EXPECT_FALSE(ctl(f, "txtUserName")->isEnabled());
        password(f)->setText(c.typed);
        click(ctl(f, "cmdOK"));
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
        signIn(f, evil);
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
        signIn(f, pw);
        EXPECT_FALSE(f.LoginSucceeded);
        EXPECT_TRUE(f.isVisible());
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, kWrong);
        EXPECT_EQ(boxes.shown()[0].title, QStringLiteral("로그인"));
        EXPECT_EQ(boxes.shown()[0].icon, core::MsgIcon::None);
        EXPECT_EQ(QApplication::focusWidget(), password(f));
        EXPECT_EQ(password(f)->selectedText(), pw);  // Home, then Shift+End
    }
}

// With the box unticked nothing is remembered, whatever another build of
// the program left behind: no password in the box, no sign-in without a
// key press, and the copy is gone.
TEST_F(Login, UntickedMeansForgotten) {
    store(QStringLiteral("passwd"), QStringLiteral("pw-kim"));
    store(QStringLiteral("issave_passwd"), QStringLiteral("0"));
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, endpoints());
    EXPECT_FALSE(saveBox(f)->isChecked());
    EXPECT_EQ(password(f)->text(), QString());
    open(f);
    EXPECT_FALSE(f.LoginSucceeded);
    EXPECT_EQ(setting(kPasswdKey), QString());
}

TEST_F(Login, RememberedPassword) {
    // Correct: signs in during the first activation, without a key press.
    store(QStringLiteral("issave_passwd"), QStringLiteral("1"));
    store(QStringLiteral("passwd"), QStringLiteral("pw-kim"));
    {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        EXPECT_TRUE(saveBox(f)->isChecked());
        open(f);
        EXPECT_TRUE(f.LoginSucceeded);
        EXPECT_TRUE(boxes.shown().empty());
        EXPECT_EQ(modMain::gUserID, QStringLiteral("t_kim"));
    }
    // Stale: the wrong-password message at once, the password selected.
    store(QStringLiteral("passwd"), QStringLiteral("old-pw"));
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, endpoints());
    open(f);
    EXPECT_FALSE(f.LoginSucceeded);
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kWrong});
    EXPECT_EQ(password(f)->selectedText(), QStringLiteral("old-pw"));

    // Unticking erases the stored password at once; ticking stores the box's text.
    click(saveBox(f));
    EXPECT_EQ(setting(QStringLiteral("issave_passwd")), QStringLiteral("0"));
    EXPECT_EQ(setting(QStringLiteral("passwd")), QString());
    click(saveBox(f));
    EXPECT_EQ(setting(QStringLiteral("issave_passwd")), QStringLiteral("1"));
    EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("old-pw"));

    // A mistyped password is not stored when the message box takes the
    // focus, nor when another application does...
    QLineEdit elsewhere;
    auto away = [&] {
        elsewhere.show();
        QApplication::setActiveWindow(&elsewhere);
    };
    boxes.onShow = [&](const core::MsgBoxRecord&) { away(); };
    click(password(f));
    QTest::keyClicks(password(f), QStringLiteral("-typo"));
    QTest::keyClick(password(f), Qt::Key_Return);
    QApplication::setActiveWindow(&f);
    EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("old-pw"));
    away();
    QApplication::setActiveWindow(&f);
    EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("old-pw"));
    // ...leaving the box for another control of the form stores the edit...
    EXPECT_EQ(QApplication::focusWidget(), password(f));
    QTest::keyClicks(password(f), QStringLiteral("new-pw"));
    QTest::keyClick(password(f), Qt::Key_Tab);
    EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("new-pw"));
    // ...leaving it without an edit stores nothing...
    store(QStringLiteral("passwd"), QStringLiteral("kept"));
    click(password(f));
    QTest::keyClick(password(f), Qt::Key_Tab);
    EXPECT_EQ(setting(QStringLiteral("passwd")), QStringLiteral("kept"));
    // ...and while unticked an edit is not remembered.
    click(saveBox(f));
    click(password(f));
    QTest::keyClicks(password(f), QStringLiteral("2"));
    QTest::keyClick(password(f), Qt::Key_Tab);
    EXPECT_EQ(setting(QStringLiteral("passwd")), QString());
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

// Cancel, Esc, the frame, and a connection object the client library cannot
// even create: the form hides without signing in.
TEST_F(Login, SignInEndsWithoutSuccess) {
    for (int way = 0; way < (kCanFailInit ? 4 : 3); ++way) {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        if (way == 3) g_initsUntilFailure = 1;  // the admission's lookup gets its record, the form does not
        open(f);
        g_initsUntilFailure = -1;
        const int tid = f.connection() ? f.connection()->thread_id() : 0;
        if (way == 0) click(ctl(f, "cmdCancel"));
        else if (way == 1) QTest::keyClick(&f, Qt::Key_Escape);
        else if (way == 2) f.close();
        EXPECT_FALSE(f.isVisible()) << way;
        EXPECT_FALSE(f.LoginSucceeded);
        if (way == 3) {
            EXPECT_EQ(boxes.texts(), std::vector<QString>{QStringLiteral(
                                         "Error 512 (Cannot Initialize a mysql record::Fatal) in procedure "
                                         "Form_Activate of Form frmLogin")});
            continue;
        }
        EXPECT_TRUE(boxes.shown().empty());
        f.Form_Unload();
        EXPECT_EQ(f.connection(), nullptr);
        // The form's connection is gone from the server, which drops it a
        // moment after the client has said goodbye.
        const auto gone = [&] {
            return RootSql(QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE ID=%1").arg(tid))
                .empty();
        };
        for (int i = 0; i < 100 && !gone(); ++i) QTest::qWait(50);
        EXPECT_TRUE(gone());
    }
}

TEST_F(Login, LayoutAndControls) {
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, endpoints());
    EXPECT_EQ(f.windowTitle(), QStringLiteral("로그인"));
    EXPECT_EQ(f.size(), QSize(295, 107));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    struct Control {
        const char* name;
        QRect rect;
        const char* text;
    } controls[] = {
        {"txtUserName", {75, 9, 155, 23}, ""},          {"txtPassword", {75, 35, 155, 23}, ""},
        {"cmdOK", {75, 65, 76, 26}, "확인"},            {"chkpwdSave", {237, 39, 46, 16}, "저장"},
        {"lblLabels_0", {10, 14, 61, 16}, "아이디(&U):"}, {"lblLabels_1", {21, 41, 48, 15}, "암호(&P):"},
        {"cmdCancel", {156, 65, 76, 26}, "취소"},
    };
    for (const Control& c : controls) {
        QWidget* x = ctl(f, c.name);
        ASSERT_TRUE(x);
        EXPECT_EQ(x->geometry(), c.rect) << c.name;
        if (*c.text) {
            EXPECT_EQ(x->property("text").toString(), QString::fromUtf8(c.text)) << c.name;
        }
    }
    EXPECT_TRUE(ctl<QPushButton>(f, "cmdOK")->isDefault());
    EXPECT_EQ(password(f)->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(password(f)->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_FALSE(f.windowIcon().isNull());
    // Every password character is drawn as "*".
    EXPECT_EQ(password(f)->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password(f)), int('*'));
    // Tab: user id, password, OK, save switch, cancel, and round again.
    QStringList order;
    QWidget* w = ctl(f, "txtUserName");
    for (int i = 0; i < 5; ++i) {
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        order << w->objectName();
    }
    EXPECT_EQ(order, QStringList({QStringLiteral("txtPassword"), QStringLiteral("cmdOK"), QStringLiteral("chkpwdSave"),
                                  QStringLiteral("cmdCancel"), QStringLiteral("txtUserName")}));
}

// Everything the program traces while it lives: Qt's messages (which go to
// stderr, or to the debug output on Windows) and, on Linux, the bytes written
// to stderr itself.
class TraceCapture {
public:
    TraceCapture() {
        self() = this;
        previous_ = qInstallMessageHandler([](QtMsgType t, const QMessageLogContext& c, const QString& m) {
            {
                std::lock_guard lock(self()->mutex_);
                self()->messages_ += m + QLatin1Char('\n');
            }
            self()->previous_(t, c, m);
        });
#ifndef _WIN32
        std::fflush(stderr);
        savedErr_ = ::dup(2);
        char name[] = "/tmp/orvel-trace-XXXXXX";
        file_ = ::mkstemp(name);
        ::unlink(name);
        ::dup2(file_, 2);
#endif
    }
    ~TraceCapture() { stop(); }
    // All of it, once the capture has ended.
    QString stop() {
        if (!stopped_) {
            stopped_ = true;
            qInstallMessageHandler(previous_);
#ifndef _WIN32
            std::fflush(stderr);
            ::dup2(savedErr_, 2);
            ::close(savedErr_);
            QByteArray bytes;
            char buf[4096];
            ::lseek(file_, 0, SEEK_SET);
            for (ssize_t n; (n = ::read(file_, buf, sizeof buf)) > 0;) bytes.append(buf, n);
            ::close(file_);
            messages_ += QString::fromUtf8(bytes);
#endif
        }
        return messages_;
    }

private:
    static TraceCapture*& self() {
        static TraceCapture* s = nullptr;
        return s;
    }
    QtMessageHandler previous_ = nullptr;
    std::mutex mutex_;
    QString messages_;
    bool stopped_ = false;
#ifndef _WIN32
    int savedErr_ = -1;
    int file_ = -1;
#endif
};

// A sign-in whose statement fails shows the statement in its box, as the
// program always did; no trace of the program holds the typed password.
TEST_F(Login, FailedSignInLeavesNoPasswordInAnyTrace) {
    useAdapters({adapter(QStringLiteral("02:BB:00:00:00:04"))});
    const QString typed = QStringLiteral("Zq7-trace'pw\\x");
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, endpoints());
    open(f);
    ASSERT_TRUE(f.connection());
    // The form's own session holds a lock on another table: its statement on
    // the user table is refused by the server.
    f.connection()->query(QStringLiteral("LOCK TABLES config READ"));
    TraceCapture trace;
    signIn(f, typed);
    const QString traced = trace.stop();
    f.connection()->query(QStringLiteral("UNLOCK TABLES"));

    EXPECT_FALSE(f.LoginSucceeded);
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 1100 ("))) << boxes.shown()[0].text.toStdString();
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("SHA1('Zq7-trace"))) << boxes.shown()[0].text.toStdString();
    EXPECT_EQ(boxes.shown()[1].text, kWrong);
    EXPECT_FALSE(traced.contains(QStringLiteral("Zq7"))) << traced.toStdString();
    // The traces are there, without it: both boxes, the error and one line for the refusal.
    EXPECT_TRUE(traced.contains(QStringLiteral("SHA1('***')"))) << traced.toStdString();
    EXPECT_TRUE(traced.contains(QStringLiteral("error 1100"))) << traced.toStdString();
    EXPECT_TRUE(traced.contains(QStringLiteral("sign-in of user t_lee refused"))) << traced.toStdString();
}

// A connection the server moved to a character set the program cannot
// convert sends no sign-in statement at all.
TEST_F(Login, UnknownCharacterSetIsRefused) {
    useAdapters({adapter(QStringLiteral("02:BB:00:00:00:04"))});
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, endpoints());
    open(f);
    ASSERT_TRUE(f.connection());
    f.connection()->query(QStringLiteral("SET NAMES gbk"));
    signIn(f, QStringLiteral("x"));
    EXPECT_FALSE(f.LoginSucceeded);
    EXPECT_EQ(boxes.texts(), std::vector<QString>{QStringLiteral(
                                 "Error 2019 (Can't initialize character set gbk) in procedure cmdOK_Click of Form "
                                 "frmLogin")});
}

// The box draws a server's text exactly as it stands, markup included.
TEST(MessageBoxes, ServerTextIsNeverMarkup) {
    cMySQL c;
    ASSERT_TRUE(modMain::ConnectInhouse(c, modOrvelDBConsts::Endpoints{}.db));
    const QString sql = QStringLiteral("SELEC '<img src=\"http://192.0.2.7/x.png\"><b>x</b>'");
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    bool seen = false;
    std::function<void()> look = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, look);
            return;
        }
        seen = true;
        format = box->textFormat();
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            shown = label->text();
            if (label->textFormat() != Qt::PlainText) format = label->textFormat();
        }
        box->accept();
    };
    QTimer::singleShot(10, look);
    EXPECT_FALSE(c.query(sql));  // the real box, no scripted answers
    ASSERT_TRUE(seen);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Error 1064 ("))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("'<img src=\"http://192.0.2.7/x.png\"><b>x</b>'"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(sql)) << shown.toStdString();
}

// What an earlier build left is taken over once; the stored password is for
// this user alone.
TEST_F(Login, RememberedPasswordIsKeptPrivate) {
    const QString app = frmLogin::SettingsApp(), sec = frmLogin::SettingsSection();
    // As an earlier build stored it: a plain value.
    platform::SaveSetting(app, sec, kPasswdKey, QStringLiteral("pw-kim"));
    store(QStringLiteral("issave_passwd"), QStringLiteral("1"));
#ifndef _WIN32
    // ... in a file that became readable by others.
    const QByteArray path = QFile::encodeName(platform::SettingsFilePath(app));
    ASSERT_EQ(::chmod(path.constData(), 0644), 0);
#endif
    {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, endpoints());
        open(f);
        EXPECT_TRUE(f.LoginSucceeded);  // no need to type it again
        EXPECT_TRUE(boxes.shown().empty());
    }
    EXPECT_EQ(setting(kPasswdKey), QStringLiteral("pw-kim"));
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    store(kPasswdKey, QStringLiteral("again"));
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
#else
    // The plain value is blank; the protected one beside it holds neither
    // form of the text, and opens only for this program's purpose.
    EXPECT_EQ(platform::GetSetting(app, sec, kPasswdKey, QStringLiteral("<none>")), QString());
    const std::wstring keyPath = (QStringLiteral("Software\\VB and VBA Program Settings\\") + app +
                                  QLatin1Char('\\') + sec).toStdWString();
    auto raw = [&](const wchar_t* name, DWORD* type) {
        DWORD bytes = 0;
        if (::RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), name, RRF_RT_ANY, type, nullptr, &bytes) !=
            ERROR_SUCCESS)
            return std::optional<QByteArray>{};
        QByteArray b(static_cast<qsizetype>(bytes), '\0');
        ::RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), name, RRF_RT_ANY, type, b.data(), &bytes);
        return std::optional<QByteArray>{b.left(static_cast<qsizetype>(bytes))};
    };
    DWORD type = 0;
    const auto blob = raw(L"passwd_protected", &type);
    ASSERT_TRUE(blob);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    const QString secret = QStringLiteral("pw-kim");
    EXPECT_FALSE(blob->contains(secret.toUtf8()));
    EXPECT_FALSE(blob->contains(QByteArray(reinterpret_cast<const char*>(secret.utf16()), secret.size() * 2)));
    const QString purpose = app + QStringLiteral("/Config/passwd");
    EXPECT_EQ(platform::UnprotectSecret(*blob, purpose), std::optional<QString>(secret));
    EXPECT_FALSE(platform::UnprotectSecret(*blob, app + QStringLiteral("/Config/other")));
    DATA_BLOB in{static_cast<DWORD>(blob->size()), reinterpret_cast<BYTE*>(const_cast<char*>(blob->constData()))},
        out{};
    EXPECT_FALSE(::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out));
    // Forgetting it removes the protected copy.
    store(kPasswdKey, QString());
    EXPECT_FALSE(raw(L"passwd_protected", &type));
    EXPECT_TRUE(platform::HasSecretSetting(app, sec, kPasswdKey));
    EXPECT_EQ(setting(kPasswdKey), QString());
#endif
}

}  // namespace

namespace {
// How often the main server has run `statement` so far.
int timesRun(const QString& statement) {
    QFile log(Env::generalLog());
    if (!log.open(QIODevice::ReadOnly)) return -1;
    return static_cast<int>(log.readAll().count(statement.toUtf8()));
}
modOrvelDBConsts::Endpoints through(int relayPort) {
    modOrvelDBConsts::Endpoints e = endpoints();
    e.db.port = relayPort;
    return e;
}
}  // namespace

// The connection breaks while the admission's or the sign-in's statement
// runs: the relay lets the server run it and closes both sides as the answer
// starts. Once, the client's one reconnect runs it again and nobody notices;
// every time, the statement's error comes first, then what a failed lookup
// or a failed sign-in shows, and the program goes on as after those.
TEST_F(Login, ConnectionLostWhileTheStatementRuns) {
    const QString lookup =
        QStringLiteral("SELECT user_id FROM user_mac WHERE mac_addr = '02BB00000001' AND block = 0");
    const QString lostIn = QStringLiteral(") in procedure query of Module cMySQL\r\n\r\n");
    {
        ScriptedMsgBoxes boxes;
        InterceptEnd end;
        const int before = timesRun(lookup);
        EXPECT_EQ(modOrvelDBConsts::AdmitWorkstation(through(testenv::midstep::kDbCutAdmitOncePort)),
                  QStringLiteral("t_kim"));
        EXPECT_TRUE(boxes.shown().empty());
        EXPECT_GE(timesRun(lookup), before + 2) << "the relay did not cut, or nothing ran again";
    }
    {
        ScriptedMsgBoxes boxes;
        InterceptEnd end;
        try {
            modOrvelDBConsts::AdmitWorkstation(through(testenv::midstep::kDbCutAdmitPort));
            ADD_FAILURE() << "admitted without an answer";
        } catch (const ProgramEnded& e) {
            EXPECT_EQ(e.code, core::ExitCode::WorkstationRefused);
        }
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 2013 ("))) << boxes.shown()[0].text.toStdString();
        EXPECT_TRUE(boxes.shown()[0].text.endsWith(lostIn + lookup)) << boxes.shown()[0].text.toStdString();
        EXPECT_EQ(boxes.shown()[1].text, kRefusal + QStringLiteral("02BB00000001"));
    }
    {
        ScriptedMsgBoxes boxes;
        frmLogin f(nullptr, through(testenv::midstep::kDbCutLoginOncePort));
        open(f);
        ASSERT_TRUE(f.connection());
        signIn(f, QStringLiteral("pw-kim"));
        EXPECT_TRUE(f.LoginSucceeded);
        EXPECT_FALSE(f.isVisible());
        EXPECT_TRUE(boxes.shown().empty());
    }
    ScriptedMsgBoxes boxes;
    frmLogin f(nullptr, through(testenv::midstep::kDbCutLoginPort));
    open(f);
    ASSERT_TRUE(f.connection());
    // However often the user tries, each try ends at once and the form waits.
    for (int attempt = 0; attempt < 2; ++attempt) {
        boxes.clear();
        signIn(f, QStringLiteral("pw-kim"));
        EXPECT_FALSE(f.LoginSucceeded);
        EXPECT_TRUE(f.isVisible());
        ASSERT_EQ(boxes.shown().size(), 2u) << attempt;
        EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 2013 ("))) << boxes.shown()[0].text.toStdString();
        EXPECT_TRUE(boxes.shown()[0].text.contains(lostIn + QStringLiteral("SELECT *, now() as svrtime FROM user")))
            << boxes.shown()[0].text.toStdString();
        EXPECT_EQ(boxes.shown()[1].text, kWrong);
        EXPECT_EQ(password(f)->selectedText(), QStringLiteral("pw-kim"));
    }
    click(ctl(f, "cmdCancel"));
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(f.LoginSucceeded);
}
