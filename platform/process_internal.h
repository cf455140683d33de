#pragma once
// What each system's process layer gives the shared part (process.cpp).
#include <QString>
#include <QStringList>

namespace platform::detail {

struct Command {
    QString program;
    QStringList args;
};

// The desktop's file manager showing `folder` (posix/, win/).
Command FileManagerCommand(const QString& folder);

}  // namespace platform::detail
