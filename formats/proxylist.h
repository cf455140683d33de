#pragma once
// The system's proxy settings as texts: which server a request goes
// through, and which hosts are reached directly. The texts come from the
// user's settings (on Windows the registry), so they are read strictly: what
// does not read as a proxy address sends the request direct.
#include <QString>
#include <QStringView>

namespace formats {

// The longest entry either list takes; longer ones count as absent.
inline constexpr qsizetype kMaxProxyEntry = 255;

// The proxy `list` names for `scheme` ("http", "https"), as libcurl takes
// it ("host:port" or "http://host:port"); empty when requests of that
// scheme go direct. The list is one server for every scheme
// ("proxy:8080") or entries per scheme ("http=p1:8080;https=p2:8443"),
// separated by ';' or blanks; an entry for the scheme wins over one for
// every scheme. An address of another kind (socks, a script), or with
// characters no host name or port has, counts as none.
QString ProxyServerFor(QStringView list, QStringView scheme);

// True when requests to `host` bypass the proxy: `bypass` holds entries
// separated by ';', ',' or blanks, each a host name or address in which '*'
// stands for any run of characters, matched ignoring case; "<local>" stands
// for every host name without a dot.
bool BypassesProxy(QStringView bypass, QStringView host);

}  // namespace formats
