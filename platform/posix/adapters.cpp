// The machine's adapters from getifaddrs: one entry per interface, in the
// kernel's interface order, with its flags, its link-layer address and
// whether it has an IP address.
#include "platform/adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "platform/syserror.h"

namespace platform {
namespace {

struct Interface {
    unsigned flags = 0;
    bool hasIp = false;
    std::optional<QString> mac;
};

// Six groups, upper case, ":" between them, whatever their value (an
// all-zero address too); none for links without a six-byte address.
std::optional<QString> macOf(const sockaddr_ll* ll) {
    if (ll->sll_halen != 6) return std::nullopt;
    QString text;
    for (int i = 0; i < 6; ++i) {
        if (i) text += QLatin1Char(':');
        text += QStringLiteral("%1").arg(ll->sll_addr[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

}  // namespace

std::vector<NetworkAdapterConfiguration> SystemAdapters() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        throw Error(-2147467259, QStringLiteral("SWbemServices"), QString::fromLocal8Bit(std::strerror(errno)));
    std::vector<std::string> order;
    std::map<std::string, Interface> byName;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        const std::string name = a->ifa_name ? a->ifa_name : "";
        auto [it, added] = byName.try_emplace(name);
        if (added) order.push_back(name);
        Interface& ifc = it->second;
        ifc.flags = a->ifa_flags;
        if (!a->ifa_addr) continue;
        const int family = a->ifa_addr->sa_family;
        if (family == AF_INET || family == AF_INET6) ifc.hasIp = true;
        if (family == AF_PACKET) ifc.mac = macOf(reinterpret_cast<const sockaddr_ll*>(a->ifa_addr));
    }
    ::freeifaddrs(list);

    std::vector<NetworkAdapterConfiguration> out;
    for (const std::string& name : order) {
        const Interface& ifc = byName[name];
        NetworkAdapterConfiguration a;
        a.Description = QString::fromLocal8Bit(name.c_str());
        a.IPEnabled = (ifc.flags & IFF_UP) && !(ifc.flags & IFF_LOOPBACK) && ifc.hasIp;
        a.MACAddress = ifc.mac;
        out.push_back(std::move(a));
    }
    return out;
}

}  // namespace platform
