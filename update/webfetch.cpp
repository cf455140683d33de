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

// A GET whose answer must be a success (2xx): an error page is not the
// program that was asked for.
struct Fetch {
    net::HInternet root;
    net::HInternet request;
    Fetch(const QString& url, quint32 flags, bool small) {
        root = net::InternetOpenA(kAgent, net::INTERNET_OPEN_TYPE_PRECONFIG, QString(), QString(), 0);
        if (root && small) net::LimitToSmallResources(root.get());
        if (root) request = net::InternetOpenUrlA(root.get(), url, QString(), 0, flags, 0);
        const int status = request ? net::HttpStatus(request.get()) : 0;
        if (status < 200 || status > 299) close();
    }
    ~Fetch() { close(); }
    void close() {
        net::InternetCloseHandle(request);
        net::InternetCloseHandle(root);
    }
    // Hands the body to `sink` block by block; true when it all arrived and
    // `sink` took every block.
    bool read(const std::function<bool(const char*, quint32)>& sink) {
        if (!request) return false;
        std::vector<char> buffer(kChunk);
        for (;;) {
            quint32 got = 0;
            if (!net::InternetReadFile(request.get(), buffer.data(), kChunk, &got)) return false;
            if (got == 0) return true;
            if (!sink(buffer.data(), got)) return false;
        }
    }
};

bool download(QString& Url, QString& LocalFile, bool executable, const DownloadCheck* check) {
    roundTrip(Url);
    if (LocalFile.isEmpty() || QFileInfo(LocalFile).isDir()) return false;
    const quint32 flags = net::INTERNET_FLAG_RELOAD | (check ? net::INTERNET_FLAG_NO_AUTO_REDIRECT : 0);
    Fetch fetch(Url, flags, false);
    if (!fetch.request) return false;

    // The old file stays in place until the new one is complete on disk.
    platform::WholeFile out(LocalFile);
    qint64 total = 0;
    const bool ok = out.open() && fetch.read([&](const char* data, quint32 size) {
        total += size;
        if (check && check->feed) check->feed(data, size);
        if (check && check->maxBytes > 0 && total > check->maxBytes) return false;
        return out.write(data, size);
    });
    if (!ok || (check && check->accept && !check->accept())) return false;
    return out.commit(executable);
}

}  // namespace

QString ReadUrlText(QString& Url) {
    roundTrip(Url);
    net::HInternet root = net::InternetOpenA(kAgent, net::INTERNET_OPEN_TYPE_PRECONFIG, QString(), QString(), 0);
    if (!root) return QString();
    // The version text is read at every start, before the program's window.
    net::LimitToSmallResources(root.get());
    net::HInternet request = net::InternetOpenUrlA(root.get(), Url, QString(), 0, net::INTERNET_FLAG_RELOAD, 0);
    if (!request) {
        net::InternetCloseHandle(root);
        return QString();
    }
    QByteArray buffer(kTextBytes, ' ');
    quint32 got = 0;
    QString result;
    // One read only: whatever follows the first 20 bytes is never fetched.
    if (net::InternetReadFile(request.get(), buffer.data(), kTextBytes, &got))
        result = platform::FromCp949(buffer).left(static_cast<qsizetype>(got));
    net::InternetCloseHandle(request);
    net::InternetCloseHandle(root);
    return result;
}

bool DownloadUrlToFile(QString& Url, QString& LocalFile, bool executable) {
    return download(Url, LocalFile, executable, nullptr);
}

bool DownloadUrlToFile(QString& Url, QString& LocalFile, bool executable, const DownloadCheck& check) {
    return download(Url, LocalFile, executable, &check);
}

std::optional<QByteArray> FetchSmallResource(const QString& Url, qint64 maxBytes) {
    QString url = Url;
    roundTrip(url);
    Fetch fetch(url, net::INTERNET_FLAG_RELOAD | net::INTERNET_FLAG_NO_AUTO_REDIRECT, true);
    QByteArray body;
    const bool ok = fetch.read([&](const char* data, quint32 size) {
        if (body.size() + size > maxBytes) return false;
        body.append(data, static_cast<qsizetype>(size));
        return true;
    });
    if (!ok) return std::nullopt;
    return body;
}

}  // namespace update
