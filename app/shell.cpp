#include "app/shell.h"

#include "db/cmysql.h"
#include "login/dbconsts.h"
#include "platform/errors.h"
#include "platform/msgbox.h"

namespace modMain {

QString gAppTitle;
QString gUserID;
QString gUserName;

bool ConnectInhouse(cMySQL& conn) {
    return conn.real_connect(modOrvelDBConsts::GetDBHostAddr(),
                             QString::fromLatin1(ConnectionSettings::user),
                             QString::fromLatin1(ConnectionSettings::passwd),
                             QString::fromLatin1(ConnectionSettings::db), ConnectionSettings::port,
                             QString(), 0, false, QString());
}

void ShowMsg(const QString& text, const QString& title) {
    const auto giveFocusBack = platform::RememberFocus();
    platform::MsgBox(text, platform::MsgButtons::Ok, platform::MsgIcon::Information,
                     title.isEmpty() ? gAppTitle : title);
    giveFocusBack();
}

void CloseRecordset(RecordsetPtr& rs) { ::CloseRecordset(rs); }

bool CheckLogin(const RecordsetPtr& rs) {
    try {
        if (!rs) throw platform::RuntimeError(platform::err::ObjectVariableNotSet);
        gUserID = rs->Fields(QStringLiteral("id")).Value();
        gUserName = rs->Fields(QStringLiteral("name")).Value();
        return true;
    } catch (const platform::Error& e) {
        platform::ShowTrappedError(e, QStringLiteral("CheckLogin"), QStringLiteral("modMain"));
        return false;
    }
}

}  // namespace modMain
