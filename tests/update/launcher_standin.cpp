// The program the launcher tests install and start on Windows: appends its
// tag and a line break to started.log beside itself. The tests write the tag
// into a copy of this file, behind the marker of the slot below.
#include <windows.h>

volatile char g_tag[32] = "<<standin-tag>>";  // marker, NUL, then the tag (at most 15 characters)

int main() {
    static wchar_t path[32768];
    DWORD n = ::GetModuleFileNameW(nullptr, path, 32768 - 16);
    if (n == 0 || n >= 32768 - 16) return 2;
    while (n > 0 && path[n - 1] != L'\\') --n;
    for (const wchar_t* s = L"started.log"; *s; ++s) path[n++] = *s;
    path[n] = 0;

    char line[17];
    DWORD len = 0;
    while (len < 15 && g_tag[16 + len]) {
        line[len] = g_tag[16 + len];
        ++len;
    }
    line[len++] = '\n';
    HANDLE f = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(f, line, len, &written, nullptr);
    ::CloseHandle(f);
    return ok && written == len ? 0 : 4;
}
