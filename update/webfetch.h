#pragma once
// Access of the update launcher to the update server: the beginning of a
// resource as text, and a resource copied into a local file.
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace update {

// The first bytes (at most 20) of the resource as text, decoded from code
// page 949, untrimmed; the empty text when the server cannot be reached, the
// resource is empty or the read fails (it has 30 s in all: see
// net::LimitToSmallResources). An error page counts as the resource.
// `Url` comes back as it reads after its trip through code page 949.
QString ReadUrlText(QString& Url);

// Copies the resource into `LocalFile`. True only when the server answered
// with success (2xx) and every byte is stored. The bytes go into a temporary
// file beside the target, which replaces the target only when complete; on
// any failure the old target is left exactly as it was and no temporary file
// remains. `executable` gives the new file the run permission (the launcher
// fetches programs). `Url` comes back as for ReadUrlText.
bool DownloadUrlToFile(QString& Url, QString& LocalFile, bool executable = true);

// What a download of a program must pass before it takes the target's place.
struct DownloadCheck {
    qint64 maxBytes = 0;                             // more is refused while it arrives
    std::function<void(const char*, qint64)> feed;   // sees every byte, in order (the block past the limit too)
    std::function<bool()> accept;                    // the last word before the commit
};

// DownloadUrlToFile for a program: no redirect is followed (the update
// server serves its files where they are named), the body is refused past
// `check.maxBytes`, and the file is committed only when `check.accept` says
// so. On refusal the target stays exactly as it was.
bool DownloadUrlToFile(QString& Url, QString& LocalFile, bool executable, const DownloadCheck& check);

// The whole resource (a 2xx answer, no redirect followed) when it has at
// most `maxBytes` bytes and arrived within 30 s; nothing otherwise.
std::optional<QByteArray> FetchSmallResource(const QString& Url, qint64 maxBytes);

}  // namespace update
