#include "platform/adapters.h"

#include <QNetworkInterface>

#include "platform/errors.h"

namespace platform {
namespace {
AdapterSource& sourceSlot() {
    static AdapterSource s;
    return s;
}
}  // namespace

void setAdapterSourceForTests(AdapterSource source) { sourceSlot() = std::move(source); }

std::vector<NetworkAdapterConfiguration> SystemAdapters() {
    std::vector<NetworkAdapterConfiguration> out;
    for (const QNetworkInterface& ni : QNetworkInterface::allInterfaces()) {
        NetworkAdapterConfiguration a;
        a.Description = ni.humanReadableName();
        const auto flags = ni.flags();
        a.IPEnabled = flags.testFlag(QNetworkInterface::IsUp) &&
                      !flags.testFlag(QNetworkInterface::IsLoopBack) && !ni.addressEntries().isEmpty();
        const QString hw = ni.hardwareAddress().toUpper();
        // Only Ethernet-style six-group addresses count as an adapter address.
        if (hw.size() == 17 && hw != QLatin1String("00:00:00:00:00:00")) a.MACAddress = hw;
        out.push_back(std::move(a));
    }
    return out;
}

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
