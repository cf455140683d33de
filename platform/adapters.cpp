#include "platform/adapters.h"

#include "platform/syserror.h"

namespace platform {

WmiNamespace WmiNamespace::GetObject(const QString& moniker, AdapterSource source) {
    if (moniker.compare(QStringLiteral("winmgmts:\\\\.\\root\\cimv2"), Qt::CaseInsensitive) != 0)
        throw Error(-2147217394, QStringLiteral("SWbemLocator"), QStringLiteral("Invalid namespace"));
    WmiNamespace ns;
    ns.source_ = source ? std::move(source) : AdapterSource(SystemAdapters);
    return ns;
}

std::vector<NetworkAdapterConfiguration> WmiNamespace::ExecQuery(const QString& wql) const {
    if (wql.simplified().compare(
            QStringLiteral("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True"),
            Qt::CaseInsensitive) != 0)
        throw Error(-2147217385, QStringLiteral("SWbemServices"), QStringLiteral("Invalid query"));
    const auto all = source_();
    std::vector<NetworkAdapterConfiguration> enabled;
    for (const auto& a : all)
        if (a.IPEnabled) enabled.push_back(a);
    return enabled;
}

}  // namespace platform
