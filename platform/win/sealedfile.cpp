#include "platform/sealedfile.h"

#include <windows.h>

#include <QDir>
#include <QUuid>

namespace platform {

// A new file in the user's temporary folder, held open without write or
// delete sharing: others may read it, nobody may change, rename or remove it
// until this handle closes. Made fresh (CREATE_NEW) with a random name, so
// nothing planted beforehand is used.
struct SealedFile::Impl {
    HANDLE file = INVALID_HANDLE_VALUE;
    QString path;
};

SealedFile::SealedFile() : d(std::make_unique<Impl>()) {}

SealedFile::~SealedFile() {
    if (d->file != INVALID_HANDLE_VALUE) {
        CloseHandle(d->file);
        DeleteFileW(reinterpret_cast<const wchar_t*>(d->path.utf16()));
    }
}

bool SealedFile::create(const QByteArray& bytes) {
    if (d->file != INVALID_HANDLE_VALUE) return false;
    const QString path = QDir::toNativeSeparators(
        QDir::tempPath() + QStringLiteral("/orvel-trust-") + QUuid::createUuid().toString(QUuid::Id128) +
        QStringLiteral(".pem"));
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    if (!WriteFile(h, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != static_cast<DWORD>(bytes.size()) || !FlushFileBuffers(h)) {
        CloseHandle(h);
        DeleteFileW(reinterpret_cast<const wchar_t*>(path.utf16()));
        return false;
    }
    d->file = h;
    d->path = path;
    return true;
}

QString SealedFile::path() const { return d->file == INVALID_HANDLE_VALUE ? QString() : d->path; }

}  // namespace platform
