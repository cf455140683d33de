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

// The file's origin as the shell writes it for a file from the internet.
void writeZoneMark(const std::wstring& path) {
    const std::wstring stream = path + L":Zone.Identifier";
    HANDLE h = ::CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    static const char kMark[] = "[ZoneTransfer]\r\nZoneId=3\r\n";
    DWORD written = 0;
    ::WriteFile(h, kMark, sizeof kMark - 1, &written, nullptr);
    ::CloseHandle(h);
}

// At most 100 UTF-16 units of `name`, never half a surrogate pair.
QString headOf(const QString& name) {
    qsizetype n = qMin<qsizetype>(name.size(), 100);
    if (n > 0 && n < name.size() && name[n - 1].isHighSurrogate()) --n;
    return name.left(n);
}

}  // namespace

struct WholeFile::Impl {
    std::wstring target;
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    bool fromInternet = false;
    bool committed = false;
};

WholeFile::WholeFile(const QString& target) : d_(std::make_unique<Impl>()) {
    const QFileInfo info(target);
    d_->target = native(info.absoluteFilePath());
    d_->temp = native(info.absolutePath() + QStringLiteral("/.") + headOf(info.fileName()) +
                      QStringLiteral(".part-%1").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0')));
}

WholeFile::~WholeFile() { discard(); }

bool WholeFile::open() {
    if (d_->file != INVALID_HANDLE_VALUE || d_->committed) return false;
    // CREATE_NEW: never another writer's file of the same name.
    d_->file = ::CreateFileW(d_->temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (d_->file == INVALID_HANDLE_VALUE) d_->error = ::GetLastError();
    return d_->file != INVALID_HANDLE_VALUE;
}

bool WholeFile::write(const char* data, qint64 size) {
    if (d_->file == INVALID_HANDLE_VALUE) return false;
    while (size > 0) {
        const DWORD chunk = size > (1 << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(d_->file, data, chunk, &written, nullptr) || written == 0) {
            d_->error = ::GetLastError();
            return false;
        }
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
    if (!ok) d_->error = ::GetLastError();
    // Only a volume that keeps named streams can hold the mark; elsewhere the
    // stream's name would be taken for a file name of its own.
    DWORD volumeFlags = 0;
    const bool streams = d_->fromInternet &&
                         ::GetVolumeInformationByHandleW(d_->file, nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) &&
                         (volumeFlags & FILE_NAMED_STREAMS);
    if (!::CloseHandle(d_->file) && ok) {
        d_->error = ::GetLastError();
        ok = false;
    }
    d_->file = INVALID_HANDLE_VALUE;
    // The mark goes on before the file takes its name and moves with it: the
    // file never stands under its name unmarked.
    if (ok && streams) writeZoneMark(d_->temp);
    // The move renames onto the entry: a symbolic link there is replaced, not
    // followed (ReplaceFileW would open it and write through), and a .lnk
    // shortcut is a plain file to the file system. A folder or a junction in
    // the target's place is refused by the system.
    if (ok && !::MoveFileExW(d_->temp.c_str(), d_->target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        d_->error = ::GetLastError();
        ok = false;
    }
    if (!ok) {
        ::DeleteFileW(d_->temp.c_str());
        return false;
    }
    d_->committed = true;
    return true;
}

void WholeFile::markFromInternet() { d_->fromInternet = true; }

int WholeFile::error() const { return static_cast<int>(d_->error); }

void WholeFile::discard() {
    if (d_->file == INVALID_HANDLE_VALUE) return;
    ::CloseHandle(d_->file);
    d_->file = INVALID_HANDLE_VALUE;
    ::DeleteFileW(d_->temp.c_str());
}

bool IsLink(const QString& path) {
    QString entry = QDir::toNativeSeparators(path);
    while (entry.size() > 3 && entry.endsWith(QLatin1Char('\\'))) entry.chop(1);
    // Wildcards would find another entry.
    if (entry.contains(QLatin1Char('*')) || entry.contains(QLatin1Char('?'))) return false;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(entry.toStdWString().c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    // Other reparse points (files kept in the cloud, deduplicated files) are
    // the entry itself, not a way to somewhere else.
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

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

namespace {

// The search takes wildcards and ignores case; a name must be no pattern and
// lead to no other folder.
bool findEntry(const QString& folder, const QString& name, WIN32_FIND_DATAW& found) {
    if (name.isEmpty()) return false;
    for (const char c : {'/', '\\', ':', '*', '?', '"', '<', '>', '|'})
        if (name.contains(QLatin1Char(c))) return false;
    const std::wstring path = QDir::toNativeSeparators(folder + QLatin1Char('/') + name).toStdWString();
    const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

}  // namespace

QString FindPlainFile(const QString& folder, const QString& name) {
    WIN32_FIND_DATAW found{};
    if (!findEntry(folder, name, found) ||
        (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY)))
        return QString();
    return QString::fromWCharArray(found.cFileName);
}

QString FindStoredName(const QString& folder, const QString& name) {
    WIN32_FIND_DATAW found{};
    return findEntry(folder, name, found) ? QString::fromWCharArray(found.cFileName) : QString();
}

}  // namespace platform
