#include "update/webfetch.h"

#include <QByteArray>
#include <QFileInfo>
#include <vector>

#include "platform/files.h"
#include "net/inet.h"
#include "platform/textcodec.h"

namespace update {

namespace {

const QString kAgent = QStringLiteral("VB OpenUrl");
constexpr quint32 kTextBytes = 20;
constexpr quint32 kChunk = 64 * 1024;

// Texts reach the platform in code page 949; the caller's variable keeps
// what survived the trip.
void roundTrip(QString& text) { text = platform::FromCp949(platform::ToCp949(text)); }

// Streams the response body into `out`; true when it all arrived.
bool copyBody(inet::Handle* request, platform::WholeFile& out) {
    std::vector<char> buffer(kChunk);
    for (;;) {
        quint32 got = 0;
        if (!inet::InternetReadFile(request, buffer.data(), kChunk, &got)) return false;
        if (got == 0) return true;
        if (!out.write(buffer.data(), got)) return false;
    }
}

}  // namespace

QString ReadUrlText(QString& Url) {
    roundTrip(Url);
    inet::HInternet root = inet::InternetOpenA(kAgent, inet::INTERNET_OPEN_TYPE_PRECONFIG, QString(), QString(), 0);
    if (!root) return QString();
    inet::HInternet request = inet::InternetOpenUrlA(root.get(), Url, QString(), 0, inet::INTERNET_FLAG_RELOAD, 0);
    if (!request) {
        inet::InternetCloseHandle(root);
        return QString();
    }
    QByteArray buffer(kTextBytes, ' ');
    quint32 got = 0;
    QString result;
    // One read only: whatever follows the first 20 bytes is never fetched.
    if (inet::InternetReadFile(request.get(), buffer.data(), kTextBytes, &got))
        result = platform::FromCp949(buffer).left(static_cast<qsizetype>(got));
    inet::InternetCloseHandle(request);
    inet::InternetCloseHandle(root);
    return result;
}

bool DownloadUrlToFile(QString& Url, QString& LocalFile, bool executable) {
    roundTrip(Url);
    if (LocalFile.isEmpty() || QFileInfo(LocalFile).isDir()) return false;

    inet::HInternet root = inet::InternetOpenA(kAgent, inet::INTERNET_OPEN_TYPE_PRECONFIG, QString(), QString(), 0);
    if (!root) return false;
    inet::HInternet request = inet::InternetOpenUrlA(root.get(), Url, QString(), 0, inet::INTERNET_FLAG_RELOAD, 0);
    // An error page is not the program that was asked for.
    const int status = request ? inet::HttpStatus(request.get()) : 0;
    if (status < 200 || status > 299) {
        inet::InternetCloseHandle(request);
        inet::InternetCloseHandle(root);
        return false;
    }

    // The old file stays in place until the new one is complete on disk.
    platform::WholeFile out(LocalFile);
    const bool ok = out.open() && copyBody(request.get(), out) && out.commit(executable);
    inet::InternetCloseHandle(request);
    inet::InternetCloseHandle(root);
    return ok;
}

}  // namespace update
