#pragma once
// The remote listing as list lines, each with the entry's full name.
#include <QString>
#include <vector>

#include "platform/inet.h"

namespace browser {

struct ListLine {
    QString text;  // the line the user sees
    QString name;  // the entry's full name, for download and deletion
};

// Lists `remoteFolder` on the connection, in the server's order. An empty
// folder and a failed listing both give no lines. `groupSep` is the
// locale's thousands separator.
std::vector<ListLine> ReadListLines(inet::Handle* hConnect, const QString& remoteFolder, QChar groupSep);

}  // namespace browser
