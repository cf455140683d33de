#include "platform/process.h"

#include <mutex>

#include "platform/process_internal.h"

namespace platform {

namespace {

std::mutex g_hookMutex;
OpenFolderHook g_openFolderHook;

}  // namespace

void OpenFolderInFileManager(const QString& folder) {
    OpenFolderHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_openFolderHook;
    }
    if (hook) {
        hook(folder);
        return;
    }
    const detail::Command c = detail::FileManagerCommand(folder);
    StartProcessDetached(c.program, c.args, QString(), ShowState::Normal);
}

void SetOpenFolderHook(OpenFolderHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_openFolderHook = std::move(hook);
}

}  // namespace platform
