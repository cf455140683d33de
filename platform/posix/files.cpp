#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

QString reason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

void setError(QString* error, int err) {
    if (error) *error = reason(err);
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

mode_t withRunBits(mode_t mode) {
    if (mode & S_IRUSR) mode |= S_IXUSR;
    if (mode & S_IRGRP) mode |= S_IXGRP;
    if (mode & S_IROTH) mode |= S_IXOTH;
    return mode;
}

FileId idOf(const struct stat& st) {
    FileId id;
    id.key = QByteArray::number(static_cast<qulonglong>(st.st_dev)) + ':' +
             QByteArray::number(static_cast<qulonglong>(st.st_ino));
    return id;
}

}  // namespace

struct WholeFile::Impl {
    QByteArray target;
    QByteArray folder;
    QByteArray temp;
    int fd = -1;
    bool committed = false;
};

WholeFile::WholeFile(const QString& target) : d_(std::make_unique<Impl>()) {
    const QFileInfo info(target);
    d_->target = QFile::encodeName(info.absoluteFilePath());
    d_->folder = QFile::encodeName(info.absolutePath());
    d_->temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName().left(100) +
                                 QStringLiteral(".part-XXXXXX"));
}

WholeFile::~WholeFile() { discard(); }

bool WholeFile::open() {
    if (d_->fd >= 0 || d_->committed) return false;
    d_->fd = ::mkostemp(d_->temp.data(), O_CLOEXEC);
    return d_->fd >= 0;
}

bool WholeFile::write(const char* data, qint64 size) {
    if (d_->fd < 0) return false;
    while (size > 0) {
        const ssize_t n = ::write(d_->fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool WholeFile::commit(bool runnable) {
    if (d_->fd < 0) return false;
    struct stat st {};
    mode_t mode = ::stat(d_->target.constData(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    if (runnable) mode = withRunBits(mode);
    bool ok = ::fchmod(d_->fd, mode) == 0 && ::fsync(d_->fd) == 0;
    ok = ::close(d_->fd) == 0 && ok;
    d_->fd = -1;
    ok = ok && ::rename(d_->temp.constData(), d_->target.constData()) == 0;
    if (!ok) {
        ::unlink(d_->temp.constData());
        return false;
    }
    d_->committed = true;
    // The new name itself must survive a power cut.
    const int dfd = ::open(d_->folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

void WholeFile::discard() {
    if (d_->fd < 0) return;
    ::close(d_->fd);
    d_->fd = -1;
    ::unlink(d_->temp.constData());
}

void StartWriteBehind([[maybe_unused]] int handle, [[maybe_unused]] qint64 offset,
                      [[maybe_unused]] qint64 length) {
#ifdef __linux__
    if (handle >= 0) ::sync_file_range(handle, offset, length, SYNC_FILE_RANGE_WRITE);
#endif
}

bool MakeRunnable(const QString& path, QString* error) {
    const QByteArray p = QFile::encodeName(path);
    struct stat st {};
    if (::stat(p.constData(), &st) != 0) {
        setError(error, errno);
        return false;
    }
    const mode_t mode = st.st_mode & 07777;
    if (withRunBits(mode) == mode) return true;
    if (::chmod(p.constData(), withRunBits(mode)) != 0) {
        setError(error, errno);
        return false;
    }
    return true;
}

bool ReplaceFile(const QString& from, const QString& to, QString* error) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        setError(error, errno);
        return false;
    }
    return true;
}

FileId FileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return idOf(st);
}

bool IsRunningProgram(const FileId& file) {
    if (!file.valid()) return false;
    const QByteArray self = QByteArray::number(static_cast<qlonglong>(::getpid()));
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        entry.toLong(&isPid);
        if (!isPid || entry.toLatin1() == self) continue;
        // The link leads to the program file itself, even one renamed or
        // deleted since it started.
        struct stat st {};
        const QByteArray exe = QByteArrayLiteral("/proc/") + entry.toLatin1() + QByteArrayLiteral("/exe");
        if (::stat(exe.constData(), &st) == 0 && idOf(st) == file) return true;
    }
    return false;
}

QString FindPlainFile(const QString& folder, const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) return QString();
    const QFileInfo info(folder + QLatin1Char('/') + name);
    return info.exists() && info.isFile() ? info.fileName() : QString();
}

}  // namespace platform
