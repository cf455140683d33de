// One copy per user through a named mutex in the global namespace, named
// with the user's SID: the same user at the console and in a remote session
// finds the other's copy. The system drops the mutex with the last handle,
// so a copy that crashed leaves nothing stale behind, and no file can be
// locked by a virus scanner or left on a full disk.
#include "platform/singleinstance.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <vector>

namespace platform {

namespace {

// The TOKEN_USER or TOKEN_OWNER of this process; empty when the token
// cannot be read.
std::vector<unsigned char> tokenInfo(TOKEN_INFORMATION_CLASS what) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<unsigned char> buf(size);
    if (!size || !::GetTokenInformation(token, what, buf.data(), size, &size)) buf.clear();
    ::CloseHandle(token);
    return buf;
}

PSID userOf(std::vector<unsigned char>& tokenUser) {
    return tokenUser.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid;
}

// The user's SID in its "S-1-5-..." text; empty without one.
QString sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text)) return QString();
    const QString out = QString::fromWCharArray(text);
    ::LocalFree(text);
    return out;
}

// A user's SID is no secret, so another user on the same PC can create the
// name first and grant everyone access to it. Only a mutex owned by this
// user counts as this user's copy: owned by the user, by the default owner
// of this process's objects (the administrators, for an elevated copy), or
// by an administrator or the system, who could end this copy anyway.
bool ownedByThisUser(HANDLE mutex, PSID user) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                          nullptr, &sd) != ERROR_SUCCESS)
        return false;
    auto defaultOwner = tokenInfo(TokenOwner);
    const bool ours =
        owner && ((user && ::EqualSid(owner, user)) ||
                  (!defaultOwner.empty() &&
                   ::EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner)) ||
                  ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid));
    ::LocalFree(sd);
    return ours;
}

QString mutexName(const QString& sid) {
    // Per program (executable name); "\" is the one character a mutex name
    // may not hold after its namespace.
    QString prog = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toLower();
    prog.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QStringLiteral("Global\\") + prog + QStringLiteral(".instance.") + sid;
}

}  // namespace

QString InstanceLockPath() {
    auto user = tokenInfo(TokenUser);
    return mutexName(sidText(userOf(user)));
}

bool PrevInstance() {
    static HANDLE held = nullptr;  // lives until the process ends
    if (held) return false;
    auto user = tokenInfo(TokenUser);
    const QString sid = sidText(userOf(user));
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
        const bool running = ownedByThisUser(h, userOf(user));
        ::CloseHandle(h);
        return running;
    }
    held = h;
    return false;
}

}  // namespace platform
