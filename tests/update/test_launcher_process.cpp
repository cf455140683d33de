// Starting programs without a shell, and the file replacer's own rules:
// it waits for the old program to end and never loses the old file.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>

#include "platform/process.h"
#include "testsupport.h"
#include "update/waitproc.h"

using platform::RunProcessAndWait;
using platform::ShowState;
using platform::StartProcessDetached;

namespace {

const QString kReplacer = QStringLiteral(ORVEL_REPLACER_PATH);

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
};

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

    writeScript(f.at(QStringLiteral("slow")), "sleep 1; echo done > done.txt\n");
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(StartProcessDetached(f.at(QStringLiteral("slow")), {}, f.path, ShowState::Minimized).started);
    EXPECT_LT(t.elapsed(), 800);
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("done.txt"))));
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(f.at(QStringLiteral("done.txt"))); }, 10000));
}

// The replacer beside a program that still runs: a copy of sleep, which
// shows up under its own path in /proc.
TEST(FileReplacer, WaitsForTheProgramThenSwapsInOneStep) {
    Folder f;
    QFile::copy(kReplacer, f.at(QStringLiteral("sarvix.exe")));
    QFile::copy(QStringLiteral("/bin/sleep"), f.at(QStringLiteral("prog")));
    writeScript(f.at(QStringLiteral("New_prog")), "echo started > started.txt\n");

    EXPECT_TRUE(StartProcessDetached(f.at(QStringLiteral("prog")), {QStringLiteral("1.5")}, f.path,
                                     ShowState::Show).started);
    QThread::msleep(100);
    QElapsedTimer t;
    t.start();
    const platform::ProcessOutcome r = RunProcessAndWait(
        f.at(QStringLiteral("sarvix.exe")), {QStringLiteral("prog;New_prog")}, f.path, ShowState::Minimized);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GT(t.elapsed(), 1000) << "replaced while the old program still ran";
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("New_prog"))));
    EXPECT_TRUE(contentOf(f.at(QStringLiteral("prog"))).startsWith("#!/bin/sh"));
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

    // The old name is taken by a folder with content: the move fails, the
    // new build stays for another try and nothing is started.
    QDir().mkpath(f.at(QStringLiteral("dir/inner")));
    writeScript(f.at(QStringLiteral("New_dir")), "echo started > started.txt\n");
    EXPECT_EQ(RunProcessAndWait(replacer, {QStringLiteral("dir;New_dir")}, f.path, ShowState::Minimized).exitCode, 5);
    EXPECT_TRUE(QFileInfo(f.at(QStringLiteral("dir/inner"))).isDir());
    EXPECT_TRUE(QFile::exists(f.at(QStringLiteral("New_dir"))));
    QThread::msleep(200);
    EXPECT_FALSE(QFile::exists(f.at(QStringLiteral("started.txt"))));
}

}  // namespace
