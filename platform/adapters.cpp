#include "platform/adapters.h"

#include "platform/errors.h"

namespace platform {
namespace {
AdapterSource& sourceSlot() {
    static AdapterSource s;
    return s;
}
}  // namespace

void setAdapterSourceForTests(AdapterSource source) { sourceSlot() = std::move(source); }

WmiNamespace WmiNamespace::GetObject(const QString& moniker) {
    if (moniker.compare(QStringLiteral("winmgmts:\\\\.\\root\\cimv2"), Qt::CaseInsensitive) != 0)
        throw Error(-2147217394, QStringLiteral("SWbemLocator"), QStringLiteral("Invalid namespace"));
    return WmiNamespace{};
}

std::vector<NetworkAdapterConfiguration> WmiNamespace::ExecQuery(const QString& wql) const {
    if (wql.simplified().compare(
            QStringLiteral("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True"),
            Qt::CaseInsensitive) != 0)
        throw Error(-2147217385, QStringLiteral("SWbemServices"), QStringLiteral("Invalid query"));
    const auto all = sourceSlot() ? sourceSlot()() : SystemAdapters();
    std::vector<NetworkAdapterConfiguration> enabled;
    for (const auto& a : all)
        if (a.IPEnabled) enabled.push_back(a);
    return enabled;
}

}  // namespace platform
