// Start-up over the real database: the on-switch, an unreachable server and
// the whole road through the sign-in.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <cstdlib>
#include <new>

#include "app/modmain.h"
#include "db/inhouse.h"
#include "login/frmlogin.h"
#include "platform/adapters.h"
#include "core/errors.h"
#include "core/session.h"
#include "platform/settingsstore.h"
#include "testsupport.h"

using namespace testsupport;
using core::ExitCode;
using core::MsgIcon;

// The next operator new fails once, as when memory runs out.
#if defined(__GNUC__) && !defined(__clang__)
// g++ pairs the replaced new with malloc and then sees free() in delete as a
// mismatch, though both are replaced together here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
bool g_failNextNew = false;
void* operator new(std::size_t n) {
    if (g_failNextNew) {
        g_failNextNew = false;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

const QString kNotFound = QStringLiteral("파일을 찾을 수 없습니다...");

void setSwitchRows(const std::vector<QString>& values) {
    RootSql(QStringLiteral("DELETE FROM config WHERE skey='sys1'"));
    for (const auto& v : values)
        RootSql(QStringLiteral("INSERT INTO config (skey, svalue) VALUES ('sys1', '%1')").arg(v));
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        endpoints.adapters = [] {
            platform::NetworkAdapterConfiguration a;
            a.IPEnabled = true;
            a.MACAddress = QStringLiteral("02:AA:00:00:00:01");
            return std::vector<platform::NetworkAdapterConfiguration>{a};
        };
        RootSql(QStringLiteral("DELETE FROM user_mac WHERE mac_addr='02AA00000001'"));
        RootSql(QStringLiteral("INSERT INTO user_mac VALUES ('02AA00000001', 'demo', 0)"));
        platform::SaveSecretSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(),
                                    QStringLiteral("passwd"), QString());
        platform::SaveSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(),
                              QStringLiteral("issave_passwd"), QStringLiteral("0"));
    }
    void TearDown() override {
        setSwitchRows({QStringLiteral("1")});
        RootSql(QStringLiteral("DELETE FROM user_mac WHERE mac_addr='02AA00000001'"));
    }
    modOrvelDBConsts::Endpoints endpoints;
};

TEST_F(Startup, OnlyTheExactTextOneSwitchesOn) {
    struct Case {
        std::vector<QString> rows;
        bool on;
    } cases[] = {
        {{QStringLiteral("1")}, true},
        {{QStringLiteral("0")}, false},
        {{QStringLiteral(" 1")}, false},
        {{QStringLiteral("1 ")}, true},  // the client drops trailing blanks of every value
        {{QStringLiteral("01")}, false},
        {{}, false},
        {{QStringLiteral("1"), QStringLiteral("0")}, true},  // the first row decides
        {{QStringLiteral("0"), QStringLiteral("1")}, false},
    };
    for (const auto& c : cases) {
        setSwitchRows(c.rows);
        ScriptedMsgBoxes boxes;
        EXPECT_EQ(modMain::CheckStartupDB(), c.on) << c.rows.size();
        if (c.on) {
            EXPECT_TRUE(boxes.shown().empty());
        } else {
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, kNotFound);
            EXPECT_EQ(boxes.shown()[0].title, QStringLiteral("초기화 실패"));
            EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::None);
            EXPECT_EQ(boxes.shown()[0].buttons, core::MsgButtons::Ok);
        }
    }
}

// Memory running out during the check ends like any other cause: the one
// message, and the check fails (the program then ends with its exit code).
TEST_F(Startup, MemoryFailureEndsLikeAnyOtherCause) {
    setSwitchRows({QStringLiteral("1")});
    ScriptedMsgBoxes boxes;
    g_failNextNew = true;  // the check's connection object
    EXPECT_FALSE(modMain::CheckStartupDB(endpoints.db));
    g_failNextNew = false;
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kNotFound});
}

TEST_F(Startup, UnreachableServerShowsBothMessagesAndEndsBeforeTheLogin) {
    // Nothing listens on 127.0.0.2 (the servers bind 127.0.0.1 only).
    endpoints.db.host = QStringLiteral("127.0.0.2");
    ScriptedMsgBoxes boxes;
    InterceptEnd end;
    try {
        modMain::Main(endpoints);
        FAIL() << "Main went on";
    } catch (const ProgramEnded& e) {
        EXPECT_EQ(e.code, ExitCode::StartupDbFailed);
    }
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 2003 ")));
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("인터넷이 연결되어 있는지 확인 해 주세요.")));
    EXPECT_EQ(boxes.shown()[1].text, kNotFound);
    EXPECT_EQ(boxes.shown()[1].title, QStringLiteral("초기화 실패"));
}

TEST_F(Startup, SwitchedOffEndsTheProgram) {
    setSwitchRows({QStringLiteral("0")});
    ScriptedMsgBoxes boxes;
    InterceptEnd end;
    EXPECT_THROW(modMain::Main(endpoints), ProgramEnded);
    ASSERT_EQ(boxes.texts(), std::vector<QString>{kNotFound});
}

TEST_F(Startup, RememberedPasswordRunsTheWholeRoad) {
    setSwitchRows({QStringLiteral("1")});
    platform::SaveSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(),
                          QStringLiteral("issave_passwd"), QStringLiteral("1"));
    platform::SaveSetting(frmLogin::SettingsApp(), frmLogin::SettingsSection(),
                          QStringLiteral("passwd"), QStringLiteral("demo1234"));
    ScriptedMsgBoxes boxes;
    InterceptEnd end;
    modMain::gAppTitle.clear();
    EXPECT_NO_THROW(modMain::Main(endpoints));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(modMain::gAppTitle, core::AppTitle());
    EXPECT_EQ(modMain::gUserID, QStringLiteral("demo"));
    EXPECT_EQ(modMain::gUserName, QStringLiteral("홍길동"));
}

TEST_F(Startup, CancelledLoginEndsWithoutAMessage) {
    setSwitchRows({QStringLiteral("1")});
    ScriptedMsgBoxes boxes;
    InterceptEnd end;
    // Press Cancel once the form waits for the user.
    std::function<void()> press = [&] {
        auto* f = qobject_cast<frmLogin*>(QApplication::activeModalWidget());
        if (f && f->connection()) f->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        else QTimer::singleShot(20, press);
    };
    QTimer::singleShot(20, press);
    try {
        modMain::Main(endpoints);
        FAIL() << "Main went on";
    } catch (const ProgramEnded& e) {
        EXPECT_EQ(e.code, ExitCode::LoginNotSucceeded);
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(Shell, ShowMsgTitleAndFocusAndRecordsetHelpers) {
    modMain::gAppTitle = QStringLiteral("앱 제목");
    QWidget w;
    auto* a = new QLineEdit(&w);
    auto* b = new QLineEdit(&w);
    w.show();
    QApplication::setActiveWindow(&w);
    b->setFocus();
    ScriptedMsgBoxes boxes;
    boxes.onShow = [&](const core::MsgBoxRecord&) { a->setFocus(); };  // the box takes the focus
    modMain::ShowMsg(QStringLiteral("안내"));
    modMain::ShowMsg(QStringLiteral("둘째"), QStringLiteral("확인"));
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].title, QStringLiteral("앱 제목"));
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Information);
    EXPECT_EQ(boxes.shown()[1].title, QStringLiteral("확인"));
    EXPECT_EQ(QApplication::focusWidget(), b);

    // The control that had the focus is gone by the time the box closes.
    boxes.onShow = [&](const core::MsgBoxRecord&) { delete b; };
    EXPECT_NO_THROW(modMain::ShowMsg(QStringLiteral("셋째")));

    RecordsetPtr none;
    EXPECT_NO_THROW(CloseRecordset(none));
    auto rs = std::make_shared<Recordset>();
    rs->AppendField(QStringLiteral("id"), 10);
    rs->Open();
    rs->Close();
    CloseRecordset(rs);  // already closed: only released
    EXPECT_FALSE(rs);
}

TEST(Shell, CheckLoginReportsAMissingField) {
    auto rs = std::make_shared<Recordset>();
    rs->AppendField(QStringLiteral("id"), 10);
    rs->Open();
    rs->AddNew();
    rs->SetValue(0, QStringLiteral("kim"));
    rs->Update();
    modMain::gUserID.clear();
    ScriptedMsgBoxes boxes;
    EXPECT_FALSE(modMain::CheckLogin(rs));
    EXPECT_EQ(modMain::gUserID, QStringLiteral("kim"));  // set before the failure, stays set
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(QStringLiteral("Error 3265 (")));
    EXPECT_TRUE(boxes.shown()[0].text.endsWith(QStringLiteral(") in procedure CheckLogin of Module modMain")));
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::None);
}

}  // namespace
