#pragma once
// Copies one remote file into the local folder in 1024-byte blocks.
#include <QString>

#include "net/inet.h"

namespace browser {

// True when the whole file stands under its name in `localFolder`. The copy
// arrives in a temporary file first: an existing local file stays exactly as
// it was until every byte is there, and nothing partial is ever left under
// the real name. Names that would leave the folder are refused.
bool FileDownLoad(inet::Handle* hConnect, const QString& remotePath, const QString& localFolder,
                  QString localName);

// A name from the server that may be written inside the local folder.
bool IsSafeLocalName(const QString& name);

}  // namespace browser
