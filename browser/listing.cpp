#include "browser/listing.h"

#include <QHash>

#include "browser/lineformatter.h"
#include "browser/offthread.h"

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
    LastListing& last = lastListing();
    last.connection = hConnect;
    last.paths.clear();
    const QByteArray folderBytes = inet::FtpPathBytes(hConnect, remoteFolder);
    // Off the window thread, each line made as soon as its entry is in: the
    // lines are ready when the listing's last byte is.
    return RunOffUiThread([&] {
        std::vector<ListLine> lines;
        listline::LineFormatter format(groupSep);
        const bool whole = inet::FtpListFolder(hConnect, remoteFolder, [&](const inet::FindData& fd) {
            // A name ends at its first NUL; an entry without a name is left out.
            QString name = fd.cFileName;
            const qsizetype nul = name.indexOf(QChar(u'\0'));
            if (nul >= 0) name.truncate(nul);
            if (name.isEmpty()) return;
            const QString path = remoteFolder + name;
            last.paths.insert(path, last.paths.contains(path) ? QByteArray() : folderBytes + fd.rawName);
            lines.push_back({format.Format(name, fd.ftLastWriteTime, fd.nFileSize), name, fd.rawName});
        });
        if (!whole) {
            lines.clear();
            last.paths.clear();
        }
        return lines;
    });
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
