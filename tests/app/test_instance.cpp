// Real copies of the program on a virtual screen: a second copy says so and
// ends while the first goes on undisturbed; a screen reader finds the windows.
// The lock itself: only a live copy holds it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <cstdlib>

#include "core/errors.h"
#include "platform/singleinstance.h"

namespace {

QString run(const QStringList& args, const QProcessEnvironment& env, int ms = 5000) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(args.first(), args.mid(1));
    p.waitForFinished(ms);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Waits for a window whose name matches `pattern` (a regular expression).
QString waitWindow(const QString& pattern, const QProcessEnvironment& env, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        const QString ids = run({QStringLiteral("xdotool"), QStringLiteral("search"),
                                 QStringLiteral("--name"), pattern},
                                env);
        if (!ids.isEmpty()) return ids.split(QLatin1Char('\n')).last();
        QThread::msleep(100);
    }
    return {};
}

// Names of every window on the screen, for failure messages.
std::string windowNames(const QProcessEnvironment& env) {
    std::string out;
    const QString ids = run({QStringLiteral("xdotool"), QStringLiteral("search"), QStringLiteral("--name"),
                             QStringLiteral(".")},
                            env);
    for (const QString& id : ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out += "[" + run({QStringLiteral("xdotool"), QStringLiteral("getwindowname"), id}, env).toStdString() + "] ";
    return out;
}

// A virtual screen (Xvfb picks a free display itself and tells its number on
// stdout) and a copy of the program in a folder of its own: it finds no
// companion programs there, so whatever the build folder holds plays no part.
struct Screen {
    QTemporaryDir tmp;
    QProcess xvfb;
    QString prog;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    bool start() {
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                                            QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted()) return false;
        QByteArray num;
        for (int i = 0; i < 100 && !num.contains('\n'); ++i) {
            xvfb.waitForReadyRead(100);
            num += xvfb.readAllStandardOutput();
        }
        if (num.trimmed().isEmpty()) return false;
        prog = tmp.path() + QStringLiteral("/prog/orvel-as");
        QDir().mkpath(tmp.path() + QStringLiteral("/prog"));
        QDir().mkpath(tmp.path() + QStringLiteral("/config"));
        QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + QString::fromLatin1(num.trimmed()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());  // copies share this lock folder
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.path() + QStringLiteral("/config"));
        return QFile::copy(QStringLiteral(ORVEL_BIN), prog);
    }
    ~Screen() {
        xvfb.kill();
        xvfb.waitForFinished();
    }
};

TEST(SingleInstance, SecondCopyIsRefusedFirstGoesOn) {
    Screen screen;
    ASSERT_TRUE(screen.start()) << "no virtual screen";
    const QString& prog = screen.prog;
    const QProcessEnvironment& env = screen.env;

    // The first copy reaches the login window (this machine's adapter is
    // registered by the test environment) and waits there.
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(prog, {});
    ASSERT_TRUE(first.waitForStarted());
    const QString loginWin = waitWindow(QStringLiteral("^로그인$"), env, 120);
    if (loginWin.isEmpty()) first.waitForReadyRead(500);
    ASSERT_FALSE(loginWin.isEmpty()) << "first copy never showed its login window: state " << first.state()
                                     << " exit " << first.exitCode() << " "
                                     << first.readAllStandardError().toStdString() << " windows: "
                                     << windowNames(env);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(prog, {});
    ASSERT_TRUE(second.waitForStarted());
    const QString box = waitWindow(QLatin1Char('^') + QRegularExpression::escape(core::AppTitle()) +
                                       QLatin1Char('$'),
                                   env, 120);
    ASSERT_FALSE(box.isEmpty()) << "second copy showed no message";
    // The box may not take keys the moment it is mapped: press until it goes.
    for (int i = 0; i < 60 && second.state() != QProcess::NotRunning; ++i) {
        run({QStringLiteral("xdotool"), QStringLiteral("key"), QStringLiteral("--window"), box,
             QStringLiteral("Return")},
            env);
        second.waitForFinished(250);
    }
    ASSERT_EQ(second.state(), QProcess::NotRunning);
    EXPECT_EQ(second.exitCode(), 10);

    // The first copy still runs and still shows its login window.
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_FALSE(waitWindow(QStringLiteral("^로그인$"), env, 2).isEmpty());
    first.kill();
    first.waitForFinished();

    // A lock left by a killed copy does not block the next start.
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(prog, {});
    EXPECT_FALSE(waitWindow(QStringLiteral("^로그인$"), env, 120).isEmpty())
        << "third copy: state " << third.state() << " exit " << third.exitCode() << " "
        << third.readAllStandardError().toStdString() << " windows: " << windowNames(env);
    third.kill();
    third.waitForFinished();
}

// The lock alone, in copies of this test program sharing one runtime
// folder. A child prints what PrevInstance says (1: another copy runs) and
// the lock's path, then, told to hold, keeps its lock until its input ends.
TEST(SingleInstance, LockHeedsOnlyALiveCopy) {
    const QByteArray child = qgetenv("ORVEL_INSTANCE_CHILD");
    if (!child.isEmpty()) {
        std::printf("%d %s\n", platform::PrevInstance() ? 1 : 0, qPrintable(platform::InstanceLockPath()));
        std::fflush(stdout);
        if (child == "hold")
            while (std::getchar() != EOF) {
            }
        std::_Exit(0);
    }
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto start = [&](QProcess& p, const char* mode) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("ORVEL_INSTANCE_CHILD"), QString::fromLatin1(mode));
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=SingleInstance.LockHeedsOnlyALiveCopy")});
        p.waitForStarted();
    };
    auto answer = [](QProcess& p) {  // past the test framework's own lines
        static const QRegularExpression line(QStringLiteral("^[01] /"));
        while (p.canReadLine() || p.waitForReadyRead(20000)) {
            const QString l = QString::fromUtf8(p.readLine()).trimmed();
            if (line.match(l).hasMatch()) return l.split(QLatin1Char(' '));
        }
        return QStringList();
    };
    auto alone = [&] {
        QProcess p;
        start(p, "once");
        const QStringList a = answer(p);
        p.waitForFinished();
        return a;
    };

    const QString lock = alone().value(1);
    ASSERT_TRUE(lock.startsWith(runtime.path())) << lock.toStdString();

    // Whatever a copy that ended left in the file does not block the next.
    for (const QByteArray& left : {QByteArray(), QByteArray("garbage\n"),
                                   QByteArray("99999999\ntest_instance\nanother-host\n")}) {
        QFile f(lock);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(left);
        f.close();
        EXPECT_EQ(alone().value(0), "0") << left.toStdString();
    }

    // A lock that cannot be made (a folder in its place, or a link, which
    // is not followed) lets the copy run rather than refuse it for ever.
    ASSERT_TRUE(QFile::remove(lock));
    ASSERT_TRUE(QDir().mkdir(lock));
    EXPECT_EQ(alone().value(0), "0");
    ASSERT_TRUE(QDir().rmdir(lock));
    const QString target = runtime.path() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QFile::link(target, lock));
    EXPECT_EQ(alone().value(0), "0");
    EXPECT_FALSE(QFileInfo::exists(target));
    ASSERT_TRUE(QFile::remove(lock));

    // A live copy blocks the next; once it ends, the next runs.
    QProcess first, second;
    start(first, "hold");
    EXPECT_EQ(answer(first).value(0), "0");
    start(second, "once");
    EXPECT_EQ(answer(second).value(0), "1");
    second.waitForFinished();
    first.closeWriteChannel();
    EXPECT_TRUE(first.waitForFinished());
    EXPECT_EQ(alone().value(0), "0");
}

// A screen reader finds every window by its title and as a window: the
// probe signs in and closes the main window through the accessibility bus.
TEST(Accessibility, WindowsAreFoundByTitle) {
    Screen screen;
    ASSERT_TRUE(screen.start()) << "no virtual screen";
    screen.env.insert(QStringLiteral("QT_ACCESSIBILITY"), QStringLiteral("1"));
    screen.env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    QProcess probe;
    probe.setProcessEnvironment(screen.env);
    // The distribution's Python: the accessibility client is its package.
    probe.start(QStringLiteral("dbus-run-session"),
                {QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                 QStringLiteral(ORVEL_A11Y_PROBE), screen.prog,
                 QStringLiteral("demo1234")});
    ASSERT_TRUE(probe.waitForFinished(180000));
    // The bus's own services print on the same stdout.
    QStringList seen;
    for (const QString& l : QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (l.startsWith(QLatin1String("window ")) || l.startsWith(QLatin1String("exit "))) seen << l;
    EXPECT_EQ(seen.join(QLatin1Char('|')).toStdString(), "window dialog 로그인|window frame 데이터 리스트|exit 0")
        << probe.readAllStandardError().toStdString();
}

}  // namespace
