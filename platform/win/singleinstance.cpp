// One copy per user session through a named mutex in the session's own
// namespace: the system drops it with the last handle, so a copy that
// crashed leaves nothing stale behind, and no file can be locked by a
// virus scanner or left on a full disk.
#include "platform/singleinstance.h"

#include <windows.h>

#include <QCoreApplication>
#include <QFileInfo>

namespace platform {

QString InstanceLockPath() {
    // Per program (executable name); "\" is the one character a mutex name
    // may not hold after its namespace.
    QString prog = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toLower();
    prog.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QStringLiteral("Local\\") + prog + QStringLiteral(".instance");
}

bool PrevInstance() {
    static HANDLE held = nullptr;  // lives until the process ends
    if (held) return false;
    const QString name = InstanceLockPath();
    HANDLE h = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.utf16()));
    const DWORD err = ::GetLastError();
    if (!h) return err == ERROR_ACCESS_DENIED;  // exists, made by a copy with other rights
    if (err == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(h);
        return true;
    }
    held = h;
    return false;
}

}  // namespace platform
