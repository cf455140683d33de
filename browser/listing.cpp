#include "browser/listing.h"

#include <QListWidgetItem>

#include "browser/lineformatter.h"
#include "browser/offthread.h"

namespace browser {

namespace {

// The last listing's names: shown text and the server's bytes, in the
// listing's order. Only a download or a deletion looks a name up, so the
// listing merely notes them (a table would cost every entry a lookup).
struct LastListing {
    const inet::Handle* connection = nullptr;
    QString folder;          // the listed folder as text
    QByteArray folderBytes;  // and as the server spells it
    std::vector<std::pair<QString, QByteArray>> names;
};

LastListing& lastListing() {
    static LastListing last;
    return last;
}

// Lists off the window thread and hands each entry's line to `take` as
// soon as the entry is in, so the lines are ready when the listing's last
// byte is. False when the listing failed.
template <class Take>
bool listLines(inet::Handle* hConnect, const QString& remoteFolder, QChar groupSep, Take&& take,
               const std::function<void()>& meanwhile = {}) {
    LastListing& last = lastListing();
    last.connection = hConnect;
    last.folder = remoteFolder;
    last.folderBytes = inet::FtpPathBytes(hConnect, remoteFolder);
    last.names.clear();
    return RunOffUiThread([&] {
        listline::LineFormatter format(groupSep);
        const bool whole = inet::FtpListFolder(hConnect, remoteFolder, [&](const inet::FindData& fd) {
            // A name ends at its first NUL; an entry without a name is left out.
            QString name = fd.cFileName;
            const qsizetype nul = name.indexOf(QChar(u'\0'));
            if (nul >= 0) name.truncate(nul);
            if (name.isEmpty()) return;
            last.names.emplace_back(name, fd.rawName);
            take(format.Format(name, fd.ftLastWriteTime, fd.nFileSize), name, fd.rawName);
        });
        if (!whole) last.names.clear();
        return whole;
    }, meanwhile);
}

}  // namespace

std::vector<ListLine> ReadListLines(inet::Handle* hConnect, const QString& remoteFolder, QChar groupSep) {
    std::vector<ListLine> lines;
    const bool whole = listLines(hConnect, remoteFolder, groupSep, [&lines](QString text, const QString& name,
                                                                            const QByteArray& raw) {
        lines.push_back({std::move(text), name, raw});
    });
    if (!whole) lines.clear();
    return lines;
}

std::vector<std::unique_ptr<QListWidgetItem>> ReadListItems(inet::Handle* hConnect, const QString& remoteFolder,
                                                            QChar groupSep, const std::function<void()>& meanwhile) {
    std::vector<std::unique_ptr<QListWidgetItem>> items;
    const bool whole = listLines(hConnect, remoteFolder, groupSep, [&items](QString text, const QString& name,
                                                                            const QByteArray&) {
        // An item outside any list box is plain data: made here, off the
        // window thread, it costs the window only its insertion.
        auto item = std::make_unique<QListWidgetItem>(std::move(text));
        item->setData(Qt::UserRole, name);
        items.push_back(std::move(item));
    }, meanwhile);
    if (!whole) items.clear();
    return items;
}

QByteArray RemotePathBytes(inet::Handle* hConnect, const QString& remotePath) {
    const LastListing& last = lastListing();
    if (hConnect && last.connection == hConnect && remotePath.startsWith(last.folder)) {
        const QStringView name = QStringView(remotePath).mid(last.folder.size());
        const QByteArray* found = nullptr;
        int matches = 0;
        for (const auto& [text, raw] : last.names)
            if (text == name && ++matches == 1) found = &raw;
        if (matches == 1) return last.folderBytes + *found;
        if (matches > 1) return QByteArray();  // two entries show this text: neither is guessed at
    }
    return inet::FtpPathBytes(hConnect, remotePath);
}

bool DeleteRemoteFile(inet::Handle* hConnect, const QString& remotePath) {
    const QByteArray bytes = RemotePathBytes(hConnect, remotePath);
    return !bytes.isEmpty() && inet::FtpDeleteFileRaw(hConnect, bytes);
}

}  // namespace browser
