#include "platform/dllsearch.h"

#include <windows.h>

namespace platform {

bool HardenDllSearch() {
    // Also keeps the current folder out of LoadLibrary's search; the
    // libraries the program file imports are resolved before main, which is
    // why it must live in a folder only its user can write.
    return ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace platform
