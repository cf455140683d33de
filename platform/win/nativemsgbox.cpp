#include "platform/nativemsgbox.h"

#include <windows.h>

namespace platform {

bool ShowNativeMessageBox(const QString& text, const QString& title) {
    // No owner window: the box stays in front, since nothing else of ours is on screen.
    return ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.utf16()),
                         reinterpret_cast<const wchar_t*>(title.utf16()),
                         MB_OK | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST) != 0;
}

}  // namespace platform
