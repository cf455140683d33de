#include "platform/sealedfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

// An anonymous memory file, sealed against every change once written; the
// library opens it through the process's own descriptor table.
struct SealedFile::Impl {
    int fd = -1;
};

SealedFile::SealedFile() : d(std::make_unique<Impl>()) {}

SealedFile::~SealedFile() {
    if (d->fd >= 0) ::close(d->fd);
}

bool SealedFile::create(const QByteArray& bytes) {
    if (d->fd >= 0) return false;
    const int fd = memfd_create("orvel-trust", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += n;
    }
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        ::close(fd);
        return false;
    }
    d->fd = fd;
    return true;
}

QString SealedFile::path() const {
    return d->fd < 0 ? QString() : QStringLiteral("/proc/self/fd/%1").arg(d->fd);
}

}  // namespace platform
