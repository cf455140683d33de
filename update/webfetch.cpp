#include "update/webfetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <vector>

#include "browser/inet.h"
#include "platform/textcodec.h"

namespace update {

namespace {

const QString kAgent = QStringLiteral("VB OpenUrl");
constexpr quint32 kTextBytes = 20;
constexpr quint32 kChunk = 64 * 1024;

// Texts reach the platform in code page 949; the caller's variable keeps
// what survived the trip.
void roundTrip(QString& text) { text = platform::FromCp949(platform::ToCp949(text)); }

bool writeAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Permissions of the new file: those of the file it replaces, else the
// usual ones; the run bit added where reading is allowed.
mode_t newFileMode(const QByteArray& target, bool executable) {
    struct stat st {};
    mode_t mode = (::stat(target.constData(), &st) == 0) ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    if (executable) {
        if (mode & S_IRUSR) mode |= S_IXUSR;
        if (mode & S_IRGRP) mode |= S_IXGRP;
        if (mode & S_IROTH) mode |= S_IXOTH;
    }
    return mode;
}

void syncFolder(const QByteArray& folder) {
    const int dfd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// Streams the response body into `fd`; true when it all arrived.
bool copyBody(inet::Handle* request, int fd) {
    std::vector<char> buffer(kChunk);
    for (;;) {
        quint32 got = 0;
        if (!inet::InternetReadFile(request, buffer.data(), kChunk, &got)) return false;
        if (got == 0) return true;
        if (!writeAll(fd, buffer.data(), got)) return false;
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
    const QFileInfo info(LocalFile);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName().left(100) +
                                        QStringLiteral(".part-XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    bool ok = fd >= 0;
    if (ok) {
        ok = copyBody(request.get(), fd);
        ok = ok && ::fchmod(fd, newFileMode(target, executable)) == 0;
        ok = ok && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        ok = ok && ::rename(temp.constData(), target.constData()) == 0;
        if (ok)
            syncFolder(folder);
        else
            ::unlink(temp.constData());
    }
    inet::InternetCloseHandle(request);
    inet::InternetCloseHandle(root);
    return ok;
}

}  // namespace update
