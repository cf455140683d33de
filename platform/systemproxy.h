#pragma once
// The proxy the user's system settings name for web requests. On Windows
// these are the Internet Options (or the policy that sets them), kept apart
// from the environment; elsewhere the system keeps none of its own and the
// proxy environment variables are the settings.
#include <QString>
#include <functional>

namespace platform {

struct SystemProxy {
    QString servers;  // as the system keeps them: "host:port" or "http=host:port;https=..."; empty: none
    QString bypass;   // hosts reached directly: "<local>;*.example.com;10.*"
};

// The settings as they stand (posix/, win/); empty where there are none.
SystemProxy ReadSystemProxy();

// Where the settings come from: the system (empty source), or fixed ones
// given by a test.
using SystemProxySource = std::function<SystemProxy()>;
void SetSystemProxySource(SystemProxySource source);
// The settings from the current source.
SystemProxy CurrentSystemProxy();

}  // namespace platform
