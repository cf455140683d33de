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

[[maybe_unused]] constexpr qint64 kWriteBehind = qint64{8} << 20;

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

// The start of `name` that takes at most `limit` bytes, cut between
// characters: a temporary name must fit in one entry however long the
// target's name is.
QString headOf(const QString& name, qsizetype limit) {
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < name.size()) {
        const qsizetype n = name[i].isHighSurrogate() && i + 1 < name.size() ? 2 : 1;
        bytes += QFile::encodeName(name.mid(i, n)).size();
        if (bytes > limit) break;
        i += n;
    }
    return name.left(i);
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
    int error = 0;
    qint64 written = 0;
    qint64 handed = 0;  // written bytes already handed to the disk
    bool committed = false;
};

WholeFile::WholeFile(const QString& target) : d_(std::make_unique<Impl>()) {
    const QFileInfo info(target);
    d_->target = QFile::encodeName(info.absoluteFilePath());
    d_->folder = QFile::encodeName(info.absolutePath());
    d_->temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + headOf(info.fileName(), 100) +
                                 QStringLiteral(".part-XXXXXX"));
}

WholeFile::~WholeFile() { discard(); }

bool WholeFile::open() {
    if (d_->fd >= 0 || d_->committed) return false;
    d_->fd = ::mkostemp(d_->temp.data(), O_CLOEXEC);
    if (d_->fd < 0) d_->error = errno;
    return d_->fd >= 0;
}

bool WholeFile::write(const char* data, qint64 size) {
    if (d_->fd < 0) return false;
    while (size > 0) {
        const ssize_t n = ::write(d_->fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            d_->error = errno;
            return false;
        }
        data += n;
        size -= n;
        d_->written += n;
    }
    // What has been written is handed to the disk every so many bytes, so
    // that a long copy does not pile up in memory until the final flush.
    // Only a hint.
#ifdef __linux__
    if (d_->written - d_->handed >= kWriteBehind) {
        ::sync_file_range(d_->fd, d_->handed, d_->written - d_->handed, SYNC_FILE_RANGE_WRITE);
        d_->handed = d_->written;
    }
#endif
    return true;
}

bool WholeFile::commit(bool runnable) {
    if (d_->fd < 0) return false;
    // The permissions of the file being replaced, never those of what a link
    // in its place leads to.
    struct stat st {};
    mode_t mode = ::lstat(d_->target.constData(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 07777)
                                                                                 : (0666 & ~currentUmask());
    if (runnable) mode = withRunBits(mode);
    bool ok = ::fchmod(d_->fd, mode) == 0 && ::fsync(d_->fd) == 0;
    if (!ok) d_->error = errno;
    if (::close(d_->fd) != 0 && ok) {
        d_->error = errno;
        ok = false;
    }
    d_->fd = -1;
    // rename() replaces the entry: a link there is replaced, not followed.
    if (ok && ::rename(d_->temp.constData(), d_->target.constData()) != 0) {
        d_->error = errno;
        ok = false;
    }
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

// No system here keeps a file's origin beside it.
void WholeFile::markFromInternet() {}

int WholeFile::error() const { return d_->error; }

void WholeFile::discard() {
    if (d_->fd < 0) return;
    ::close(d_->fd);
    d_->fd = -1;
    ::unlink(d_->temp.constData());
}

bool IsLink(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
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

QString FindStoredName(const QString& folder, const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) return QString();
    const QFileInfo info(folder + QLatin1Char('/') + name);
    return info.exists() || info.isSymLink() ? info.fileName() : QString();
}

}  // namespace platform
