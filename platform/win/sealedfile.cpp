#include "platform/sealedfile.h"

#include <windows.h>

#include <QDir>
#include <QUuid>

namespace platform {

// A new file in the user's temporary folder with a random name, held open
// for reading without write or delete sharing: others may read it, nobody may
// change, rename or remove it until this handle closes. Libraries open such
// a file allowing readers only, so the handle that wrote it cannot stay
// open; the read handle that replaces it checks that the bytes are still
// those written, so nothing swapped in between is used.
struct SealedFile::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
    QString path;
};

namespace {

const wchar_t* wide(const QString& s) { return reinterpret_cast<const wchar_t*>(s.utf16()); }

bool writeNew(const QString& path, const QByteArray& bytes) {
    HANDLE h = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(h, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == static_cast<DWORD>(bytes.size());
    CloseHandle(h);
    return ok;
}

bool holds(HANDLE h, const QByteArray& bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || size.QuadPart != bytes.size()) return false;
    QByteArray back(bytes.size(), '\0');
    DWORD read = 0;
    return ReadFile(h, back.data(), static_cast<DWORD>(back.size()), &read, nullptr) &&
           read == static_cast<DWORD>(back.size()) && back == bytes;
}

}  // namespace

SealedFile::SealedFile() : d(std::make_unique<Impl>()) {}

SealedFile::~SealedFile() {
    if (d->file != INVALID_HANDLE_VALUE) {
        CloseHandle(d->file);
        DeleteFileW(wide(d->path));
    }
}

bool SealedFile::create(const QByteArray& bytes) {
    if (d->file != INVALID_HANDLE_VALUE) return false;
    const QString path = QDir::toNativeSeparators(QDir::tempPath() + QStringLiteral("/orvel-trust-") +
                                                  QUuid::createUuid().toString(QUuid::Id128) +
                                                  QStringLiteral(".pem"));
    if (!writeNew(path, bytes)) {
        DeleteFileW(wide(path));
        return false;
    }
    HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE || !holds(h, bytes)) {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        DeleteFileW(wide(path));
        return false;
    }
    d->file = h;
    d->path = path;
    return true;
}

QString SealedFile::path() const { return d->file == INVALID_HANDLE_VALUE ? QString() : d->path; }

}  // namespace platform
