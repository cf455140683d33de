#pragma once
// Copies one remote file into the local folder in 1024-byte blocks.
#include <QString>
#include <QStringList>

#include "net/inet.h"

namespace browser {

// True when the whole file stands under its name in `localFolder`. The copy
// arrives in a temporary file first: an existing local file stays exactly as
// it was until every byte is there, and nothing partial is ever left under
// the real name. The finished copy replaces the folder's entry of that name,
// whatever it is (a link or a shortcut included), never what the entry leads
// to; a `localFolder` that is itself a link is refused. Names that the system
// would change, misread or take as a path are refused (IsSafeLocalName), and
// on Windows so is a name that equals another of `listedNames` (the names
// the window lists beside it) except for case: both would land in one file.
bool FileDownLoad(net::Handle* hConnect, const QString& remotePath, const QString& localFolder,
                  QString localName, const QStringList& listedNames = {});

// A name from the server that may be written inside the local folder as it
// is, under this system's rules (formats/localname.h).
bool IsSafeLocalName(const QString& name);

}  // namespace browser
