// Last-error codes in the program's own terms.
#include "platform/syserror.h"

#include <windows.h>

namespace platform {

SystemFailure ClassifySystemError(int code) {
    switch (static_cast<DWORD>(code)) {
    case 0: return SystemFailure::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return SystemFailure::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return SystemFailure::AccessDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return SystemFailure::DiskFull;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return SystemFailure::OutOfMemory;
    default: return SystemFailure::Other;
    }
}

int LastSystemError() { return static_cast<int>(::GetLastError()); }

QString SystemErrorText(int code) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString out = text ? QString::fromWCharArray(text).trimmed() : QString();
    if (text) ::LocalFree(text);
    return out.isEmpty() ? QStringLiteral("system error %1").arg(code) : out;
}

}  // namespace platform
