// Starting programs without a shell, and the file replacer's own rules:
// it waits for the old program to end and never loses the old file.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <thread>

#include "core/errors.h"
#include "formats/versioninfo.h"
#include "platform/process.h"
#include "testsigning.h"
#include "testsupport.h"
#include "update/waitproc.h"

using platform::RunProcessAndWait;
using platform::ShowState;
using platform::StartProcessDetached;

namespace {

const QString kReplacer = QStringLiteral(ORVEL_REPLACER_PATH);
const QString kChecker = QStringLiteral(ORVEL_CHECKER_PATH);

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeScript(const QString& path, const QByteArray& body) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QThread::msleep(20);
    }
    return true;
}

struct Folder {
    QTemporaryDir base;
    QString path = base.path() + QStringLiteral("/a folder; with blanks");
    Folder() { QDir().mkpath(path); }
    QString at(const QString& name) const { return path + QLatin1Char('/') + name; }
    // "New_" + `name`: a script signed as the release of `name` at `revision`.
    void newBuild(const QString& name, const QByteArray& body, qint32 revision) const {
        writeScript(at(QStringLiteral("New_") + name), body);
        QFile sig(at(QStringLiteral("New_") + name + QStringLiteral(".minisig")));
        if (sig.open(QIODevice::WriteOnly))
            sig.write(testsign::SignRelease(contentOf(at(QStringLiteral("New_") + name)), name, revision));
    }
};

// The replacer run to its end; its exit code and what it wrote to stderr.
std::pair<int, QByteArray> runReplacer(const Folder& f, const QString& arg) {
    QProcess p;
    p.setWorkingDirectory(f.path);
    p.start(f.at(QStringLiteral("sarvix.exe")), {arg});
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardError()};
}

TEST(ProcessLayer, ArgumentsAndFolderArriveUnchanged) {
    Folder f;
    writeScript(f.at(QStringLiteral("echo args")),
                "pwd > out.txt; for a in \"$@\"; do echo \"[$a]\" >> out.txt; done; exit 3\n");

    const platform::ProcessOutcome r = RunProcessAndWait(
        f.at(QStringLiteral("echo args")), {QStringLiteral("7;orvel as"), QStringLiteral("$HOME *")}, f.path,
        ShowState::Show);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(contentOf(f.at(QStringLiteral("out.txt"))),
              (f.path + QStringLiteral("\n[7;orvel as]\n[$HOME *]\n")).toUtf8());

    // The one-parameter form passes its text as one argument.
    QFile::remove(f.at(QStringLiteral("out.txt")));
    modWaitProc::RunAndWait(f.at(QStringLiteral("echo args")), 0, QStringLiteral("1;a b.exe"), f.path, false, false);
    EXPECT_EQ(contentOf(f.at(QStringLiteral("out.txt"))), (f.path + QStringLiteral("\n[1;a b.exe]\n")).toUtf8());
}

TEST(ProcessLayer, FailedStartsAreReportedAndDetachedStartsReturnAtOnce) {
    Folder f;
    const platform::ProcessOutcome missing =
        RunProcessAndWait(f.at(QStringLiteral("nothing")), {}, f.path, ShowState::Show);
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_FALSE(StartProcessDetached(f.at(QStringLiteral("nothing")), {}, f.path, ShowState::Show).started);
    EXPECT_FALSE(RunProcessAndWait(QStringLiteral("/bin/true"), {}, f.at(QStringLiteral("no folder")), ShowState::Show)
                     .started);

    // The child finishes only when told to: the call must return before.
    // Were it to wait for the child, the child is told after 20 s anyway.
    writeScript(f.at(QStringLiteral("slow")), "while [ ! -e go ]; do sleep 0.05; done; echo done > done.txt\n");
    const QString go = f.at(QStringLiteral("go"));
    std::atomic<bool> returned{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 400 && !returned; ++i) QThread::msleep(50);
        QFile(go).open(QIODevice::WriteOnly);
    });
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(StartProcessDetached(f.at(QStringLiteral("slow")), {}, f.path, ShowState::Minimized).started);
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("done.txt"))));
    returned = true;
    watchdog.join();
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(f.at(QStringLiteral("done.txt"))); }, 10000));
}

// The replacer beside a program that still runs: a copy of sleep, which
// shows up under its own path in /proc.
TEST(FileReplacer, WaitsForTheProgramThenSwapsInOneStep) {
    Folder f;
    QFile::copy(kReplacer, f.at(QStringLiteral("sarvix.exe")));
    QFile::copy(QStringLiteral("/bin/sleep"), f.at(QStringLiteral("prog")));
    f.newBuild(QStringLiteral("prog"), "echo started > started.txt\n", 1);

    // Timed from before the program starts: a slow machine can only make
    // the wait look longer, never shorter.
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(StartProcessDetached(f.at(QStringLiteral("prog")), {QStringLiteral("1.5")}, f.path,
                                     ShowState::Show).started);
    QThread::msleep(100);
    const platform::ProcessOutcome r = RunProcessAndWait(
        f.at(QStringLiteral("sarvix.exe")), {QStringLiteral("prog;New_prog")}, f.path, ShowState::Minimized);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GE(t.elapsed(), 1500) << "replaced while the old program still ran";
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("New_prog"))));
    EXPECT_TRUE(contentOf(f.at(QStringLiteral("prog"))).startsWith("#!/bin/sh"));
    EXPECT_TRUE(QFile::exists(f.at(QStringLiteral("prog.minisig"))));
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(f.at(QStringLiteral("started.txt"))); }, 10000));
}

TEST(FileReplacer, BadArgumentsAndFailedMovesKeepTheOldProgram) {
    Folder f;
    QFile::copy(kReplacer, f.at(QStringLiteral("sarvix.exe")));
    const QString replacer = f.at(QStringLiteral("sarvix.exe"));
    writeScript(f.at(QStringLiteral("prog")), "echo old\n");
    const QByteArray old = contentOf(f.at(QStringLiteral("prog")));

    for (const QString& arg : {QString(), QStringLiteral("prog"), QStringLiteral("prog;prog"),
                               QStringLiteral("../prog;New_prog"), QStringLiteral(";New_prog")}) {
        EXPECT_EQ(RunProcessAndWait(replacer, {arg}, f.path, ShowState::Minimized).exitCode, 2) << arg.toStdString();
    }
    // Nothing to install.
    EXPECT_EQ(RunProcessAndWait(replacer, {QStringLiteral("prog;New_prog")}, f.path, ShowState::Minimized).exitCode, 3);
    EXPECT_EQ(contentOf(f.at(QStringLiteral("prog"))), old);

}

// A new build that is not the company's, or not newer than the installed
// program, is removed and the old program starts again unchanged.
TEST(FileReplacer, RefusesUnsignedAndOlderBuildsAndStartsTheOldProgram) {
    Folder f;
    QFile::copy(kReplacer, f.at(QStringLiteral("sarvix.exe")));
    writeScript(f.at(QStringLiteral("prog")), "echo old >> started.txt\n");
    const QByteArray old = contentOf(f.at(QStringLiteral("prog")));

    writeScript(f.at(QStringLiteral("New_prog")), "echo new >> started.txt\n");
    EXPECT_EQ(runReplacer(f, QStringLiteral("prog;New_prog")).first, 7);
    f.newBuild(QStringLiteral("prog"), "echo new >> started.txt\n", 1);
    QFile sig(f.at(QStringLiteral("New_prog.minisig")));
    ASSERT_TRUE(sig.open(QIODevice::Append));
    sig.write("trailing garbage\n");
    sig.close();
    EXPECT_EQ(runReplacer(f, QStringLiteral("prog;New_prog")).first, 7);
    EXPECT_EQ(contentOf(f.at(QStringLiteral("prog"))), old);
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("New_prog"))));
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("New_prog.minisig"))));
    EXPECT_TRUE(waitUntil([&] { return contentOf(f.at(QStringLiteral("started.txt"))) == "old\nold\n"; }, 10000));

    // The installed program carries its revision in its version block (the
    // built checker stands in): a build signed for that revision is no newer.
    QFile::copy(kChecker, f.at(QStringLiteral("stamped")));
    const QString v = GetFileVer(f.at(QStringLiteral("stamped")), true, true);
    const qint32 installed = v.mid(v.lastIndexOf(QLatin1Char('.')) + 1).toInt();
    ASSERT_GT(installed, 0);
    f.newBuild(QStringLiteral("stamped"), "echo new >> started.txt\n", installed);
    EXPECT_EQ(runReplacer(f, QStringLiteral("stamped;New_stamped")).first, 7);
    EXPECT_EQ(contentOf(f.at(QStringLiteral("stamped"))), contentOf(kChecker));
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("New_stamped"))));
}

// An old file that cannot be replaced (here: immutable, as a scanner or a
// reader holding it makes it on Windows): after its retries the replacer
// says so, removes the new build and starts the old program.
TEST(FileReplacer, AMoveThatKeepsFailingIsReportedAndTheOldProgramComesBack) {
    Folder f;
    QFile::copy(kReplacer, f.at(QStringLiteral("sarvix.exe")));
    writeScript(f.at(QStringLiteral("prog")), "echo old >> started.txt\n");
    f.newBuild(QStringLiteral("prog"), "echo new >> started.txt\n", 1);
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), f.at(QStringLiteral("prog"))}) != 0)
        GTEST_SKIP() << "this file system cannot make a file immutable";
    QElapsedTimer t;
    t.start();
    const auto [code, err] = runReplacer(f, QStringLiteral("prog;New_prog"));
    const qint64 took = t.elapsed();
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), f.at(QStringLiteral("prog"))});
    EXPECT_EQ(code, 5);
    EXPECT_GT(took, 3000) << "gave up without retrying";
    EXPECT_TRUE(err.contains(("message box [" + core::AppTitle() +
                              "]: 업데이트를 설치하지 못했습니다.\r\n기존 버전의 프로그램을 다시 시작합니다.")
                                 .toUtf8()))
        << err.toStdString();
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("New_prog"))));
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("New_prog.minisig"))));
    EXPECT_TRUE(waitUntil([&] { return contentOf(f.at(QStringLiteral("started.txt"))) == "old\n"; }, 10000));
}

}  // namespace
