// Two real copies of the program on one virtual screen: the second one says
// so and ends, the first one goes on undisturbed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QThread>

#include "platform/errors.h"

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

TEST(SingleInstance, SecondCopyIsRefusedFirstGoesOn) {
    QTemporaryDir tmp;
    // Xvfb picks a free display itself and tells its number on stdout.
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                        QStringLiteral("tcp")});
    ASSERT_TRUE(xvfb.waitForStarted());
    QByteArray num;
    for (int i = 0; i < 100 && !num.contains('\n'); ++i) {
        xvfb.waitForReadyRead(100);
        num += xvfb.readAllStandardOutput();
    }
    ASSERT_FALSE(num.trimmed().isEmpty()) << "no virtual screen";
    const QString display = QStringLiteral(":") + QString::fromLatin1(num.trimmed());

    // A copy of the program in a folder of its own: it finds no companion
    // programs there, so whatever the build folder holds plays no part.
    const QString prog = tmp.path() + QStringLiteral("/prog/orvel-as");
    QDir().mkpath(tmp.path() + QStringLiteral("/prog"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(ORVEL_BIN), prog));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());  // both copies share this lock folder
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.path() + QStringLiteral("/config"));
    QDir().mkpath(tmp.path() + QStringLiteral("/config"));
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

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
    const QString box = waitWindow(QLatin1Char('^') + QRegularExpression::escape(platform::AppTitle()) +
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
    xvfb.kill();
    xvfb.waitForFinished();
}

}  // namespace
