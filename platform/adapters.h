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
    // The hardware address as the system reports it (on Windows the
    // management service's text, on Linux six upper-case groups joined by
    // ":"), taken as it is; none when the adapter has no such address.
    std::optional<QString> MACAddress;
};

// Every adapter of this machine in the order the system gives them
// (posix/, win/). Raises platform::Error when the system cannot list them.
std::vector<NetworkAdapterConfiguration> SystemAdapters();

// Where the query finds the adapters: the machine's own, or a fixed list (or
// a source that raises) given by a test.
using AdapterSource = std::function<std::vector<NetworkAdapterConfiguration>()>;

class WmiNamespace {
public:
    // Raises platform::Error for a moniker other than the local root\cimv2.
    static WmiNamespace GetObject(const QString& moniker, AdapterSource source = SystemAdapters);
    // Runs the one query this program asks; other statements raise.
    std::vector<NetworkAdapterConfiguration> ExecQuery(const QString& wql) const;

private:
    AdapterSource source_;
};

}  // namespace platform
