#pragma once
// Stand-in for the management query of network adapter configurations.
// Contract kept from the target platform: namespace moniker
// "winmgmts:\\.\root\cimv2", class Win32_NetworkAdapterConfiguration, filter
// "IPEnabled = True", property MACAddress (null when the adapter has none).
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

struct NetworkAdapterConfiguration {
    QString Description;
    bool IPEnabled = false;
    // Six upper-case two-digit hex groups joined by ":", or none.
    std::optional<QString> MACAddress;
};

class WmiNamespace {
public:
    // Raises platform::Error for a moniker other than the local root\cimv2.
    static WmiNamespace GetObject(const QString& moniker);
    // Runs the one query this program asks; other statements raise.
    std::vector<NetworkAdapterConfiguration> ExecQuery(const QString& wql) const;
};

// Every adapter of this machine in the order the system gives them.
std::vector<NetworkAdapterConfiguration> SystemAdapters();

// Tests replace the machine's adapters with a fixed list (or a source that
// raises); an empty function restores the real machine.
using AdapterSource = std::function<std::vector<NetworkAdapterConfiguration>()>;
void setAdapterSourceForTests(AdapterSource source);

}  // namespace platform
