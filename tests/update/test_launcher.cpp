// The update launcher end to end: the real version checker and file
// replacer, a stand-in program in a program folder of the test's own, and
// the update server of the test environment.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QThread>
#include <functional>
#include <map>
#include <optional>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "core/errors.h"
#include "platform/process.h"
#include "testsigning.h"
#include "testsupport.h"
#include "update/launcher.h"
#include "formats/versioninfo.h"

using core::ExitCode;
using core::MsgIcon;
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
    // `content` under `name`, signed as a release of `signedName` at `revision`.
    void publish(const QString& name, const QByteArray& content, qint32 revision, const QString& signedName = {},
                 const QString& key = QStringLiteral("test")) {
        put(name, content);
        put(name + QStringLiteral(".minisig"),
            testsign::SignRelease(content, signedName.isEmpty() ? name : signedName, revision,
                                  testsign::LoadKey(key)));
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
    // A file in the program folder with the signature of `signedName` at
    // `revision` beside it.
    void placeSigned(const QString& name, const QByteArray& content, qint32 revision, const QString& signedName = {}) {
        writeFile(at(name), content, true);
        writeFile(at(name + QStringLiteral(".minisig")),
                  testsign::SignRelease(content, signedName.isEmpty() ? name : signedName, revision));
    }
    void withCompanions() {
        placeSigned(QStringLiteral("Quendrel.exe"), contentOf(kChecker), checkerRev_);
        placeSigned(QStringLiteral("sarvix.exe"), contentOf(kReplacer), checkerRev_);
    }
    // The files of the program folder but the log (on Windows the companions
    // write it there).
    QStringList entries() const {
        QStringList files = QDir(folder_).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        files.removeAll(QStringLiteral("orvel-as.log"));
        return files;
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
            EXPECT_EQ(boxes_.shown()[0].title, core::AppTitle());
        }
        EXPECT_EQ(requestsFor(lastver()), checks + (c.checkerRuns ? 1 : 0));
        EXPECT_EQ(contentOf(at(QStringLiteral("Quendrel.exe"))), localChecker);
        EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_)));
    }
}

TEST_F(LauncherTest, NewerCheckerBringsBothCompanionsOrNeither) {
    // No companions yet: local revision 0.
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(checkerRev_) + "\r\n");
    server_.publish(QStringLiteral("Quendrel.exe"), contentOf(kChecker), checkerRev_);
    server_.publish(QStringLiteral("sarvix.exe"), contentOf(kReplacer), checkerRev_);
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
    placeSigned(QStringLiteral("sarvix.exe"), "old replacer", checkerRev_);
    EXPECT_FALSE(L::AutoUpdaterSelfUpdate(folder_));
    EXPECT_EQ(run(), std::nullopt);
    EXPECT_EQ(requestsFor(lastver()), checks + 1);
    EXPECT_EQ(contentOf(at(QStringLiteral("sarvix.exe"))), QByteArray("old replacer"));
    EXPECT_EQ(contentOf(at(QStringLiteral("Quendrel.exe"))), contentOf(kChecker));
    EXPECT_TRUE(boxes_.texts().empty());

    // A folder holds the checker's signature name, so no signature can be
    // stored: refused before the old checker was touched, and nothing runs.
    server_.publish(QStringLiteral("Quendrel.exe"), standIn("fresh"), checkerRev_ + 1);
    QFile::remove(at(QStringLiteral("Quendrel.exe.minisig")));
    ASSERT_TRUE(QDir().mkpath(at(QStringLiteral("Quendrel.exe.minisig"))));
    EXPECT_FALSE(L::AutoUpdaterSelfUpdate(folder_));
    EXPECT_EQ(contentOf(at(QStringLiteral("Quendrel.exe"))), contentOf(kChecker));
    EXPECT_EQ(run(), std::nullopt);
    EXPECT_EQ(requestsFor(lastver()), checks + 1);
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("started.log"))));
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(LauncherTest, NewBuildIsInstalledByTheReplacerAndStartedOnce) {
    withCompanions();
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(checkerRev_) + "\r\n");
    server_.put(lastver(), "8\r\n");
    server_.publish(own_, standIn("new"), 8);

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
    // Its signature came along and vouches for the installed file.
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("Quendrel.exe"), QStringLiteral("Quendrel.exe.minisig"),
                                      QStringLiteral("sarvix.exe"), QStringLiteral("sarvix.exe.minisig"), own_,
                                      own_ + QStringLiteral(".minisig"), QStringLiteral("started.log")}));

    // The new build, at revision 8, finds nothing to do.
    EXPECT_EQ(run(false, 8), std::nullopt);
    EXPECT_TRUE(boxes_.texts().empty());
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_)));
    QThread::msleep(300);
    EXPECT_EQ(contentOf(at(QStringLiteral("started.log"))), QByteArray("new\n"));
}

// Whatever the server offers in the checker's place, only the company's
// signature of that very file at the announced revision is taken; anything
// else is a failed download: no message, no checker run, start-up goes on.
TEST_F(LauncherTest, OnlyCompanionsSignedForTheAnnouncedRevisionAreTaken) {
    const int announced = checkerRev_ + 1;
    const QByteArray checker = contentOf(kChecker), replacer = contentOf(kReplacer);
    QByteArray changed = checker;
    changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 0x20);
    const QString name = QStringLiteral("Quendrel.exe"), sig = QStringLiteral("Quendrel.exe.minisig");
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(announced) + "\r\n");
    server_.put(lastver(), "7\r\n");

    struct Case {
        const char* what;
        std::function<void()> serve;
        bool checkerKept;  // the checker itself passed, the replacer did not
    };
    const std::vector<Case> cases = {
        {"unsigned", [&] { server_.put(name, checker); server_.remove(sig); }, false},
        {"signed by another key",
         [&] { server_.publish(name, checker, announced, {}, QStringLiteral("other")); }, false},
        {"bytes changed after signing",
         [&] { server_.publish(name, checker, announced); server_.put(name, changed); }, false},
        {"the replacer with its own valid signature",
         [&] { server_.publish(name, replacer, announced, QStringLiteral("sarvix.exe")); }, false},
        {"an older revision than announced", [&] { server_.publish(name, checker, checkerRev_); }, false},
        {"a garbage signature",
         [&] { server_.put(name, checker); server_.put(sig, "untrusted comment: x\nRWQ=\n\x01\x02\n"); }, false},
        {"the replacer's signature missing",
         [&] {
             server_.publish(name, checker, announced);
             server_.remove(QStringLiteral("sarvix.exe.minisig"));
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server_.publish(QStringLiteral("sarvix.exe"), replacer, announced);
        c.serve();
        for (const QString& f : entries())
            if (f != own_) QFile::remove(at(f));
        const int checks = requestsFor(lastver());
        EXPECT_EQ(run(), std::nullopt);
        EXPECT_TRUE(boxes_.texts().empty());
        EXPECT_EQ(requestsFor(lastver()), checks) << "a checker ran";
        if (c.checkerKept)
            EXPECT_EQ(entries(), (QStringList{name, sig, own_}));
        else
            EXPECT_EQ(entries(), QStringList{own_});
    }
}

// The update server stalls in the middle of a companion (its headers and
// half the body, then silence): the download gives up at the stall limit
// without a word, nothing half-written is left, and the checker is not run.
// A stall in the checker leaves both companions as they were; one in the
// replacer, after the checker arrived whole, leaves the old replacer. The
// next start, with a server that answers, brings the whole new release.
TEST_F(LauncherTest, ACompanionDownloadThatStallsLeavesTheOldCompanions) {
    withCompanions();
    const int announced = checkerRev_ + 1;
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(announced) + "\r\n");
    server_.publish(QStringLiteral("Quendrel.exe"), contentOf(kChecker), announced);
    server_.publish(QStringLiteral("sarvix.exe"), contentOf(kReplacer), announced);
    std::map<QString, QByteArray> before;
    for (const QString& f : entries()) before[f] = contentOf(at(f));

    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(L::AutoUpdaterSelfUpdate(folder_, QString::fromUtf8(testenv::midstep::kHttpStallUpdateUrl)));
    EXPECT_LT(took.elapsed(), 20000 + 15000);  // the stall limit, and room for a slow machine
    EXPECT_TRUE(boxes_.texts().empty());
    std::map<QString, QByteArray> after;
    for (const QString& f : entries()) after[f] = contentOf(at(f));
    EXPECT_TRUE(after == before) << entries().join(QLatin1Char(' ')).toStdString();

    const QString newChecker = kUpdateDir + QStringLiteral("Quendrel.exe.minisig");
    EXPECT_FALSE(L::AutoUpdaterSelfUpdate(folder_, QString::fromUtf8(testenv::midstep::kHttpStallReplacerUpdateUrl)));
    EXPECT_TRUE(boxes_.texts().empty());
    std::map<QString, QByteArray> expected = before;
    expected[QStringLiteral("Quendrel.exe.minisig")] = contentOf(newChecker);
    after.clear();
    for (const QString& f : entries()) after[f] = contentOf(at(f));
    EXPECT_TRUE(after == expected) << entries().join(QLatin1Char(' ')).toStdString();

    EXPECT_TRUE(L::AutoUpdaterSelfUpdate(folder_));
    EXPECT_EQ(contentOf(at(QStringLiteral("Quendrel.exe.minisig"))),
              contentOf(kUpdateDir + QStringLiteral("Quendrel.exe.minisig")));
    EXPECT_EQ(contentOf(at(QStringLiteral("sarvix.exe.minisig"))),
              contentOf(kUpdateDir + QStringLiteral("sarvix.exe.minisig")));
}

// The checker fetches the program's new build only when it is signed for
// the program's own name and the announced revision, never a lower one.
TEST_F(LauncherTest, TheCheckerTakesOnlyASignedNewerBuildOfTheProgram) {
    withCompanions();
    server_.put(QStringLiteral("Quendrel_lastver.txt"), QByteArray::number(checkerRev_) + "\r\n");
    server_.put(lastver(), "8\r\n");
    const QByteArray build = standIn("new");
    const QString sig = own_ + QStringLiteral(".minisig");
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"unsigned", [&] { server_.put(own_, build); server_.remove(sig); }},
        {"signed by another key", [&] { server_.publish(own_, build, 8, {}, QStringLiteral("other")); }},
        {"signed as an older build", [&] { server_.publish(own_, build, 7); }},
        {"signed for another file", [&] { server_.publish(own_, build, 8, QStringLiteral("Quendrel.exe")); }},
        {"a garbage signature", [&] { server_.put(own_, build); server_.put(sig, QByteArray(300, '\xee')); }},
    };
    for (const auto& [what, serve] : cases) {
        SCOPED_TRACE(what);
        serve();
        EXPECT_EQ(run(false, 7), std::nullopt);
        EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_)));
        EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + sig)));
    }
    // A lower revision on the server is not even fetched.
    server_.put(lastver(), "6\r\n");
    server_.publish(own_, build, 6);
    const int fetched = requestsFor(own_);
    EXPECT_EQ(run(false, 7), std::nullopt);
    EXPECT_EQ(requestsFor(own_), fetched);
    EXPECT_TRUE(boxes_.texts().empty());
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("started.log"))));
}

// Files planted or changed in the program folder do not run: a checker
// without the company's signature is not started, a new build without it
// (or not newer than the running one) is removed and nothing is handed over.
TEST_F(LauncherTest, PlantedFilesInTheProgramFolderDoNotRun) {
    const QString checker = QStringLiteral("Quendrel.exe");
    const QByteArray planted = standIn("planted");
    server_.put(lastver(), "7\r\n");
    const std::vector<std::pair<const char*, std::function<void()>>> checkers = {
        {"no signature", [&] { writeFile(at(checker), planted, true); QFile::remove(at(checker + ".minisig")); }},
        {"the replacer's signature", [&] { placeSigned(checker, planted, checkerRev_, QStringLiteral("sarvix.exe")); }},
        {"changed after signing",
         [&] {
             placeSigned(checker, contentOf(kChecker), checkerRev_);
             writeFile(at(checker), planted, true);
         }},
    };
    for (const auto& [what, plant] : checkers) {
        SCOPED_TRACE(what);
        plant();
        const int checks = requestsFor(lastver());
        EXPECT_EQ(run(true), std::nullopt);
        EXPECT_EQ(requestsFor(lastver()), checks);
        EXPECT_FALSE(QFile::exists(at(QStringLiteral("started.log"))));
    }

    withCompanions();
    const QString fresh = QStringLiteral("New_") + own_;
    const std::vector<std::pair<const char*, std::function<void()>>> builds = {
        {"no signature", [&] { writeFile(at(fresh), planted, true); }},
        {"signed for the running revision", [&] { placeSigned(fresh, planted, 7, own_); }},
        {"signed for another file", [&] { placeSigned(fresh, planted, 8, checker); }},
        {"signed by another key",
         [&] {
             writeFile(at(fresh), planted, true);
             writeFile(at(fresh + ".minisig"),
                       testsign::SignRelease(planted, own_, 8, testsign::LoadKey(QStringLiteral("other"))));
         }},
    };
    for (const auto& [what, plant] : builds) {
        SCOPED_TRACE(what);
        plant();
        EXPECT_EQ(run(true, 7), std::nullopt) << "handed over";
        EXPECT_FALSE(QFile::exists(at(fresh)));
        EXPECT_FALSE(QFile::exists(at(fresh + ".minisig")));
    }
    QThread::msleep(300);
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("started.log"))));
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(LauncherTest, MissingReplacerShowsTheFolderAndEnds) {
    placeSigned(QStringLiteral("Quendrel.exe"), contentOf(kChecker), checkerRev_);
    server_.put(lastver(), "8");
    server_.publish(own_, standIn("new"), 8);
    QStringList opened;
    platform::SetOpenFolderHook([&](const QString& f) { opened << f; });

    EXPECT_EQ(run(true, 7), ExitCode::ReplacerMissing);
    platform::SetOpenFolderHook({});
    // The path as the system writes paths (a backslash on Windows).
    EXPECT_EQ(boxes_.texts(), std::vector<QString>{QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n") +
                                                   QDir::toNativeSeparators(at(QStringLiteral("sarvix.exe")))});
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].icon, MsgIcon::None);
    EXPECT_EQ(opened, QStringList{folder_});
    EXPECT_EQ(contentOf(at(own_)), standIn("old"));
}

#ifdef _WIN32
// A reader that does not share deletion holds the old program file, as a
// virus scanner may: after its retries the replacer says so in a box of the
// system's own, removes the new build and starts the old program.
TEST_F(LauncherTest, AReplacerThatCannotMoveTheFileSaysSoAndTheOldProgramComesBack) {
    placeSigned(QStringLiteral("New_") + own_, standIn("new"), 1, own_);
    writeFile(at(QStringLiteral("sarvix.exe")), contentOf(kReplacer), true);
    const std::wstring old = QDir::toNativeSeparators(at(own_)).toStdWString();
    HANDLE held = ::CreateFileW(old.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    QProcess replacer;
    replacer.start(at(QStringLiteral("sarvix.exe")), {own_ + QStringLiteral(";New_") + own_});
    ASSERT_TRUE(replacer.waitForStarted());
    const std::wstring title = core::AppTitle().toStdWString();
    QString shown;
    QElapsedTimer t;
    t.start();
    while (replacer.state() != QProcess::NotRunning && t.elapsed() < 120000) {
        if (HWND box = ::FindWindowW(L"#32770", title.c_str())) {
            wchar_t text[512] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, 511);  // the text of a message box
            shown = QString::fromWCharArray(text);
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        replacer.waitForFinished(100);
    }
    ::CloseHandle(held);
    EXPECT_EQ(replacer.exitCode(), 5);
    const QString message = QStringLiteral("업데이트를 설치하지 못했습니다.\r\n기존 버전의 프로그램을 다시 시작합니다.");
    // wine without a display draws no box; the replacer's log beside it
    // holds the text all the same.
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") && shown.isEmpty()) {
        const QString log = QString::fromUtf8(contentOf(at(QStringLiteral("orvel-as.log"))));
        for (const QString& line : message.split(QStringLiteral("\r\n"))) EXPECT_TRUE(log.contains(line)) << line.toStdString();
    } else
        EXPECT_EQ(shown, message);
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_)));
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("New_") + own_ + QStringLiteral(".minisig"))));
    while (contentOf(at(QStringLiteral("started.log"))) != "old\n" && t.elapsed() < 180000) QThread::msleep(50);
    EXPECT_EQ(contentOf(at(QStringLiteral("started.log"))), QByteArray("old\n"));
    EXPECT_EQ(contentOf(at(own_)), standIn("old"));
}
#endif

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
