// The process figures follow what the process really holds: files opened
// and closed, a thread started and ended, memory touched. And the heap's
// set-up keeps transfer-sized buffers of worker threads from staying
// resident.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QByteArray>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/procstats.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// wine (8.0) answers GetProcessHandleCount with 0.
bool handleCountIsStub() {
#ifdef _WIN32
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

TEST(ProcStats, FollowWhatTheProcessHolds) {
    const platform::ProcStats idle = platform::CurrentProcStats();
    ASSERT_GT(idle.residentBytes, 0);
    ASSERT_GE(idle.threads, 1);
    if (!handleCountIsStub()) {
        ASSERT_GT(idle.handles, 0);
        // Two readings in a row agree: reading opens nothing that stays open.
        EXPECT_EQ(platform::CurrentProcStats().handles, idle.handles);
        std::vector<std::unique_ptr<QFile>> files;
        for (int i = 0; i < 3; ++i) {
            files.push_back(std::make_unique<QFile>(QCoreApplication::applicationFilePath()));
            ASSERT_TRUE(files.back()->open(QIODevice::ReadOnly));
        }
        EXPECT_EQ(platform::CurrentProcStats().handles, idle.handles + 3);
        files.clear();
        EXPECT_EQ(platform::CurrentProcStats().handles, idle.handles);
    }

    std::mutex m;
    std::condition_variable cv;
    bool started = false, done = false;
    std::thread t([&] {
        std::unique_lock lock(m);
        started = true;
        cv.notify_all();
        cv.wait(lock, [&] { return done; });
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return started; });
    }
    EXPECT_EQ(platform::CurrentProcStats().threads, idle.threads + 1);
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_all();
    t.join();
    // A joined thread leaves the kernel's count a moment after join returns.
    const auto threadsBackToIdle = [&] {
        for (int i = 0; i < 500; ++i) {
            if (platform::CurrentProcStats().threads == idle.threads) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    EXPECT_TRUE(threadsBackToIdle());

    const qint64 before = platform::CurrentProcStats().residentBytes;
    QByteArray block(64 << 20, 'x');  // every page written
    EXPECT_GE(platform::CurrentProcStats().residentBytes - before, qint64{60} << 20);
}

// Worker threads one after another, each filling and freeing a buffer of a
// download's read-ahead: what they freed goes back to the system.
TEST(ProcStats, FreedTransferBuffersOfWorkersLeaveNothingResident) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator keeps freed blocks in quarantine on purpose.
    GTEST_SKIP() << "the address sanitizer replaces the heap";
#endif
    platform::SetUpHeap();
    const auto worker = [] {
        std::thread t([] {
            std::vector<char> buffer(qsizetype{2} << 20, 'x');
            std::vector<char> grown(qsizetype{3} << 20, 'y');  // as a buffer that grew
        });
        t.join();
    };
    worker();  // a first pass may set up what every later one reuses
    const qint64 before = platform::CurrentProcStats().residentBytes;
    for (int i = 0; i < 20; ++i) worker();
    EXPECT_LT(platform::CurrentProcStats().residentBytes - before, qint64{1} << 20);
}

}  // namespace
