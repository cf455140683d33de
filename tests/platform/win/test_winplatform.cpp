// The Windows side of the platform interfaces, against the system itself:
// registry, management service, shell start, named mutex, file moves.
#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>
#include <shellapi.h>
#include <sddl.h>
#undef GetObject  // the management namespace's call, not the GDI one

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <future>

#include "platform/adapters.h"
#include "core/errors.h"
#include "platform/files.h"
#include "formats/fileversion.h"
#include "platform/process.h"
#include "platform/process_internal.h"
#include "platform/settingsstore.h"
#include "platform/singleinstance.h"
#include "platform/systemproxy.h"
#include "platform/textcodec.h"
#include "platform/win/cmdline.h"
#include "testsigning.h"

namespace {

QString probe() { return QCoreApplication::applicationDirPath() + QStringLiteral("/win_probe.exe"); }

// The built replacer; on another PC, the copy put beside the test.
QString replacerExe() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/sarvix.exe");
    return QFile::exists(beside) ? beside : QString::fromUtf8(ORVEL_REPLACER_EXE);
}

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<missing>");
}

bool waitForFile(const QString& path, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (QFile::exists(path)) return true;
        QThread::msleep(20);
    }
    return false;
}

}  // namespace

TEST(WinSettings, RegistryRoundTripUnderTheProgramSettingsKey) {
    const QString app = QStringLiteral("orvel 시험 %1").arg(::GetCurrentProcessId());
    const std::wstring key = (QStringLiteral("Software\\VB and VBA Program Settings\\") + app).toStdWString();
    EXPECT_FALSE(platform::HasSetting(app, QStringLiteral("Config"), QStringLiteral("passwd")));
    EXPECT_EQ(platform::GetSetting(app, QStringLiteral("Config"), QStringLiteral("passwd"), QStringLiteral("기본")),
              QStringLiteral("기본"));

    platform::SaveSetting(app, QStringLiteral("Config"), QStringLiteral("passwd"), QStringLiteral("비밀 ;\"값\""));
    platform::SaveSetting(app, QStringLiteral("Config"), QStringLiteral("issave_passwd"), QString());
    EXPECT_EQ(platform::GetSetting(app, QStringLiteral("Config"), QStringLiteral("passwd")),
              QStringLiteral("비밀 ;\"값\""));
    EXPECT_TRUE(platform::HasSetting(app, QStringLiteral("Config"), QStringLiteral("issave_passwd")));
    EXPECT_EQ(platform::GetSetting(app, QStringLiteral("Config"), QStringLiteral("issave_passwd"), QStringLiteral("x")),
              QString());

    // Stored as the earlier program did: REG_SZ texts; one written without
    // its final null, one of another type that is no setting.
    HKEY h = nullptr;
    const std::wstring section = key + L"\\Config";
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, section.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &h),
              ERROR_SUCCESS);
    wchar_t type[8] = {};
    DWORD size = sizeof type;
    EXPECT_EQ(::RegQueryValueExW(h, L"passwd", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    DWORD kind = 0;
    size = sizeof type;
    ::RegQueryValueExW(h, L"issave_passwd", nullptr, &kind, reinterpret_cast<BYTE*>(type), &size);
    EXPECT_EQ(kind, static_cast<DWORD>(REG_SZ));
    const wchar_t plain[] = L"True";
    ::RegSetValueExW(h, L"plain", 0, REG_SZ, reinterpret_cast<const BYTE*>(plain), 4 * sizeof(wchar_t));
    const DWORD number = 1;
    ::RegSetValueExW(h, L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    ::RegCloseKey(h);
    EXPECT_EQ(platform::GetSetting(app, QStringLiteral("Config"), QStringLiteral("plain")), QStringLiteral("True"));
    EXPECT_EQ(platform::GetSetting(app, QStringLiteral("Config"), QStringLiteral("number"), QStringLiteral("d")),
              QStringLiteral("d"));

    EXPECT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()), ERROR_SUCCESS);
}

namespace {

bool underWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// The adapters the IP helper calls not up, by address in lower case.
QStringList adaptersNotUp() {
    ULONG size = 64 * 1024;
    std::vector<unsigned char> buf(size);
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data());
    if (::GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, list, &size) != NO_ERROR) return {};
    QStringList down;
    for (auto* a = list; a; a = a->Next) {
        if (a->PhysicalAddressLength != 6 || a->OperStatus == IfOperStatusUp) continue;
        QStringList groups;
        for (int i = 0; i < 6; ++i) groups << QStringLiteral("%1").arg(a->PhysicalAddress[i], 2, 16, QLatin1Char('0'));
        down << groups.join(QLatin1Char(':'));
    }
    return down;
}

}  // namespace

// The query's answer is the management service's rows, in its order, with
// nothing the IP helper says taken into account: wine calls every link of
// the host IP-enabled, down ones too, and so they stay in the answer, each
// with its address text as the service wrote it.
TEST(WinAdapters, TheServicesRowsWhateverTheAdaptersState) {
    const auto ns = platform::WmiNamespace::GetObject(QStringLiteral("winmgmts:\\\\.\\root\\cimv2"));
    const auto enabled =
        ns.ExecQuery(QStringLiteral("SELECT * FROM Win32_NetworkAdapterConfiguration WHERE IPEnabled = True"));
    QStringList listed;
    for (const auto& a : enabled) {
        EXPECT_TRUE(a.IPEnabled);
        if (a.MACAddress) listed << *a.MACAddress;
    }
    const QStringList down = adaptersNotUp();
    std::printf("IP-enabled: %s; not up: %s\n", qPrintable(listed.join(QLatin1Char(' '))),
                qPrintable(down.join(QLatin1Char(' '))));
    if (!underWine()) return;  // a PC's service decides by its own rules
    for (const QString& mac : down) {
        const bool kept = std::any_of(listed.begin(), listed.end(), [&](const QString& text) {
            return text.compare(mac, Qt::CaseInsensitive) == 0 ||
                   QString(text).replace(QLatin1Char('-'), QLatin1Char(':')).compare(mac, Qt::CaseInsensitive) == 0;
        });
        EXPECT_TRUE(kept) << mac.toStdString();
    }
}

TEST(WinCodec, Cp949BothWaysWithStrayBytes) {
    EXPECT_EQ(platform::ToCp949(QStringLiteral("한글 a")), QByteArray("\xC7\xD1\xB1\xDB a"));
    EXPECT_EQ(platform::FromCp949(QByteArray("\xC7\xD1\xB1\xDB a")), QStringLiteral("한글 a"));
    EXPECT_EQ(platform::ToCp949(QStringLiteral("가ก")), QByteArray("\xB0\xA1?"));  // Thai has no place in 949
    // A stray byte is one replacement character; what follows it survives.
    EXPECT_EQ(platform::FromCp949(QByteArray("\xB0\xA1\xFF" "a\xB0")), QStringLiteral("가\uFFFDa\uFFFD"));
}

TEST(WinProcess, ArgumentsArriveUnchangedAndTheExitCodeComesBack) {
    const QStringList args = {QStringLiteral("old.exe;New_old.exe"), QStringLiteral("with blank"), QString(),
                              QStringLiteral("say \"hi\""), QStringLiteral("C:\\dir with blank\\"),
                              QStringLiteral("a\\\\\"b"), QStringLiteral("홍길동")};
    // The quoting against the system's own parser...
    int n = 0;
    const std::wstring line = (QStringLiteral("x.exe ") + platform::win::CommandLineOf(args)).toStdWString();
    wchar_t** w = ::CommandLineToArgvW(line.c_str(), &n);
    QStringList parsed;
    for (int i = 1; i < n; ++i) parsed << QString::fromWCharArray(w[i]);
    ::LocalFree(w);
    EXPECT_EQ(parsed, args);

    // ... and through a real start in another folder.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("args out.txt"));
    const auto r = platform::RunProcessAndWait(probe(), QStringList{QStringLiteral("args"), out} + args, dir.path(),
                                               platform::ShowState::Hide);
    ASSERT_TRUE(r.started) << r.error;
    EXPECT_EQ(r.exitCode, 40 + args.size());
    EXPECT_EQ(readAll(out), args.join(QLatin1Char('\n')) + QLatin1Char('\n'));

    const auto missing = platform::RunProcessAndWait(dir.filePath(QStringLiteral("none.exe")), {}, QString(),
                                                     platform::ShowState::Normal);
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(platform::ClassifySystemError(missing.error), platform::SystemFailure::NotFound) << missing.error;
}

// The file manager comes from the Windows folder, never from a folder an
// attacker may write to (the current one, the program's); only a start the
// caller leaves to the system may show the system's error dialog.
TEST(WinProcess, FileManagerByItsFullPathAndWhoReportsAFailedStart) {
    wchar_t buf[MAX_PATH + 1];
    const UINT n = ::GetWindowsDirectoryW(buf, MAX_PATH + 1);
    ASSERT_GT(n, 0u);
    const QString windows = QString::fromWCharArray(buf, static_cast<int>(n));
    const auto c = platform::detail::FileManagerCommand(QStringLiteral("C:/프로그램 폴더/sub"));
    EXPECT_EQ(c.program.compare(windows + QStringLiteral("\\explorer.exe"), Qt::CaseInsensitive), 0)
        << c.program.toStdString();
    EXPECT_TRUE(QFileInfo(c.program).isAbsolute());
    EXPECT_TRUE(QFile::exists(c.program));
    EXPECT_EQ(c.args, QStringList{QStringLiteral("C:\\프로그램 폴더\\sub")});

    using platform::StartErrors;
    EXPECT_TRUE(platform::win::ShellStartMask(StartErrors::Caller) & SEE_MASK_FLAG_NO_UI);
    EXPECT_FALSE(platform::win::ShellStartMask(StartErrors::SystemDialog) & SEE_MASK_FLAG_NO_UI);
    for (StartErrors e : {StartErrors::Caller, StartErrors::SystemDialog})
        EXPECT_TRUE(platform::win::ShellStartMask(e) & SEE_MASK_NOCLOSEPROCESS);
}

// Libraries loaded at run time come from the system folder only: one of the
// same name in the current and the program's folder is no longer found.
TEST(WinDllSearch, HardeningKeepsPlantedLibrariesOut) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString prog = dir.filePath(QStringLiteral("probe.exe"));
    ASSERT_TRUE(QFile::copy(probe(), prog));
    ASSERT_TRUE(QFile::copy(QString::fromUtf8(ORVEL_PLANT_DLL), dir.filePath(QStringLiteral("orvel_plant.dll"))));
    const auto r = platform::RunProcessAndWait(prog, {QStringLiteral("dllsearch"), QStringLiteral("orvel_plant.dll")},
                                               dir.path(), platform::ShowState::Hide);
    ASSERT_TRUE(r.started) << r.error;
    EXPECT_EQ(r.exitCode, 1 + 2) << "1: loaded before, 2: hardened, 4: loaded after";
}

TEST(WinInstance, SecondCopyIsRefusedWhileTheFirstRuns) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(platform::StartProcessDetached(probe(), {QStringLiteral("hold"), dir.path()}, QString(),
                                               platform::ShowState::Hide).started);
    ASSERT_TRUE(waitForFile(dir.filePath(QStringLiteral("ready"))));
    EXPECT_EQ(platform::RunProcessAndWait(probe(), {QStringLiteral("instance")}, QString(),
                                          platform::ShowState::Hide).exitCode, 1);
    QFile(dir.filePath(QStringLiteral("stop"))).open(QIODevice::WriteOnly);
    // Gone with its process: no stale lock.
    int code = 1;
    for (int i = 0; i < 200 && code == 1; ++i) {
        QThread::msleep(50);
        code = platform::RunProcessAndWait(probe(), {QStringLiteral("instance")}, QString(),
                                           platform::ShowState::Hide).exitCode;
    }
    EXPECT_EQ(code, 0);
}

// One copy per user, not per session: the name lives in the global
// namespace and carries the user's SID. A name another user took first (a
// mutex this user may not open) does not keep the program from starting.
TEST(WinInstance, PerUserInTheGlobalNamespace) {
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user.data(), size, &size));
    ::CloseHandle(token);
    wchar_t* text = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text));
    const QString sid = QString::fromWCharArray(text);
    ::LocalFree(text);

    const QString name = platform::InstanceLockPath();
    EXPECT_EQ(name, QStringLiteral("Global\\test_winplatform.instance.") + sid);
    EXPECT_TRUE(sid.startsWith(QStringLiteral("S-1-5-")));

    // Taken by "someone else": a mutex whose list grants nobody, and one
    // that grants everyone everything but belongs to another user.
    const QString probeName = QString(name).replace(QStringLiteral("test_winplatform"), QStringLiteral("win_probe"));
    for (const wchar_t* squatter : {L"D:P", L"O:S-1-5-21-1-2-3-1001D:P(A;;GA;;;WD)"}) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(squatter, SDDL_REVISION_1, &sd, nullptr));
        SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
        HANDLE squat = ::CreateMutexW(&sa, FALSE, probeName.toStdWString().c_str());
        ::LocalFree(sd);
        // Windows refuses an owner outside the creator's token; wine does not
        // check, which is what lets this test play the other user.
        if (!squat && ::GetLastError() == ERROR_INVALID_OWNER) continue;
        ASSERT_TRUE(squat) << ::GetLastError();
        EXPECT_EQ(platform::RunProcessAndWait(probe(), {QStringLiteral("instance")}, QString(),
                                              platform::ShowState::Hide).exitCode, 0);
        ::CloseHandle(squat);
    }
}

TEST(WinReplacer, SwapsTheRunningProgramOnceItEnds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString prog = dir.filePath(QStringLiteral("prog.exe"));
    const QString next = dir.filePath(QStringLiteral("New_prog.exe"));
    const QString replacer = dir.filePath(QStringLiteral("sarvix.exe"));
    ASSERT_TRUE(QFile::copy(probe(), prog) && QFile::copy(probe(), next) &&
                QFile::copy(replacerExe(), replacer));
    // The company's release of prog.exe one revision above the installed
    // one (the probe carries none), as the replacer requires.
    {
        QFile sig(next + QStringLiteral(".minisig"));
        ASSERT_TRUE(sig.open(QIODevice::WriteOnly));
        QFile built(next);
        ASSERT_TRUE(built.open(QIODevice::ReadOnly));
        sig.write(testsign::SignRelease(built.readAll(), QStringLiteral("prog.exe"), 1));
    }
    const platform::FileId oldId = platform::FileIdentity(prog);
    const platform::FileId newId = platform::FileIdentity(next);
    ASSERT_TRUE(oldId.valid() && newId.valid() && !(oldId == newId));

    ASSERT_TRUE(platform::StartProcessDetached(prog, {QStringLiteral("hold"), dir.path()}, QString(),
                                               platform::ShowState::Hide).started);
    ASSERT_TRUE(waitForFile(dir.filePath(QStringLiteral("ready"))));
    EXPECT_TRUE(platform::IsRunningProgram(oldId));

    auto run = std::async(std::launch::async, [&] {
        return platform::RunProcessAndWait(replacer, {QStringLiteral("prog.exe;New_prog.exe")}, dir.path(),
                                           platform::ShowState::Hide);
    });
    EXPECT_EQ(run.wait_for(std::chrono::milliseconds(700)), std::future_status::timeout);
    EXPECT_TRUE(platform::FileIdentity(prog) == oldId);  // waits while it runs

    QFile(dir.filePath(QStringLiteral("stop"))).open(QIODevice::WriteOnly);
    const platform::ProcessOutcome r = run.get();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(platform::FileIdentity(prog) == newId);
    EXPECT_FALSE(QFile::exists(next));
    EXPECT_TRUE(waitForFile(dir.filePath(QStringLiteral("restarted"))));  // the new build was started
}

TEST(WinFiles, WholeFileReplacesInOneStepOrLeavesTheTarget) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("목표 파일.txt"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    {
        platform::WholeFile discarded(target);
        ASSERT_TRUE(discarded.open() && discarded.write("new", 3));
    }
    EXPECT_EQ(readAll(target), QStringLiteral("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    platform::WholeFile whole(target);
    ASSERT_TRUE(whole.open() && whole.write("new", 3) && whole.commit(false));
    EXPECT_EQ(readAll(target), QStringLiteral("new"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_FALSE(platform::FileIdentity(dir.filePath(QStringLiteral("none"))).valid());

    // Qt's file calls report through the last-error code, not errno.
    QFile missing(dir.filePath(QStringLiteral("none/x.txt")));
    EXPECT_FALSE(missing.open(QIODevice::ReadOnly));
    EXPECT_EQ(platform::ClassifySystemError(platform::LastSystemError()), platform::SystemFailure::NotFound);
}

// The portable reader against the system's call on our stamped companion
// (one language: the system would prefer the user's among several).
TEST(WinVersion, OwnReaderGivesTheBlockOfTheSystemsCall) {
    const QString file = replacerExe();
    const std::wstring path = QDir::toNativeSeparators(file).toStdWString();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    QByteArray block(static_cast<qsizetype>(size), '\0');
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    // The call adds room of its own after the block's stated length.
    const auto length = static_cast<quint16>(static_cast<quint8>(block[0]) | static_cast<quint8>(block[1]) << 8);
    EXPECT_EQ(ReadVersionBlock(file), block.left(length));
}

// The proxy of the user's Internet settings, as Windows keeps it: a blob of
// counted texts under the connections key.
TEST(WinProxy, TheUsersInternetSettingsAreRead) {
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    HKEY h = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &h,
                                nullptr),
              ERROR_SUCCESS);
    // The user's own settings come back afterwards.
    DWORD kind = 0, size = 0;
    const bool had = ::RegQueryValueExW(h, L"DefaultConnectionSettings", nullptr, &kind, nullptr, &size) == ERROR_SUCCESS;
    std::string old(size, '\0');
    if (had) ::RegQueryValueExW(h, L"DefaultConnectionSettings", nullptr, &kind, reinterpret_cast<BYTE*>(old.data()), &size);

    const auto blob = [](DWORD flags, const std::string& servers, const std::string& bypass) {
        std::string b;
        const auto dword = [&b](DWORD v) { b.append(reinterpret_cast<const char*>(&v), sizeof v); };
        dword(0x46);
        dword(1);
        dword(flags);
        dword(static_cast<DWORD>(servers.size()));
        b += servers;
        dword(static_cast<DWORD>(bypass.size()));
        b += bypass;
        dword(0);  // no configuration script
        b.append(32, '\0');
        return b;
    };
    const auto put = [h](const std::string& b) {
        ::RegSetValueExW(h, L"DefaultConnectionSettings", 0, REG_BINARY, reinterpret_cast<const BYTE*>(b.data()),
                         static_cast<DWORD>(b.size()));
    };
    constexpr DWORD kDirect = 1, kProxy = 2;
    put(blob(kDirect | kProxy, "http=p1:8080;https=p2:8443", "<local>;*.corp.example"));
    const platform::SystemProxy on = platform::ReadSystemProxy();
    put(blob(kDirect, "http=p1:8080", "<local>"));  // kept but switched off
    const platform::SystemProxy off = platform::ReadSystemProxy();

    if (had)
        ::RegSetValueExW(h, L"DefaultConnectionSettings", 0, kind, reinterpret_cast<const BYTE*>(old.data()), size);
    else
        ::RegDeleteValueW(h, L"DefaultConnectionSettings");
    ::RegCloseKey(h);
    EXPECT_EQ(on.servers, QStringLiteral("http=p1:8080;https=p2:8443"));
    EXPECT_EQ(on.bypass, QStringLiteral("<local>;*.corp.example"));
    EXPECT_TRUE(off.servers.isEmpty()) << off.servers.toStdString();
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
