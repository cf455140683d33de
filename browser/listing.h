#pragma once
// The remote listing as list lines, each with the entry's full name, and the
// server's own bytes for the names of the last listing.
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "net/inet.h"

class QListWidgetItem;

namespace browser {

struct ListLine {
    QString text;        // the line the user sees
    QString name;        // the entry's full name as text, for download and deletion
    QByteArray rawName;  // the name's bytes as the server sent them
};

// Lists `remoteFolder` on the connection, in the server's order. An empty
// folder and a failed listing both give no lines. `groupSep` is the
// locale's thousands separator. Remembers the server's bytes of every name
// for RemotePathBytes.
std::vector<ListLine> ReadListLines(inet::Handle* hConnect, const QString& remoteFolder, QChar groupSep);
// The same listing as items for the window's list box (text: the line;
// Qt::UserRole: the full name), made off the window thread while the listing
// arrives, for the window to add in one batch.
// `meanwhile` runs on the window thread while the listing is under way.
std::vector<std::unique_ptr<QListWidgetItem>> ReadListItems(inet::Handle* hConnect, const QString& remoteFolder,
                                                            QChar groupSep, const std::function<void()>& meanwhile = {});

// The bytes that name `remotePath` (a listed folder followed by a name as
// the list shows it) on the server: the listed bytes when the last listing
// on this connection held the name, else the text as the connection spells
// it. Empty when the path cannot be named: its text cannot be spelt, or two
// listed entries show the same text (neither is guessed at).
QByteArray RemotePathBytes(inet::Handle* hConnect, const QString& remotePath);

// Deletes the file `remotePath` names (see RemotePathBytes) on the server.
bool DeleteRemoteFile(inet::Handle* hConnect, const QString& remotePath);

}  // namespace browser
