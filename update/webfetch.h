#pragma once
// Access of the update launcher to the update server: the beginning of a
// resource as text, and a resource copied into a local file.
#include <QString>

namespace update {

// The first bytes (at most 20) of the resource as text, decoded from code
// page 949, untrimmed; the empty text when the server cannot be reached, the
// resource is empty or the read fails. An error page counts as the resource.
// `Url` comes back as it reads after its trip through code page 949.
QString ReadUrlText(QString& Url);

// Copies the resource into `LocalFile`. True only when the server answered
// with success (2xx) and every byte is stored. The bytes go into a temporary
// file beside the target, which replaces the target only when complete; on
// any failure the old target is left exactly as it was and no temporary file
// remains. `executable` gives the new file the run permission (the launcher
// fetches programs). `Url` comes back as for ReadUrlText.
bool DownloadUrlToFile(QString& Url, QString& LocalFile, bool executable = true);

}  // namespace update
