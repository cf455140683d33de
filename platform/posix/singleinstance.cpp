#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <unistd.h>

#include <memory>

namespace platform {

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
    static std::unique_ptr<QLockFile> lock;
    if (lock) return false;  // we hold it already
    auto l = std::make_unique<QLockFile>(InstanceLockPath());
    // Never stale by age: a live first copy may run for days. A lock whose
    // owner process is gone is still detected as stale by QLockFile.
    l->setStaleLockTime(0);
    if (!l->tryLock(0)) return true;
    lock = std::move(l);
    return false;
}

}  // namespace platform
