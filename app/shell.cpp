#include "app/shell.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

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
    QPointer<QWidget> had = QApplication::focusWidget();
    platform::MsgBox(text, platform::MsgButtons::Ok, platform::MsgIcon::Information,
                     title.isEmpty() ? gAppTitle : title);
    // The control may have gone or been disabled meanwhile; then it simply
    // does not get the focus back.
    if (had && had->isVisible() && had->isEnabled()) had->setFocus(Qt::OtherFocusReason);
}

void CloseRecordset(RecordsetPtr& rs) { ::CloseRecordset(rs); }

bool CheckLogin(const RecordsetPtr& rs) {
    try {
        if (!rs) throw platform::Error(91, QString(), QStringLiteral("Object variable not set"));
        gUserID = rs->Fields(QStringLiteral("id")).Value();
        gUserName = rs->Fields(QStringLiteral("name")).Value();
        return true;
    } catch (const platform::Error& e) {
        platform::ShowTrappedError(e, QStringLiteral("CheckLogin"), QStringLiteral("modMain"));
        return false;
    }
}

}  // namespace modMain
