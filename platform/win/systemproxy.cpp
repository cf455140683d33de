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

using ReadConfig = BOOL(WINAPI*)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*);

// Loaded from the system folder when first needed rather than imported: an
// imported library is looked for beside the program first, before main()
// can restrict the search.
ReadConfig readConfig() {
    static const ReadConfig f = [] {
        const HMODULE lib = ::LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return lib ? reinterpret_cast<ReadConfig>(
                         reinterpret_cast<void*>(::GetProcAddress(lib, "WinHttpGetIEProxyConfigForCurrentUser")))
                   : nullptr;
    }();
    return f;
}

}  // namespace

SystemProxy ReadSystemProxy() {
    const ReadConfig read = readConfig();
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!read || !read(&config)) return {};
    // An automatic configuration (a script, or detection) names no server
    // by itself; requests then go direct.
    takeText(config.lpszAutoConfigUrl);
    SystemProxy out;
    out.servers = takeText(config.lpszProxy);
    out.bypass = takeText(config.lpszProxyBypass);
    return out;
}

}  // namespace platform
