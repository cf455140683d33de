#pragma once
// Shared by the files that implement net/inet.h, and by nothing else.
#include <QByteArray>
#include <QString>
#include <memory>

#include "net/inet.h"

namespace net::detail {

// The settings of a root handle.
struct Root {
    QString agent;
    quint32 accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    QByteArray proxy;
    QByteArray bypass;
    bool smallResources = false;  // see LimitToSmallResources
};

class RootHandle final : public Handle {
public:
    std::shared_ptr<const Root> root;
};

const Limits& ActiveLimits();
const TlsSettings& ActiveTls();

// Runs the caller's wait callback when a tick has passed since its last run.
void TickWait();

// A text that would end a command line (and start another) is never sent.
bool HasLineBreakOrNul(const QString& text);
bool HasLineBreakOrNul(const QByteArray& bytes);

}  // namespace net::detail
