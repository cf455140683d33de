#include "login/admission.h"

#include <QRegularExpression>
#include <memory>

#include "db/cmysql.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/msgbox.h"
#include "core/terminate.h"

namespace modOrvelDBConsts {

namespace {
const QString kModule = QStringLiteral("modOrvelDBConsts");

// An adapter address as the allow-list stores it: twelve hexadecimal digits.
bool isAdapterAddress(const QString& mac) {
    static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]{12}$"));
    return form.match(mac).hasMatch();
}
}  // namespace

QString GetMyMacAddress(const platform::AdapterSource& adapters) {
    QString result;
    const bool read = core::TrapErrors(QStringLiteral("GetMyMacAddress"), kModule, core::ModuleKind::Module, [&] {
        const QString moniker = QStringLiteral("winmgmts:\\\\") + QStringLiteral(".") +
                                QStringLiteral("\\root\\cimv2");
        const auto wmi = platform::WmiNamespace::GetObject(moniker, adapters);
        const auto enabled = wmi.ExecQuery(
            QStringLiteral("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True"));
        for (const auto& a : enabled) {
            if (!a.MACAddress) continue;
            QString mac = *a.MACAddress;
            mac.remove(QLatin1Char('-'));
            mac.remove(QLatin1Char(':'));
            result = mac;
            break;
        }
    });
    return read ? result : QString();
}

QString GetAllowMyPC(const Endpoints& from) {
    QString result;
    std::unique_ptr<cMySQL> conn;
    core::TrapErrors(QStringLiteral("GetAllowMyPC"), kModule, core::ModuleKind::Module, [&] {
        const QString mac = GetMyMacAddress(from.adapters);
        conn = std::make_unique<cMySQL>();
        if (modMain::ConnectInhouse(*conn, from.db)) {
            if (!isAdapterAddress(mac)) {
                // What the system reports is outside text too: anything but
                // an address finds no entry, and never reaches a statement.
                qCWarning(core::lcLogin, "adapter address of unexpected form (%lld characters): not admitted",
                          static_cast<long long>(mac.size()));
            } else {
                const QString sql = QStringLiteral("SELECT user_id FROM user_mac") +
                                    QStringLiteral(" WHERE mac_addr = '") + mac + QStringLiteral("'") +
                                    QStringLiteral(" AND block = 0");
                RecordsetPtr rs = conn->query(sql, false);
                if (conn->affected_rows() > 0 && rs) result = rs->Fields(QStringLiteral("user_id")).Value();
                CloseRecordset(rs);
            }
        }
        conn->free_result();
        conn.reset();
    });
    return result;
}

QString AdmitWorkstation(const Endpoints& from) {
    const QString uid = GetAllowMyPC(from);
    if (uid.isEmpty()) {
        qCWarning(core::lcLogin, "workstation not admitted (no unblocked entry for its adapter address)");
        core::MsgBox(QStringLiteral("허용되지 않은 컴퓨터입니다. 관리자에게 문의바랍니다.") +
                             QStringLiteral("\r\n") + QStringLiteral("MAC: ") + GetMyMacAddress(from.adapters),
                         core::MsgButtons::Ok, core::MsgIcon::None, core::AppTitle());
        core::EndProgramNow(core::ExitCode::WorkstationRefused);
    }
    return uid;
}

}  // namespace modOrvelDBConsts
