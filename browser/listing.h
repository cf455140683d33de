#pragma once
// The remote listing as list lines, each carrying the entry's full name as
// text and as the server's own bytes.
#include <QByteArray>
#include <QString>
#include <vector>

#include "net/inet.h"

namespace browser {

class ListModel;

struct ListLine {
    QString text;        // the line the user sees
    QString name;        // the entry's full name as text
    QByteArray rawName;  // the name's bytes as the server sent them: what names the entry
};

enum class ListResult {
    Whole,   // every entry is listed (an empty folder too)
    Failed,  // the listing failed: no lines
    Cut,     // more entries than a list keeps, or than the server would list: the first ones
};

// How much one listing keeps. Past either figure the listing stops and the
// list holds the entries before that point.
struct ListLimits {
    qint64 rows = 3'000'000;
    qint64 nameBytes = qint64{512} << 20;  // names as text and as bytes
};
ListLimits CurrentListLimits();
void SetListLimits(const ListLimits& limits);  // tests only

// Lists `remoteFolder` on the connection into `model`, in the server's
// order, off the window thread: the model is emptied at once and its rows
// arrive in batches while the server lists. `groupSep` is the locale's
// thousands separator. A failed listing leaves the model empty.
ListResult ListInto(net::Handle* hConnect, const QString& remoteFolder, QChar groupSep, ListModel& model);

// The same listing as plain lines (for callers without a window).
std::vector<ListLine> ReadListLines(net::Handle* hConnect, const QString& remoteFolder, QChar groupSep);

// The line a command works on. While it lives (on this thread),
// RemotePathBytes spells the line's path, its folder followed by its name,
// with the line's own bytes: two entries that show the same text each stay
// their own file.
class LineInUse {
public:
    LineInUse(net::Handle* hConnect, const QString& remoteFolder, const QString& name, const QByteArray& rawName);
    ~LineInUse();
    LineInUse(const LineInUse&) = delete;
    LineInUse& operator=(const LineInUse&) = delete;

private:
    friend QByteArray RemotePathBytes(net::Handle*, const QString&);
    const net::Handle* connection_;
    QString path_;       // folder and name as text
    QByteArray bytes_;   // as the server spells them
    LineInUse* outer_;
};

// The bytes that name `remotePath` on the server: the line in use's bytes
// when the path is that line's, else the text as the connection spells it
// (empty when it cannot be spelt).
QByteArray RemotePathBytes(net::Handle* hConnect, const QString& remotePath);

// Deletes the file `remotePath` names (see RemotePathBytes) on the server.
bool DeleteRemoteFile(net::Handle* hConnect, const QString& remotePath);

}  // namespace browser
