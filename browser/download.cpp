#include "browser/download.h"

#include <QDir>
#include <QSaveFile>
#include <cerrno>

#include "browser/listing.h"
#include "browser/offthread.h"
#include "core/errors.h"
#include "platform/files.h"
#include "core/msgbox.h"

namespace browser {
namespace {

constexpr quint32 kBlock = 1024;
// Whole blocks gather here and go to the file in one write.
constexpr qsizetype kWriteChunk = 256 * 1024;
// What has been written is handed to the disk every so many bytes, so that
// the copy does not pile up in memory waiting for the final flush.
constexpr qint64 kWriteBehind = qint64{8} << 20;

void exclamation(const QString& text) {
    platform::MsgBox(text, platform::MsgButtons::Ok, platform::MsgIcon::Exclamation, platform::AppTitle());
}

// `systemError` is the system's code taken right after the failing call.
void runtimeError(QFileDevice::FileError fileError, int systemError) {
    const long number = platform::FileErrorNumber(fileError, systemError);
    platform::ShowTrappedError(number, platform::ErrorDescription(number), QStringLiteral("FileDownLoad"),
                               QStringLiteral("FrmMain"));
}

// What the transfer came to; the window thread tells the user.
struct Outcome {
    enum class Kind { Done, NotFound, ReadFailed, LocalFailed } kind = Kind::Done;
    QFileDevice::FileError fileError = QFileDevice::NoError;
    int systemError = 0;
};

// Copies the remote file into a temporary file that replaces `localPath`
// only when every byte is there. Runs off the window thread: no widgets, no
// message boxes.
Outcome transfer(inet::Handle* hConnect, const QByteArray& remoteBytes, const QString& localPath) {
    using Kind = Outcome::Kind;
    inet::HInternet file = remoteBytes.isEmpty() ? nullptr
                                                 : inet::FtpOpenFileRaw(hConnect, remoteBytes, inet::GENERIC_READ,
                                                                        inet::FTP_TRANSFER_TYPE_BINARY, 0);
    if (!file) return {Kind::NotFound};
    // An unknown size would pass an empty file off as the download.
    const qint64 size = inet::FtpGetFileSize64(file.get());
    if (size < 0) return {Kind::ReadFailed};

    QSaveFile out(localPath);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const int systemError = platform::LastSystemError();
        return {Kind::LocalFailed, out.error(), systemError};
    }

    // size div 1024 reads of 1024 bytes, then one read of the rest.
    QByteArray chunk(kWriteChunk, Qt::Uninitialized);
    qsizetype filled = 0;
    qint64 written = 0;
    qint64 handed = 0;  // written bytes already handed to the disk
    int writeError = 0;
    const auto flush = [&] {
        if (filled == 0) return true;
        if (out.write(chunk.constData(), filled) != filled) {
            writeError = platform::LastSystemError();  // before closing the transfer can change it
            return false;
        }
        written += filled;
        filled = 0;
        if (written - handed >= kWriteBehind) {
            platform::StartWriteBehind(out.handle(), handed, written - handed);
            handed = written;
        }
        return true;
    };
    bool readOk = true;
    bool writeOk = true;
    for (qint64 left = size; left > 0 && readOk && writeOk;) {
        const quint32 n = left >= kBlock ? kBlock : static_cast<quint32>(left);
        if (filled + n > kWriteChunk && !(writeOk = flush())) break;
        quint32 got = 0;
        readOk = inet::InternetReadFile(file.get(), chunk.data() + filled, n, &got) && got == n;
        filled += readOk ? n : 0;
        left -= readOk ? n : 0;
    }
    if (readOk && writeOk) writeOk = flush();
    inet::InternetCloseHandle(file);

    if (!readOk) {
        out.cancelWriting();
        return {Kind::ReadFailed};
    }
    if (writeOk && !out.commit()) {
        writeError = platform::LastSystemError();
        writeOk = false;
    }
    if (!writeOk) {
        const Outcome failed{Kind::LocalFailed, out.error(), writeError};
        out.cancelWriting();
        return failed;
    }
    return {};
}

}  // namespace

bool IsSafeLocalName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    for (QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\')) return false;
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return false;
    }
    // A name the file system would take apart (or that is too long to be
    // one component) never reaches it.
    return name.toUtf8().size() <= 255;
}

bool FileDownLoad(inet::Handle* hConnect, const QString& remotePath, const QString& localFolder,
                  QString localName) {
    if (localName.isEmpty()) {
        const qsizetype slash = remotePath.lastIndexOf(QLatin1Char('/'));
        if (slash < 0) {
            platform::MsgBox(QStringLiteral("파일명을 알수 없습니다."), platform::MsgButtons::Ok,
                             platform::MsgIcon::None, platform::AppTitle());
            return false;
        }
        localName = remotePath.mid(slash + 1);
    }
    if (!IsSafeLocalName(localName)) {
        exclamation(QStringLiteral("내려받을 수 없는 파일명입니다.\r\n\r\n") + localName);
        return false;
    }

    // The server's own bytes for the name, whatever the text shows.
    const QByteArray remoteBytes = RemotePathBytes(hConnect, remotePath);
    const QString localPath = localFolder + QLatin1Char('/') + localName;
    // The window keeps repainting while the bytes flow; the messages come
    // after, from the window thread.
    const Outcome outcome = RunOffUiThread([&] { return transfer(hConnect, remoteBytes, localPath); });
    switch (outcome.kind) {
        case Outcome::Kind::Done:
            return true;
        case Outcome::Kind::NotFound:
            exclamation(QStringLiteral("FTP서버에 저장된 파일을 찾을 수 없습니다."));
            return false;
        case Outcome::Kind::ReadFailed:
            exclamation(QStringLiteral("FTP파일 읽기에 실패했습니다."));
            return false;
        case Outcome::Kind::LocalFailed:
            runtimeError(outcome.fileError, outcome.systemError);
            return false;
    }
    return false;
}

}  // namespace browser
