#include "browser/offthread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <thread>

namespace browser {

void RunWorkOffUiThread(const std::function<void()>& work, const std::function<void()>& meanwhile) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        if (meanwhile) meanwhile();
        work();
        return;
    }
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            // Posted, so it also ends a loop that has not started yet.
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (...) {
        // No thread to be had: the window's part still happens, the work is
        // reported as failed.
        if (meanwhile) meanwhile();
        throw;
    }
    if (meanwhile) {
        try {
            meanwhile();
        } catch (...) {
            worker.join();  // the worker's work still refers to the caller's state
            throw;
        }
    }
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace browser
