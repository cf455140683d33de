// Whole files, file identity and running programs with the Win32 file and
// process calls.
#include "platform/files.h"

#include <windows.h>
#include <tlhelp32.h>
#undef ReplaceFile  // ours, declared in files.h, not the system's macro

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <string>

namespace platform {

namespace {

std::wstring native(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

QString reason(DWORD err) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString out = text ? QString::fromWCharArray(text).trimmed() : QString();
    if (text) ::LocalFree(text);
    return out.isEmpty() ? QStringLiteral("system error %1").arg(err) : out;
}

void setError(QString* error, DWORD err) {
    if (error) *error = reason(err);
}

// Any open of the file itself, even one a running program or another
// reader holds: attributes only, every sharing mode.
FileId idOfPath(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    if (!ok) return {};
    FileId id;
    id.key = QByteArray::number(static_cast<qulonglong>(info.dwVolumeSerialNumber)) + ':' +
             QByteArray::number((static_cast<qulonglong>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    return id;
}

}  // namespace

struct WholeFile::Impl {
    std::wstring target;
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    bool committed = false;
};

WholeFile::WholeFile(const QString& target) : d_(std::make_unique<Impl>()) {
    const QFileInfo info(target);
    d_->target = native(info.absoluteFilePath());
    d_->temp = native(info.absolutePath() + QStringLiteral("/.") + info.fileName().left(100) +
                      QStringLiteral(".part-%1").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0')));
}

WholeFile::~WholeFile() { discard(); }

bool WholeFile::open() {
    if (d_->file != INVALID_HANDLE_VALUE || d_->committed) return false;
    // CREATE_NEW: never another writer's file of the same name.
    d_->file = ::CreateFileW(d_->temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return d_->file != INVALID_HANDLE_VALUE;
}

bool WholeFile::write(const char* data, qint64 size) {
    if (d_->file == INVALID_HANDLE_VALUE) return false;
    while (size > 0) {
        const DWORD chunk = size > (1 << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(d_->file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Windows has no run permission: whether a file runs depends on its name
// and content, so `runnable` asks nothing more here. The new file takes the
// folder's inherited access rights.
bool WholeFile::commit(bool /*runnable*/) {
    if (d_->file == INVALID_HANDLE_VALUE) return false;
    bool ok = ::FlushFileBuffers(d_->file) != 0;
    ok = ::CloseHandle(d_->file) != 0 && ok;
    d_->file = INVALID_HANDLE_VALUE;
    ok = ok && ::MoveFileExW(d_->temp.c_str(), d_->target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        ::DeleteFileW(d_->temp.c_str());
        return false;
    }
    d_->committed = true;
    return true;
}

void WholeFile::discard() {
    if (d_->file == INVALID_HANDLE_VALUE) return;
    ::CloseHandle(d_->file);
    d_->file = INVALID_HANDLE_VALUE;
    ::DeleteFileW(d_->temp.c_str());
}

// The cache manager writes behind on its own; there is no call to ask for it.
void StartWriteBehind(int /*handle*/, qint64 /*offset*/, qint64 /*length*/) {}

bool MakeRunnable(const QString& path, QString* error) {
    if (::GetFileAttributesW(native(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
        setError(error, ::GetLastError());
        return false;
    }
    return true;
}

bool ReplaceFile(const QString& from, const QString& to, QString* error) {
    if (!::MoveFileExW(native(from).c_str(), native(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        setError(error, ::GetLastError());
        return false;
    }
    return true;
}

FileId FileIdentity(const QString& path) { return idOfPath(native(path)); }

bool IsRunningProgram(const FileId& file) {
    if (!file.valid()) return false;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    const DWORD self = ::GetCurrentProcessId();
    bool running = false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snap, &entry); more && !running; more = ::Process32NextW(snap, &entry)) {
        if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
        HANDLE proc = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!proc) continue;  // not the user's
        wchar_t image[32768];
        DWORD size = sizeof image / sizeof image[0];
        if (::QueryFullProcessImageNameW(proc, 0, image, &size)) running = idOfPath(std::wstring(image, size)) == file;
        ::CloseHandle(proc);
    }
    ::CloseHandle(snap);
    return running;
}

QString FindPlainFile(const QString& folder, const QString& name) {
    // The search takes wildcards and ignores case; a name must be no pattern
    // and lead to no other folder.
    if (name.isEmpty()) return QString();
    for (const char c : {'/', '\\', ':', '*', '?', '"', '<', '>', '|'})
        if (name.contains(QLatin1Char(c))) return QString();
    WIN32_FIND_DATAW found{};
    const std::wstring path = QDir::toNativeSeparators(folder + QLatin1Char('/') + name).toStdWString();
    const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return QString();
    ::FindClose(search);
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY))
        return QString();
    return QString::fromWCharArray(found.cFileName);
}

}  // namespace platform
