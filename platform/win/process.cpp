// Starting programs through the shell's ShellExecuteEx, which honours the
// show state and hands back the process to wait on.
#include "platform/process.h"
#include "platform/process_internal.h"

#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <QDir>
#include <QFileInfo>
#include <string>

#include "platform/win/cmdline.h"

namespace platform {

namespace win {

// One argument as the C runtime's command-line parser (and
// CommandLineToArgvW) reads it back: quoted when it holds a blank, a tab or
// a quote, or is empty; a quote escaped by a backslash, and backslashes
// doubled where they precede a quote or the closing quote.
QString QuoteArgument(const QString& arg) {
    if (!arg.isEmpty() && !arg.contains(QLatin1Char(' ')) && !arg.contains(QLatin1Char('\t')) &&
        !arg.contains(QLatin1Char('"')) && !arg.contains(QLatin1Char('\n')) && !arg.contains(QLatin1Char('\v')))
        return arg;
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (QChar c : arg) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"')) {
            out += QString(backslashes * 2 + 1, QLatin1Char('\\'));
            out += c;
        } else {
            out += QString(backslashes, QLatin1Char('\\'));
            out += c;
        }
        backslashes = 0;
    }
    out += QString(backslashes * 2, QLatin1Char('\\'));
    out += QLatin1Char('"');
    return out;
}

QString CommandLineOf(const QStringList& args) {
    QStringList quoted;
    for (const QString& a : args) quoted << QuoteArgument(a);
    return quoted.join(QLatin1Char(' '));
}

unsigned long ShellStartMask(StartErrors errors) {
    unsigned long mask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    // Only where the caller reports a failed start itself does the shell keep
    // quiet; otherwise the user sees the system's own explanation.
    if (errors == StartErrors::Caller) mask |= SEE_MASK_FLAG_NO_UI;
    return mask;
}

QString SystemWindowsFolder() {
    // The shared Windows folder, also under a terminal server's per-user
    // compatibility folders (which GetWindowsDirectory may name instead).
    wchar_t buf[MAX_PATH + 1];
    const UINT n = ::GetSystemWindowsDirectoryW(buf, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return QStringLiteral("C:\\Windows");
    return QString::fromWCharArray(buf, static_cast<int>(n));
}

}  // namespace win

namespace {

int showCommand(ShowState show) {
    switch (show) {
    case ShowState::Hide: return SW_HIDE;
    case ShowState::Normal: return SW_SHOWNORMAL;
    case ShowState::Minimized: return SW_SHOWMINIMIZED;
    case ShowState::Show: return SW_SHOW;
    case ShowState::MinimizedNoActivate: return SW_SHOWMINNOACTIVE;
    }
    return SW_SHOWNORMAL;
}

// The shell may use COM for what it starts; a thread already in another
// apartment keeps it.
struct ComScope {
    bool mine;
    ComScope() : mine(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComScope() {
        if (mine) ::CoUninitialize();
    }
};

// Starts the program; on success `process` holds its handle (may be null
// when the shell handed the start to a running program).
ProcessOutcome start(const QString& program, const QStringList& args, const QString& directory, ShowState show,
                     StartErrors errors, HANDLE* process) {
    ProcessOutcome out;
    // A path is fixed before the change of folder; a bare name is looked up
    // by the shell like a command.
    const bool isPath = program.contains(QLatin1Char('/')) || program.contains(QLatin1Char('\\'));
    const std::wstring file =
        QDir::toNativeSeparators(isPath ? QFileInfo(program).absoluteFilePath() : program).toStdWString();
    const std::wstring params = win::CommandLineOf(args).toStdWString();
    const std::wstring dir = QDir::toNativeSeparators(directory).toStdWString();

    ComScope com;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = win::ShellStartMask(errors);
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = params.empty() ? nullptr : params.c_str();
    info.lpDirectory = dir.empty() ? nullptr : dir.c_str();
    info.nShow = showCommand(show);
    if (!::ShellExecuteExW(&info)) {
        out.error = static_cast<int>(::GetLastError());
        if (out.error == 0) out.error = ERROR_FILE_NOT_FOUND;
        return out;
    }
    out.started = true;
    *process = info.hProcess;
    return out;
}

}  // namespace

ProcessOutcome RunProcessAndWait(const QString& program, const QStringList& args, const QString& directory,
                                 ShowState show, StartErrors errors) {
    HANDLE process = nullptr;
    ProcessOutcome out = start(program, args, directory, show, errors, &process);
    if (!out.started || !process) return out;
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process, &code)) out.exitCode = static_cast<int>(code);
    ::CloseHandle(process);
    return out;
}

ProcessOutcome StartProcessDetached(const QString& program, const QStringList& args, const QString& directory,
                                    ShowState show, StartErrors errors) {
    HANDLE process = nullptr;
    ProcessOutcome out = start(program, args, directory, show, errors, &process);
    if (process) ::CloseHandle(process);  // a Windows process outlives its starter anyway
    return out;
}

detail::Command detail::FileManagerCommand(const QString& folder) {
    // By its full path: a bare name would be looked up in the current folder
    // and the program's folder first, where anyone could put an explorer.exe.
    return {win::SystemWindowsFolder() + QStringLiteral("\\explorer.exe"), {QDir::toNativeSeparators(folder)}};
}

}  // namespace platform
