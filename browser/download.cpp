#include "browser/download.h"

#include <QDir>
#include <QSaveFile>
#include <cerrno>

#include "browser/listing.h"
#include "platform/errors.h"
#include "platform/msgbox.h"

namespace browser {
namespace {

constexpr quint32 kBlock = 1024;

void exclamation(const QString& text) {
    platform::MsgBox(text, platform::MsgButtons::Ok, platform::MsgIcon::Exclamation, platform::AppTitle());
}

// `systemError` is the system's code taken right after the failing call.
void runtimeError(const QSaveFile& f, int systemError) {
    const long number = platform::FileErrorNumber(f.error(), systemError);
    platform::ShowTrappedError(number, platform::ErrorDescription(number), QStringLiteral("FileDownLoad"),
                               QStringLiteral("FrmMain"));
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
    inet::HInternet file = remoteBytes.isEmpty() ? nullptr
                                                 : inet::FtpOpenFileRaw(hConnect, remoteBytes, inet::GENERIC_READ,
                                                                        inet::FTP_TRANSFER_TYPE_BINARY, 0);
    if (!file) {
        exclamation(QStringLiteral("FTP서버에 저장된 파일을 찾을 수 없습니다."));
        return false;
    }
    const qint64 size = inet::FtpGetFileSize64(file.get());
    if (size < 0) {
        // An unknown size would pass an empty file off as the download.
        exclamation(QStringLiteral("FTP파일 읽기에 실패했습니다."));
        inet::InternetCloseHandle(file);
        return false;
    }

    QSaveFile out(localFolder + QLatin1Char('/') + localName);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly)) {
        runtimeError(out, errno);
        inet::InternetCloseHandle(file);
        return false;
    }

    QByteArray buffer(kBlock, '\0');
    const qint64 blocks = size / kBlock;
    const quint32 rest = static_cast<quint32>(size % kBlock);
    bool readOk = true;
    bool writeOk = true;
    int writeError = 0;
    auto writeBlock = [&](quint32 n) {
        if (out.write(buffer.constData(), n) == n) return true;
        writeError = errno;  // before closing the transfer can change it
        return false;
    };
    auto readBlock = [&](quint32 n) {
        quint32 got = 0;
        if (!inet::InternetReadFile(file.get(), buffer.data(), n, &got) || got != n) return false;
        return true;
    };
    for (qint64 i = 0; i < blocks && readOk && writeOk; ++i) {
        readOk = readBlock(kBlock);
        if (readOk) writeOk = writeBlock(kBlock);
    }
    if (readOk && writeOk && rest > 0) {
        buffer.resize(rest);
        readOk = readBlock(rest);
        if (readOk) writeOk = writeBlock(rest);
    }
    inet::InternetCloseHandle(file);

    if (!readOk) {
        exclamation(QStringLiteral("FTP파일 읽기에 실패했습니다."));
        out.cancelWriting();
        return false;
    }
    if (writeOk && !out.commit()) {
        writeError = errno;
        writeOk = false;
    }
    if (!writeOk) {
        runtimeError(out, writeError);
        out.cancelWriting();
        return false;
    }
    return true;
}

}  // namespace browser
