#pragma once
// Shared test helpers: scripted message boxes, the intercepted program end,
// and where the servers of the test environment listen.
#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "core/msgbox.h"
#include "core/terminate.h"
#include "testendpoints.h"

namespace testsupport {

// Installs itself as the message-box handler for its lifetime. Every box is
// recorded; Yes/No boxes take their answer from the queue (No when empty,
// so a forgotten answer never deletes anything).
class ScriptedMsgBoxes {
public:
    ScriptedMsgBoxes();
    ~ScriptedMsgBoxes();
    void answer(core::MsgAnswer a) { answers_.push_back(a); }
    const std::vector<core::MsgBoxRecord>& shown() const { return shown_; }
    std::vector<QString> texts() const;
    void clear() { shown_.clear(); }
    // Called on every box before it returns (for tests that act while a box is up).
    std::function<void(const core::MsgBoxRecord&)> onShow;

private:
    std::vector<core::MsgBoxRecord> shown_;
    std::deque<core::MsgAnswer> answers_;
};

// Thrown by the intercepted EndProgramNow.
struct ProgramEnded {
    core::ExitCode code;
};

// Installs a hook that throws ProgramEnded for its lifetime.
class InterceptEnd {
public:
    InterceptEnd();
    ~InterceptEnd();
};

// The test environment (scripts/env) as QStrings; the values are those of
// testenv:: (testendpoints.h, generated from scripts/lib/endpoints.conf).
struct Env {
    static QString dbHost();
    static int dbPort();
    static int dbOldPort();        // server that reports a "5." version
    static QString dbSocket();     // local socket of the main server
    static QString generalLog();   // general query log of the main server
    static QString generalLogOld();
    static int closedPort();       // a port where nothing listens
};

// Runs one statement as the tests' administrative account of the server on
// `port` (0: the main one; any server of the environment), for fixtures. Returns the rows as lines, columns
// tab-separated, or throws.
std::vector<QString> RootSql(const QString& sql, int port = 0);

// The most memory this process has held so far, in KiB.
long PeakResidentKiB();

}  // namespace testsupport

#include <ostream>
// Readable QString values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
