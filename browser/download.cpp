#include "browser/download.h"

#include "browser/listing.h"
#include "browser/offthread.h"
#include "core/errors.h"
#include "core/log.h"
#include "core/msgbox.h"
#include "formats/localname.h"
#include "platform/files.h"

namespace browser {
namespace {

constexpr quint32 kBlock = 1024;
// Whole blocks gather here and go to the file in one write.
constexpr qsizetype kWriteChunk = 256 * 1024;

void exclamation(const QString& text) {
    core::MsgBox(text, core::MsgButtons::Ok, core::MsgIcon::Exclamation, core::AppTitle());
}

void logFailure(const QString& remotePath, const QString& cause) {
    qCWarning(core::lcBrowser).noquote() << "download of" << remotePath << "failed:" << cause;
}

// What the transfer came to; the window thread tells the user.
struct Outcome {
    enum class Kind { Done, NotFound, ReadFailed, LocalFailed } kind = Kind::Done;
    int systemError = 0;  // for LocalFailed: the system's code, 0 when it gave none
    bool folderIsLink = false;
};

// Copies the remote file into a temporary file that replaces `localPath`
// only when every byte is there. Runs off the window thread: no widgets, no
// message boxes.
Outcome transfer(net::Handle* hConnect, const QByteArray& remoteBytes, const QString& localFolder,
                 const QString& localPath) {
    using Kind = Outcome::Kind;
    net::HInternet file = remoteBytes.isEmpty() ? nullptr
                                                 : net::FtpOpenFileRaw(hConnect, remoteBytes, net::GENERIC_READ,
                                                                        net::FTP_TRANSFER_TYPE_BINARY, 0);
    if (!file) return {Kind::NotFound};
    // An unknown size would pass an empty file off as the download.
    const qint64 size = net::FtpGetFileSize64(file.get());
    if (size < 0) return {Kind::ReadFailed};

    // A folder that leads elsewhere would put the file wherever its link
    // points: the path cannot be used.
    if (platform::IsLink(localFolder)) return {Kind::LocalFailed, 0, true};
    platform::WholeFile out(localPath);
    if (!out.open()) return {Kind::LocalFailed, out.error()};

    // size div 1024 reads of 1024 bytes, then one read of the rest.
    QByteArray chunk(kWriteChunk, Qt::Uninitialized);
    qsizetype filled = 0;
    const auto flush = [&] {
        const bool ok = filled == 0 || out.write(chunk.constData(), filled);
        filled = 0;
        return ok;
    };
    bool readOk = true;
    bool writeOk = true;
    for (qint64 left = size; left > 0 && readOk && writeOk;) {
        const quint32 n = left >= kBlock ? kBlock : static_cast<quint32>(left);
        if (filled + n > kWriteChunk && !(writeOk = flush())) break;
        quint32 got = 0;
        readOk = net::InternetReadFile(file.get(), chunk.data() + filled, n, &got) && got == n;
        filled += readOk ? n : 0;
        left -= readOk ? n : 0;
    }
    if (readOk && writeOk) writeOk = flush();
    net::InternetCloseHandle(file);

    if (!readOk) return {Kind::ReadFailed};  // `out` discards the temporary file
    out.markFromInternet();
    if (!writeOk || !out.commit(false)) return {Kind::LocalFailed, out.error()};
    return {};
}

}  // namespace

bool IsSafeLocalName(const QString& name) { return formats::IsWritableLocalName(name); }

bool FileDownLoad(net::Handle* hConnect, const QString& remotePath, const QString& localFolder,
                  QString localName, const QStringList& listedNames) {
    if (localName.isEmpty()) {
        const qsizetype slash = remotePath.lastIndexOf(QLatin1Char('/'));
        if (slash < 0) {
            core::MsgBox(QStringLiteral("파일명을 알수 없습니다."), core::MsgButtons::Ok,
                             core::MsgIcon::None, core::AppTitle());
            return false;
        }
        localName = remotePath.mid(slash + 1);
    }
    // Why the name cannot be written, if it cannot.
    QString refusal;
    if (!IsSafeLocalName(localName)) {
        refusal = QStringLiteral("the name cannot be a local file name");
    } else if (formats::kHostNameRules == formats::NameRules::Windows && formats::HasCaseTwin(localName, listedNames)) {
        refusal = QStringLiteral("another listed name differs only in case");
    } else {
        // Windows also finds a file by its short name: "REPORT~1.PDF" from
        // the server would replace the user's "report-final.pdf", hidden or
        // not.
        const QString stored = platform::FindStoredName(localFolder, localName);
        if (!stored.isEmpty() && stored.compare(localName, Qt::CaseInsensitive) != 0)
            refusal = QStringLiteral("the name is the short name of ") + stored;
    }
    if (!refusal.isEmpty()) {
        logFailure(remotePath, refusal);
        exclamation(QStringLiteral("내려받을 수 없는 파일명입니다.\r\n\r\n") + formats::VisibleName(localName));
        return false;
    }

    // The server's own bytes for the name, whatever the text shows.
    const QByteArray remoteBytes = RemotePathBytes(hConnect, remotePath);
    const QString localPath = localFolder + QLatin1Char('/') + localName;
    // The window keeps repainting while the bytes flow; the messages come
    // after, from the window thread.
    const Outcome outcome =
        RunOffUiThread([&] { return transfer(hConnect, remoteBytes, localFolder, localPath); });
    switch (outcome.kind) {
        case Outcome::Kind::Done:
            return true;
        case Outcome::Kind::NotFound:
            logFailure(remotePath, QStringLiteral("the server would not open the file"));
            exclamation(QStringLiteral("FTP서버에 저장된 파일을 찾을 수 없습니다."));
            return false;
        case Outcome::Kind::ReadFailed:
            logFailure(remotePath, QStringLiteral("the transfer broke off or the size was unknown"));
            exclamation(QStringLiteral("FTP파일 읽기에 실패했습니다."));
            return false;
        case Outcome::Kind::LocalFailed: {
            const long number = core::FileErrorNumber(QFileDevice::UnspecifiedError, outcome.systemError);
            logFailure(remotePath, outcome.folderIsLink
                                       ? QStringLiteral("the folder %1 is a link").arg(localFolder)
                                       : QStringLiteral("writing in %1: %2")
                                             .arg(localFolder, platform::SystemErrorText(outcome.systemError)));
            core::ShowTrappedError(number, core::ErrorDescription(number), QStringLiteral("FileDownLoad"),
                                       QStringLiteral("FrmMain"));
            return false;
        }
    }
    return false;
}

}  // namespace browser
