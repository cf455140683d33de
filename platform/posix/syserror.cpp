// errno values in the program's own terms.
#include "platform/syserror.h"

#include <cerrno>
#include <cstring>

namespace platform {

SystemFailure ClassifySystemError(int code) {
    switch (code) {
    case 0: return SystemFailure::None;
    // A path through a file (ENOTDIR) is no missing file but a path that
    // cannot be used: Other.
    case ENOENT: return SystemFailure::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return SystemFailure::AccessDenied;
    case ENOSPC:
    case EDQUOT: return SystemFailure::DiskFull;
    case ENOMEM: return SystemFailure::OutOfMemory;
    default: return SystemFailure::Other;
    }
}

int LastSystemError() { return errno; }

QString SystemErrorText(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

}  // namespace platform
