// One copy per user through a named mutex in the global namespace, named
// with the user's SID: the same user at the console and in a remote session
// finds the other's copy. The system drops the mutex with the last handle,
// so a copy that crashed leaves nothing stale behind, and no file can be
// locked by a virus scanner or left on a full disk.
#include "platform/singleinstance.h"

#include <windows.h>
#include <sddl.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <vector>

namespace platform {

namespace {

// The SID of the user this process runs as, in its "S-1-5-..." text; empty
// when the token cannot be read.
QString userSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return QString();
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buf(size ? size : 1);
    QString text;
    if (size && ::GetTokenInformation(token, TokenUser, buf.data(), size, &size)) {
        wchar_t* sid = nullptr;
        if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid)) {
            text = QString::fromWCharArray(sid);
            ::LocalFree(sid);
        }
    }
    ::CloseHandle(token);
    return text;
}

QString mutexName(const QString& sid) {
    // Per program (executable name); "\" is the one character a mutex name
    // may not hold after its namespace.
    QString prog = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toLower();
    prog.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QStringLiteral("Global\\") + prog + QStringLiteral(".instance.") + sid;
}

}  // namespace

QString InstanceLockPath() { return mutexName(userSid()); }

bool PrevInstance() {
    static HANDLE held = nullptr;  // lives until the process ends
    if (held) return false;
    const QString sid = userSid();
    const QString name = mutexName(sid);
    // Only this user (elevated or not) and the system may open it.
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    PSECURITY_DESCRIPTOR sd = nullptr;
    const std::wstring sddl = (QStringLiteral("D:P(A;;GA;;;") + sid + QStringLiteral(")(A;;GA;;;SY)")).toStdWString();
    if (!sid.isEmpty() &&
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
        sa.lpSecurityDescriptor = sd;
    HANDLE h = ::CreateMutexW(&sa, FALSE, reinterpret_cast<const wchar_t*>(name.utf16()));
    const DWORD err = ::GetLastError();
    if (sd) ::LocalFree(sd);
    // Denied: the name is held by someone who is not this user (our own
    // copies grant us access). Counting it as a running copy would let
    // another user keep this one from ever starting.
    if (!h) return false;
    if (err == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(h);
        return true;
    }
    held = h;
    return false;
}

}  // namespace platform
