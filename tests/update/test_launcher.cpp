// The update launcher end to end: the real version checker and file
// replacer, a stand-in program in a program folder of the test's own, and
// the update server of the test environment.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <QThread>
#include <map>
#include <optional>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "core/errors.h"
#include "platform/process.h"
#include "testsupport.h"
#include "update/launcher.h"
#include "formats/versioninfo.h"

using platform::ExitCode;
using platform::MsgIcon;
using testsupport::InterceptEnd;
using testsupport::ProgramEnded;
using testsupport::ScriptedMsgBoxes;
namespace L = modAutoUpdateV1_Launcher;

namespace {

const QString kUpdateDir = QString::fromUtf8(testenv::http::kUpdateDir);
const QString kHttpLog = QString::fromUtf8(testenv::http::kLog);
const QString kChecker = QStringLiteral(ORVEL_CHECKER_PATH);
const QString kReplacer = QStringLiteral(ORVEL_REPLACER_PATH);

const bool kProxiesOff = [] {
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "HTTPS_PROXY", "ALL_PROXY"}) qunsetenv(name);
    return true;
}();

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content, bool executable = false) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(content);
    f.close();
    if (executable) f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

void copyFile(const QString& from, const QString& to) { writeFile(to, contentOf(from), true); }

int checkerRevision() {
    const QString v = GetFileVer(kChecker, true, true);
    return v.mid(v.lastIndexOf(QLatin1Char('.')) + 1).toInt();
}

// How often the update server was asked for `name` so far.
int requestsFor(const QString& name) {
    const QByteArray log = contentOf(kHttpLog);
    const QByteArray needle = "/" + QUrl::toPercentEncoding(name) + " HTTP/";
    int n = 0;
    for (qsizetype at = log.indexOf(needle); at >= 0; at = log.indexOf(needle, at + 1)) ++n;
    return n;
}

// A program that notes each start in started.log beside itself.
QByteArray standIn(const char* tag) {
#ifdef _WIN32
    // The built stand-in with `tag` in its slot: only a real program starts there.
    static const QByteArray built = contentOf(QStringLiteral(ORVEL_STANDIN_PATH));
    QByteArray exe = built;
    const qsizetype slot = exe.indexOf(QByteArray("<<standin-tag>>\0", 16));
    const QByteArray padded = QByteArray(tag).leftJustified(16, '\0', true);
    if (slot >= 0) exe.replace(slot + 16, 16, padded);
    return slot >= 0 && qstrlen(tag) < 16 ? exe : QByteArray("<no tag slot>");
#else
    return QByteArray("#!/bin/sh\necho ") + tag + " >> \"$(dirname \"$0\")/started.log\"\n";
#endif
}

// What a program file is called: Windows starts only a name with its suffix.
#ifdef _WIN32
const QString kProgramSuffix = QStringLiteral(".exe");
#else
const QString kProgramSuffix;
#endif

// Files of the update server that a test replaces; all put back as they were.
class ServerFiles {
public:
    ~ServerFiles() {
        for (const auto& [name, old] : saved_) {
            QFile::remove(kUpdateDir + name);
            if (old) writeFile(kUpdateDir + name, *old, true);
        }
    }
    void put(const QString& name, const QByteArray& content) {
        keep(name);
        writeFile(kUpdateDir + name, content, true);
    }
    void remove(const QString& name) {
        keep(name);
        QFile::remove(kUpdateDir + name);
    }

private:
    void keep(const QString& name) {
        if (saved_.count(name)) return;
        const QString path = kUpdateDir + name;
        saved_[name] = QFile::exists(path) ? std::optional<QByteArray>(contentOf(path)) : std::nullopt;
    }
    std::map<QString, std::optional<QByteArray>> saved_;
};

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(base_.isValid());
        folder_ = base_.path() + QStringLiteral("/프로그램 폴더");
        ASSERT_TRUE(QDir().mkpath(folder_));
        stem_ = QStringLiteral("standin-%1").arg(QCoreApplication::applicationPid());
        own_ = stem_ + kProgramSuffix;
        writeFile(at(own_), standIn("old"), true);
        ASSERT_GT(checkerRev_, 0) << "the built checker carries no revision";
    }

    QString at(const QString& name) const { return folder_ + QLatin1Char('/') + name; }
    QString lastver() const { return stem_ + QStringLiteral("_lastver.txt"); }
    void withCompanions() {
        copyFile(kChecker, at(QStringLiteral("Quendrel.exe")));
        copyFile(kReplacer, at(QStringLiteral("sarvix.exe")));
    }
    // Runs the launcher for the stand-in at `revision`; the exit code when it
    // ended the program.
    std::optional<ExitCode> run(bool skip = false, int revision = 7) {
        const bool before = skip;
        try {
            L::RunAutoUpdate(skip, folder_, own_, revision);
        } catch (const ProgramEnded& e) {
            return e.code;
        }
        EXPECT_EQ(skip, before);
        return std::nullopt;
    }

    QTemporaryDir base_;
    QString folder_;
    QString stem_;
    QString own_;
    const int checkerRev_ = checkerRevision();
    ServerFiles server_;
    ScriptedMsgBoxes boxes_;
    InterceptEnd end_;
};

// Whatever the server's version text, nothing is downloaded while the
// checker counts as current; only an unreadable text keeps the checker from
// running.
TEST_F(LauncherTest, ServerVersionTextDecidesWhetherTheCurrentCheckerRuns) {
    withCompanions();
    const QByteArray localChecker = contentOf(at(QStringLiteral("Quendrel.exe")));
    // A decoy that must never be fetched while the checker counts as current.
    server_.put(QStringLiteral("Quendrel.exe"), "#!/bin/sh\nexit 9\n");
    server_.put(lastver(), "7\r\n");

    const QString overflow = QStringLiteral("Error 6 (Overflow) in procedure AutoUpdaterSelfUpdate of Module modAutoUpdateV1_Launcher");
    const QString unreadable = QStringLiteral("Quendrel.exe의 최신버전 정보를 읽어올 수 없습니다!");
    struct Case {
        const char* what;
        std::optional<QByteArray> text;  // none: the version file is missing (404 page)
        QString box;                     // the one message expected, if any
        bool checkerRuns;
    };
    const std::vector<Case> cases = {
        {"same revision", QByteArray::number(checkerRev_) + "\r\n", {}, true},
        {"lower revision behind blanks", "  " + QByteArray::number(checkerRev_ - 1), {}, true},
        {"only a line break", QByteArray("\r\n"), {}, true},
        {"beyond 32 bits", QByteArray("99999999999\r\n"), overflow, true},
        {"error page", std::nullopt, {}, true},
        {"empty", QByteArray(), unreadable, false},
        {"only blanks", QByteArray("     "), unreadable, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.text)
            server_.put(QStringLiteral("Quendrel_lastver.txt"), *c.text);
        else
            server_.remove(QStringLiteral("Quendrel_lastver.txt"));
        boxes_.clear();
        const int checks = requestsFor(lastver());
        EXPECT_EQ(run(), std::nullopt);
        EXPECT_EQ(boxes_.texts(), c.box.isEmpty() ? std::vector<QString>{} : std::vector<QString>{c.box});
        if (!boxes_.shown().empty()) {
            EXPECT_EQ(boxes_.shown()[0].icon, c.box == unreadable ? MsgIcon::Critical : MsgIcon::None);
            EXPECT_EQ(boxes_.shown()[0].title, platform::AppTitle());
        }
        EXPECT_EQ(requestsFor(lastver()), checks + (c.checkerRuns ? 1 : 0));
        EXPECT_EQ(contentOf(at(QStringLiteral("Quendrel.exe"))), localChecker);
        EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_)));
    }
}

TEST_F(LauncherTest, NewerCheckerBringsBothCompanionsOrNeither) {
    // No companions yet: local revision 0.
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(checkerRev_) + "\r\n");
    server_.put(QStringLiteral("Quendrel.exe"), contentOf(kChecker));
    server_.put(QStringLiteral("sarvix.exe"), contentOf(kReplacer));
    server_.put(lastver(), "7\r\n");

    const int checks = requestsFor(lastver());
    EXPECT_EQ(run(), std::nullopt);
    EXPECT_TRUE(boxes_.texts().empty());
    for (const auto& [name, built] : {std::pair{QStringLiteral("Quendrel.exe"), kChecker},
                                      std::pair{QStringLiteral("sarvix.exe"), kReplacer}}) {
        EXPECT_EQ(contentOf(at(name)), contentOf(built)) << name.toStdString();
        EXPECT_TRUE(QFileInfo(at(name)).isExecutable()) << name.toStdString();
    }
    EXPECT_EQ(requestsFor(lastver()), checks + 1) << "the fresh checker did not run";

    // A failed checker download: false, the replacer untouched, no checker run.
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(checkerRev_ + 1));
    server_.remove(QStringLiteral("Quendrel.exe"));
    writeFile(at(QStringLiteral("sarvix.exe")), "old replacer", true);
    EXPECT_FALSE(L::AutoUpdaterSelfUpdate(folder_));
    EXPECT_EQ(run(), std::nullopt);
    EXPECT_EQ(requestsFor(lastver()), checks + 1);
    EXPECT_EQ(contentOf(at(QStringLiteral("sarvix.exe"))), QByteArray("old replacer"));
    EXPECT_EQ(contentOf(at(QStringLiteral("Quendrel.exe"))), contentOf(kChecker));
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(LauncherTest, NewBuildIsInstalledByTheReplacerAndStartedOnce) {
    withCompanions();
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(checkerRev_) + "\r\n");
    server_.put(lastver(), "8\r\n");
    server_.put(own_, standIn("new"));

    EXPECT_EQ(run(false, 7), ExitCode::UpdateHandover);
    EXPECT_TRUE(boxes_.texts().empty());

    // The replacer works on its own after we "ended".
    QElapsedTimer t;
    t.start();
    while (contentOf(at(QStringLiteral("started.log"))) != "new\n" && t.elapsed() < 60000) QThread::msleep(50);
    EXPECT_EQ(contentOf(at(QStringLiteral("started.log"))), QByteArray("new\n"));
    EXPECT_EQ(contentOf(at(own_)), standIn("new"));
    EXPECT_TRUE(QFileInfo(at(own_)).isExecutable());
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_)));

    // The new build, at revision 8, finds nothing to do.
    EXPECT_EQ(run(false, 8), std::nullopt);
    EXPECT_TRUE(boxes_.texts().empty());
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_)));
    QThread::msleep(300);
    EXPECT_EQ(contentOf(at(QStringLiteral("started.log"))), QByteArray("new\n"));
}

TEST_F(LauncherTest, MissingReplacerShowsTheFolderAndEnds) {
    copyFile(kChecker, at(QStringLiteral("Quendrel.exe")));
    server_.put(lastver(), "8");
    server_.put(own_, standIn("new"));
    QStringList opened;
    platform::setOpenFolderHook([&](const QString& f) { opened << f; });

    EXPECT_EQ(run(true, 7), ExitCode::ReplacerMissing);
    platform::setOpenFolderHook({});
    EXPECT_EQ(boxes_.texts(), std::vector<QString>{QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n") +
                                                   at(QStringLiteral("sarvix.exe"))});
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].icon, MsgIcon::None);
    EXPECT_EQ(opened, QStringList{folder_});
    EXPECT_EQ(contentOf(at(own_)), standIn("old"));
}

TEST_F(LauncherTest, SkipLeavesTheServerAloneAndAMissingProgramStartsNothing) {
    withCompanions();
    const QByteArray localChecker = contentOf(at(QStringLiteral("Quendrel.exe")));
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(checkerRev_ + 5));
    server_.put(QStringLiteral("Quendrel.exe"), "#!/bin/sh\nexit 9\n");
    server_.put(lastver(), "7");

    const int versionReads = requestsFor(QStringLiteral("Quendrel_lastver.txt"));
    const int checks = requestsFor(lastver());
    EXPECT_EQ(run(true), std::nullopt);
    EXPECT_EQ(requestsFor(QStringLiteral("Quendrel_lastver.txt")), versionReads);
    EXPECT_EQ(requestsFor(lastver()), checks + 1);
    EXPECT_EQ(contentOf(at(QStringLiteral("Quendrel.exe"))), localChecker);

    // Without the program's own file, or with a hidden one, the checker is
    // not started.
    QFile::remove(at(own_));
    EXPECT_EQ(run(true), std::nullopt);
    writeFile(at(QStringLiteral(".") + own_), standIn("old"), true);
    EXPECT_EQ(L::FindNormalFile(folder_, QStringLiteral(".") + own_), QString());
    EXPECT_EQ(L::FindNormalFile(base_.path(), QStringLiteral("프로그램 폴더")), QString());
    EXPECT_EQ(L::FindNormalFile(folder_, QStringLiteral("*") + kProgramSuffix), QString());
#ifdef _WIN32
    // Windows hides a file by its attributes; its search ignores case and
    // yields the name as stored.
    writeFile(at(own_), standIn("old"), true);
    const std::wstring native = QDir::toNativeSeparators(at(own_)).toStdWString();
    for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        ASSERT_TRUE(::SetFileAttributesW(native.c_str(), attribute));
        EXPECT_EQ(run(true), std::nullopt);
    }
    ::SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(L::FindNormalFile(folder_, own_.toUpper()), own_);
#endif
    EXPECT_EQ(requestsFor(lastver()), checks + 1);
    EXPECT_TRUE(boxes_.texts().empty());
}

}  // namespace
