#include "platform/systemproxy.h"

#include <mutex>

namespace platform {

namespace {

std::mutex g_lock;
SystemProxySource g_source;

}  // namespace

void SetSystemProxySource(SystemProxySource source) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_source = std::move(source);
}

SystemProxy CurrentSystemProxy() {
    SystemProxySource source;
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        source = g_source;
    }
    return source ? source() : ReadSystemProxy();
}

}  // namespace platform
