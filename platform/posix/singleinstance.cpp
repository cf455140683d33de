#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/syserror.h"

namespace platform {

namespace {
// The program's "orvel.app" category (core/log.h, which this layer may not
// include): the log file takes it by its name.
Q_LOGGING_CATEGORY(lcApp, "orvel.app", QtInfoMsg)
}  // namespace

QString InstanceLockPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    // Without a runtime folder of our own, a folder in the home folder: in
    // the shared temporary folder another user could take the name first.
    if (dir.isEmpty()) {
        dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        QDir().mkpath(dir);
    }
    // Per user (runtime folder, uid) and per program (executable name).
    const QString prog = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return dir + QStringLiteral("/") + prog + QStringLiteral("-") + QString::number(::getuid()) +
           QStringLiteral(".instance.lock");
}

bool PrevInstance() {
    static int held = -1;  // open, and locked, until the process ends
    if (held >= 0) return false;
    const QByteArray path = QFile::encodeName(InstanceLockPath());
    // The kernel drops the lock with the process, however it ends: nothing
    // a crashed copy leaves in the file (or the file's mere presence) counts.
    const int fd = ::open(path.constData(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        int r;
        do r = ::flock(fd, LOCK_EX | LOCK_NB);
        while (r != 0 && errno == EINTR);
        err = r == 0 ? 0 : errno;
        if (err == 0) {
            held = fd;
            return false;
        }
        ::close(fd);
        if (err == EWOULDBLOCK) return true;
    }
    // A lock that cannot be made says nothing about another copy: refusing
    // to start here would refuse for good, so this copy runs unguarded.
    qCWarning(lcApp, "single-instance lock %s not taken: %s; starting anyway", path.constData(),
              qUtf8Printable(SystemErrorText(err)));
    return false;
}

}  // namespace platform
