#include "app/modmain.h"

#include <memory>

#include "db/cmysql.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/msgbox.h"
#include "core/session.h"
#include "platform/singleinstance.h"
#include "core/terminate.h"
#include "login/frmlogin.h"
#include "browser/frmmain.h"
#include "update/launcher.h"

namespace modMain {

using core::ExitCode;

bool CheckStartupDB(const ConnectionSettings& settings) {
    QString v;
    std::unique_ptr<cMySQL> conn;
    try {
        conn = std::make_unique<cMySQL>();
        if (ConnectInhouse(*conn, settings)) {
            const QString sql = QStringLiteral("SELECT svalue FROM config") +
                                QStringLiteral(" WHERE skey = 'sys1'");
            RecordsetPtr rs = conn->query(sql, false);
            if (conn->affected_rows() > 0 && rs) v = rs->Fields(QStringLiteral("svalue")).Value();
            CloseRecordset(rs);
        }
    } catch (const std::exception&) {
        // Every cause ends in the same message below, a memory failure too;
        // only the log tells them apart.
        const platform::Error e = core::CurrentError();
        qCWarning(core::lcApp, "start-up check: error %ld (%s) from %s", e.number(), qUtf8Printable(e.description()),
                  qUtf8Printable(e.source().isEmpty() ? QStringLiteral("CheckStartupDB") : e.source()));
    }
    if (conn) {
        conn->free_result();
        conn.reset();
    }
    if (v == QLatin1String("1")) return true;
    core::MsgBox(QStringLiteral("파일을 찾을 수 없습니다..."), core::MsgButtons::Ok,
                     core::MsgIcon::None, QStringLiteral("초기화 실패"));
    return false;
}

bool Main(const modOrvelDBConsts::Endpoints& endpoints) {
    if (platform::PrevInstance()) {
        core::MsgBox(QStringLiteral("프로그램이 이미 실행중 입니다."), core::MsgButtons::Ok,
                         core::MsgIcon::None, core::AppTitle());
        core::EndProgramNow(ExitCode::AlreadyRunning);
    }

    // The self-update runs before the database is touched; a waiting new
    // build ends the program here.
    bool skip = false;
    modAutoUpdateV1_Launcher::RunAutoUpdate(skip);

    if (!CheckStartupDB(endpoints.db)) core::EndProgramNow(ExitCode::StartupDbFailed);

    gAppTitle = core::AppTitle();

    {
        frmLogin login(nullptr, endpoints);
        login.exec();
        if (!login.LoginSucceeded) core::EndProgramNow(ExitCode::LoginNotSucceeded);
        login.Form_Unload();
    }

    auto* main = new FrmMain;
    main->setAttribute(Qt::WA_DeleteOnClose);
    main->Show();
    return true;
}

}  // namespace modMain
