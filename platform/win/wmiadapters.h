#pragma once
// The adapter rows as the management service hands them out, before they
// become NetworkAdapterConfiguration (separate, so tests can feed rows).
#include <QString>
#include <optional>
#include <vector>

#include "platform/adapters.h"

namespace platform::win {

struct WmiAdapterRow {
    QString description;
    bool ipEnabled = false;
    std::optional<QString> macAddress;  // as the service gives it; none for null
};

// Normalises the addresses: six two-digit hex groups in upper case joined
// by ":" ("-" accepted between them); anything else, and the all-zero
// address of virtual links, counts as no address.
std::vector<NetworkAdapterConfiguration> AdaptersFromRows(const std::vector<WmiAdapterRow>& rows);

}  // namespace platform::win
