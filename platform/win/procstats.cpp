#include "platform/procstats.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace platform {

namespace {

// The threads of this process in a snapshot of all of the system's; the
// snapshot's own handle is closed before the count is returned.
qint64 threadCount() {
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    const DWORD self = GetCurrentProcessId();
    qint64 n = 0;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        if (t.th32OwnerProcessID == self) ++n;
    CloseHandle(snap);
    return n;
}

}  // namespace

ProcStats CurrentProcStats() {
    ProcStats s;
    PROCESS_MEMORY_COUNTERS m{};
    m.cb = sizeof m;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m)) s.residentBytes = qint64(m.WorkingSetSize);
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles)) s.handles = handles;
    s.threads = threadCount();
    return s;
}

void SetUpHeap() {}

}  // namespace platform
