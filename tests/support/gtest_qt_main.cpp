// gtest main with a QApplication on the offscreen platform, so that tests
// can create real widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "gui/msgbox_qt.h"

namespace {

// A time limit per test case (ORVEL_TEST_CASE_SECONDS, off when unset). A
// fault that leaves a window waiting for a user would otherwise hold the
// test until CTest's limit, minutes later, and say nothing of where. When
// the limit passes, the case fails and every modal window is closed, so the
// code under test goes on and the other cases still run. A case stuck
// outside the event loop cannot be woken that way: a minute later the
// program ends with a line that names the case.
class CaseTimeLimit : public ::testing::EmptyTestEventListener {
public:
    explicit CaseTimeLimit(int seconds) : seconds_(seconds), guard_([this] { guard(); }) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { expire(); });
        closer_.setInterval(500);
        QObject::connect(&closer_, &QTimer::timeout, [] { closeModalWindows(); });
    }
    ~CaseTimeLimit() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        guard_.join();
    }

    void OnTestStart(const ::testing::TestInfo& info) override {
        timer_.start(seconds_ * 1000);
        std::lock_guard lock(mutex_);
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds_ + 60);
        armed_ = true;
        wake_.notify_all();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        timer_.stop();
        closer_.stop();
        std::lock_guard lock(mutex_);
        armed_ = false;
    }

private:
    void expire() {
        ADD_FAILURE() << "the case took longer than " << seconds_
                      << " s (ORVEL_TEST_CASE_SECONDS); its modal windows are closed";
        closeModalWindows();
        closer_.start();
    }
    static void closeModalWindows() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || !w->isModal()) continue;
            if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
            else w->close();
        }
    }
    void guard() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!armed_) {
                wake_.wait(lock);
                continue;
            }
            if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ && !quit_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                std::fprintf(stderr, "test program: %s is stuck outside the event loop; ending\n",
                             name_.c_str());
                std::fflush(stderr);
                std::_Exit(1);
            }
        }
    }

    int seconds_;
    QTimer timer_;
    QTimer closer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string name_;
    std::chrono::steady_clock::time_point deadline_{};
    bool armed_ = false;
    bool quit_ = false;
    std::thread guard_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef _WIN32
    // Offscreen, Qt reads font files from one folder instead of asking the
    // system: the system's own unless the test run names another.
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR"))
        qputenv("QT_QPA_FONTDIR", qgetenv("WINDIR") + "\\Fonts");
#endif
    QApplication app(argc, argv);
    gui::InstallQtMessageBoxes();
    ::testing::InitGoogleTest(&argc, argv);
    const int limit = qEnvironmentVariableIntValue("ORVEL_TEST_CASE_SECONDS");
    if (limit > 0) {
        // gtest owns listeners it is given and deletes them before main
        // returns, while the application still exists.
        ::testing::UnitTest::GetInstance()->listeners().Append(new CaseTimeLimit(limit));
    }
    return RUN_ALL_TESTS();
}
