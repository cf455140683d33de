#pragma once
// What this process holds from the system right now (resident memory, open
// handles, threads), for the long-run benchmark; and the heap's set-up that
// keeps the resident memory from creeping up over a long run.
#include <QtGlobal>

namespace platform {

struct ProcStats {
    qint64 residentBytes = -1;  // Linux: VmRSS; Windows: the working set
    qint64 handles = -1;        // Linux: open descriptors; Windows: GetProcessHandleCount
    qint64 threads = -1;
};

// Each figure is -1 where the system cannot tell it.
ProcStats CurrentProcStats();

// Called once at start. Blocks of 128 KiB and more (the transfer buffers)
// always get pages of their own, returned when freed. glibc would otherwise
// raise that limit after the first such block is freed, and later buffers
// stay resident in the heap of whichever worker thread took them: the
// process swung by megabytes between commands. Nothing where the system's
// heap does not work that way (Windows).
void SetUpHeap();

}  // namespace platform
