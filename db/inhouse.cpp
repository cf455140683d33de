#include "db/inhouse.h"

#include "buildconfig.h"
#include "db/cmysql.h"
#include "core/errors.h"
#include "core/session.h"

namespace modOrvelDBConsts {

QString GetDBHostAddr() { return QString::fromUtf8(buildconfig::kDbHost); }

}  // namespace modOrvelDBConsts

namespace modMain {

bool ConnectInhouse(cMySQL& conn, const ConnectionSettings& settings) {
    return conn.real_connect(settings.host, QString::fromLatin1(ConnectionSettings::user),
                             QString::fromLatin1(ConnectionSettings::passwd),
                             QString::fromLatin1(ConnectionSettings::db), settings.port,
                             QString(), 0, false, QString());
}

bool CheckLogin(const RecordsetPtr& rs) {
    return core::TrapErrors(QStringLiteral("CheckLogin"), QStringLiteral("modMain"), core::ModuleKind::Module,
                                [&] {
                                    if (!rs) throw core::RuntimeError(core::err::ObjectVariableNotSet);
                                    gUserID = rs->Fields(QStringLiteral("id")).Value();
                                    gUserName = rs->Fields(QStringLiteral("name")).Value();
                                });
}

}  // namespace modMain
