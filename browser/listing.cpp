#include "browser/listing.h"

#include <QHash>

#include "browser/koreanstring.h"

namespace browser {

namespace {

// The last listing's paths: shown text to the server's bytes. A text that
// two entries share maps to nothing.
struct LastListing {
    const inet::Handle* connection = nullptr;
    QHash<QString, QByteArray> paths;
};

LastListing& lastListing() {
    static LastListing last;
    return last;
}

}  // namespace

std::vector<ListLine> ReadListLines(inet::Handle* hConnect, const QString& remoteFolder, QChar groupSep) {
    std::vector<ListLine> lines;
    LastListing& last = lastListing();
    last.connection = hConnect;
    last.paths.clear();
    inet::FindData fd;
    inet::HInternet find = inet::FtpFindFirstFileA(hConnect, remoteFolder, fd,
                                                   inet::INTERNET_FLAG_RELOAD | inet::INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) return lines;
    const QByteArray folderBytes = inet::FtpPathBytes(hConnect, remoteFolder);
    do {
        // A name ends at its first NUL; an entry without a name is left out.
        QString name = fd.cFileName;
        const qsizetype nul = name.indexOf(QChar(u'\0'));
        if (nul >= 0) name.truncate(nul);
        if (name.isEmpty()) continue;
        const QString path = remoteFolder + name;
        last.paths.insert(path, last.paths.contains(path) ? QByteArray() : folderBytes + fd.rawName);
        lines.push_back({listline::FormatListLine(name, fd.ftLastWriteTime, fd.nFileSize, groupSep), name, fd.rawName});
    } while (inet::InternetFindNextFileA(find.get(), fd));
    inet::InternetCloseHandle(find);
    return lines;
}

QByteArray RemotePathBytes(inet::Handle* hConnect, const QString& remotePath) {
    const LastListing& last = lastListing();
    if (hConnect && last.connection == hConnect) {
        const auto it = last.paths.constFind(remotePath);
        if (it != last.paths.cend()) return it.value();
    }
    return inet::FtpPathBytes(hConnect, remotePath);
}

bool DeleteRemoteFile(inet::Handle* hConnect, const QString& remotePath) {
    const QByteArray bytes = RemotePathBytes(hConnect, remotePath);
    return !bytes.isEmpty() && inet::FtpDeleteFileRaw(hConnect, bytes);
}

}  // namespace browser
