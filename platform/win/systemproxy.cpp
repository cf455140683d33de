#include "platform/systemproxy.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

namespace platform {

namespace {

QString takeText(LPWSTR text) {
    if (!text) return QString();
    QString out = QString::fromWCharArray(text);
    ::GlobalFree(text);
    return out;
}

}  // namespace

SystemProxy ReadSystemProxy() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return {};
    // An automatic configuration (a script, or detection) names no server
    // by itself; requests then go direct.
    takeText(config.lpszAutoConfigUrl);
    SystemProxy out;
    out.servers = takeText(config.lpszProxy);
    out.bypass = takeText(config.lpszProxyBypass);
    return out;
}

}  // namespace platform
