// Starting programs with fork and exec.
#include "platform/process.h"
#include "platform/process_internal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <vector>

namespace platform {

namespace {

// Everything the child needs, prepared before fork: after it only
// async-signal-safe calls are allowed.
struct ExecPlan {
    QByteArray program;
    QByteArray directory;
    std::vector<QByteArray> argStore;
    std::vector<char*> argv;
    bool searchPath = false;
};

ExecPlan makePlan(const QString& program, const QStringList& args, const QString& directory) {
    ExecPlan p;
    // A path is fixed before the change of folder; a bare name is looked up
    // in PATH like a command.
    p.searchPath = !program.contains(QLatin1Char('/'));
    p.program = QFile::encodeName(p.searchPath ? program : QFileInfo(program).absoluteFilePath());
    p.directory = QFile::encodeName(directory);
    p.argStore.push_back(p.program);
    for (const QString& a : args) p.argStore.push_back(QFile::encodeName(a));
    for (QByteArray& a : p.argStore) p.argv.push_back(a.data());
    p.argv.push_back(nullptr);
    return p;
}

// In the child: our descriptors (lock files, sockets) must not leak into the
// other program, the folder is entered, signals are as a fresh program
// expects them. On failure the errno goes to `errFd` and the child ends.
[[noreturn]] void execChild(const ExecPlan& p, int errFd) {
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        const long max = ::sysconf(_SC_OPEN_MAX);
        for (int fd = 3; fd < (max > 0 && max < 65536 ? max : 65536); ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int err = 0;
    if (!p.directory.isEmpty() && ::chdir(p.directory.constData()) != 0) {
        err = errno;
    } else {
        if (p.searchPath)
            ::execvp(p.program.constData(), p.argv.data());
        else
            ::execv(p.program.constData(), p.argv.data());
        err = errno;
    }
    ssize_t ignored = ::write(errFd, &err, sizeof err);
    (void)ignored;
    ::_exit(127);
}

// Reads the errno a failed child reports; 0 when the pipe closed without
// one, that is, when exec succeeded.
int readStartError(int fd) {
    int err = 0;
    ssize_t n;
    do {
        n = ::read(fd, &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

pid_t waitFor(pid_t pid, int* status) {
    pid_t r;
    do {
        r = ::waitpid(pid, status, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace

ProcessOutcome RunProcessAndWait(const QString& program, const QStringList& args, const QString& directory,
                                 ShowState /*show*/, StartErrors /*errors*/) {
    ProcessOutcome out;
    const ExecPlan plan = makePlan(program, args, directory);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        out.error = errno;
        return out;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        out.error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return out;
    }
    if (pid == 0) execChild(plan, pipeFds[1]);
    ::close(pipeFds[1]);
    out.error = readStartError(pipeFds[0]);
    int status = 0;
    const pid_t r = waitFor(pid, &status);
    out.started = out.error == 0;
    if (out.started && r == pid) out.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

ProcessOutcome StartProcessDetached(const QString& program, const QStringList& args, const QString& directory,
                                    ShowState /*show*/, StartErrors /*errors*/) {
    ProcessOutcome out;
    const ExecPlan plan = makePlan(program, args, directory);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        out.error = errno;
        return out;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        out.error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return out;
    }
    if (pid == 0) {
        // The grandchild belongs to init once this child ends: nobody has to
        // reap it, and it outlives us.
        ::setsid();
        const pid_t grand = ::fork();
        if (grand < 0) {
            int err = errno;
            ssize_t ignored = ::write(pipeFds[1], &err, sizeof err);
            (void)ignored;
            ::_exit(127);
        }
        if (grand == 0) execChild(plan, pipeFds[1]);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    int status = 0;
    waitFor(pid, &status);
    out.error = readStartError(pipeFds[0]);
    out.started = out.error == 0;
    return out;
}

detail::Command detail::FileManagerCommand(const QString& folder) {
    return {QStringLiteral("xdg-open"), {folder}};
}

}  // namespace platform
