// Settings in the user's registry hive, under the key where Windows keeps
// settings addressed by application, section and key, so the values the
// earlier program stored stay valid. Only the user (and administrators)
// can read the user's hive.
#include "platform/settingsstore.h"

#include <windows.h>
#include <wincrypt.h>

#include <QtGlobal>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace {

const QString kRoot = QStringLiteral("Software\\VB and VBA Program Settings\\");
// The protected copy of a secret sits beside its plain value under this name.
const QString kProtectedSuffix = QStringLiteral("_protected");
// Bound into every protected secret besides its purpose, so that another
// program of the same user that asks the system to unprotect the bytes
// without knowing both gets nothing.
const QByteArray kEntropyStem = QByteArrayLiteral("orvel-as remembered secret\n");

std::wstring wide(const QString& s) { return s.toStdWString(); }

std::wstring sectionKey(const QString& appName, const QString& section) {
    return wide(kRoot + appName + QLatin1Char('\\') + section);
}

// The text of a value; none when the key or the value is missing or holds
// no text.
std::optional<QString> readValue(const QString& appName, const QString& section, const QString& key) {
    HKEY h = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, sectionKey(appName, section).c_str(), 0, KEY_QUERY_VALUE, &h) !=
        ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring name = wide(key);
    std::vector<wchar_t> buf(256);
    DWORD type = 0;
    LSTATUS r;
    for (;;) {
        DWORD bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
        r = ::RegQueryValueExW(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &bytes);
        if (r == ERROR_MORE_DATA) {
            buf.resize(bytes / sizeof(wchar_t) + 2);
            continue;
        }
        if (r == ERROR_SUCCESS) {
            // The stored length may or may not count the final null.
            size_t len = bytes / sizeof(wchar_t);
            while (len > 0 && buf[len - 1] == L'\0') --len;
            buf.resize(len);
        }
        break;
    }
    ::RegCloseKey(h);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    return QString::fromWCharArray(buf.data(), static_cast<qsizetype>(buf.size()));
}

// The bytes of a REG_BINARY value; none when the key or value is missing or
// is of another type.
std::optional<QByteArray> readBinary(const QString& appName, const QString& section, const QString& key) {
    HKEY h = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, sectionKey(appName, section).c_str(), 0, KEY_QUERY_VALUE, &h) !=
        ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring name = wide(key);
    DWORD type = 0, bytes = 0;
    LSTATUS r = ::RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &bytes);
    QByteArray data;
    if (r == ERROR_SUCCESS && type == REG_BINARY) {
        data.resize(static_cast<qsizetype>(bytes));
        r = ::RegQueryValueExW(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
        data.resize(static_cast<qsizetype>(bytes));
    }
    ::RegCloseKey(h);
    if (r != ERROR_SUCCESS || type != REG_BINARY) return std::nullopt;
    return data;
}

bool writeValue(const QString& appName, const QString& section, const QString& key, DWORD type, const BYTE* data,
                DWORD bytes) {
    HKEY h = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, sectionKey(appName, section).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, &h, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring name = wide(key);
    const bool ok = ::RegSetValueExW(h, name.c_str(), 0, type, data, bytes) == ERROR_SUCCESS;
    ::RegCloseKey(h);
    return ok;
}

void deleteValue(const QString& appName, const QString& section, const QString& key) {
    HKEY h = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, sectionKey(appName, section).c_str(), 0, KEY_SET_VALUE, &h) !=
        ERROR_SUCCESS)
        return;
    ::RegDeleteValueW(h, wide(key).c_str());
    ::RegCloseKey(h);
}

QString purposeOf(const QString& appName, const QString& section, const QString& key) {
    return appName + QLatin1Char('/') + section + QLatin1Char('/') + key;
}

DATA_BLOB blobOf(const QByteArray& b) {
    return DATA_BLOB{static_cast<DWORD>(b.size()), reinterpret_cast<BYTE*>(const_cast<char*>(b.constData()))};
}

// Overwrites a copy of a secret before its memory goes back.
void wipe(QByteArray& b) {
    if (!b.isEmpty()) ::SecureZeroMemory(b.data(), static_cast<SIZE_T>(b.size()));
}

}  // namespace

QString SettingsFilePath(const QString& appName) {
    return QStringLiteral("HKEY_CURRENT_USER\\") + kRoot + appName;
}

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue) {
    return readValue(appName, section, key).value_or(defaultValue);
}

bool HasSetting(const QString& appName, const QString& section, const QString& key) {
    return readValue(appName, section, key).has_value();
}

void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value) {
    const std::wstring text = wide(value);
    writeValue(appName, section, key, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::optional<QByteArray> ProtectSecret(const QString& text, const QString& purpose) {
    QByteArray plain = text.toUtf8();
    const QByteArray entropy = kEntropyStem + purpose.toUtf8();
    DATA_BLOB in = blobOf(plain), salt = blobOf(entropy), out{};
    const bool ok = ::CryptProtectData(&in, nullptr, &salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out);
    wipe(plain);
    if (!ok) return std::nullopt;
    QByteArray blob(reinterpret_cast<const char*>(out.pbData), static_cast<qsizetype>(out.cbData));
    ::LocalFree(out.pbData);
    return blob;
}

std::optional<QString> UnprotectSecret(const QByteArray& blob, const QString& purpose) {
    const QByteArray entropy = kEntropyStem + purpose.toUtf8();
    DATA_BLOB in = blobOf(blob), salt = blobOf(entropy), out{};
    if (!::CryptUnprotectData(&in, nullptr, &salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return std::nullopt;
    QByteArray plain(reinterpret_cast<const char*>(out.pbData), static_cast<qsizetype>(out.cbData));
    ::SecureZeroMemory(out.pbData, out.cbData);
    ::LocalFree(out.pbData);
    const QString text = QString::fromUtf8(plain);
    wipe(plain);
    return text;
}

QString GetSecretSetting(const QString& appName, const QString& section, const QString& key,
                         const QString& defaultValue) {
    const std::optional<QString> plain = readValue(appName, section, key);
    if (plain && !plain->isEmpty()) {
        // Left by an earlier build: from now on kept protected only.
        SaveSecretSetting(appName, section, key, *plain);
        return *plain;
    }
    if (const auto blob = readBinary(appName, section, key + kProtectedSuffix)) {
        // Another user's or another machine's bytes (a copied profile) give
        // nothing: the password has to be typed again.
        return UnprotectSecret(*blob, purposeOf(appName, section, key)).value_or(defaultValue);
    }
    return plain.value_or(defaultValue);
}

void SaveSecretSetting(const QString& appName, const QString& section, const QString& key,
                       const QString& value) {
    const QString protectedName = key + kProtectedSuffix;
    std::optional<QByteArray> blob;
    if (!value.isEmpty()) blob = ProtectSecret(value, purposeOf(appName, section, key));
    if (blob) {
        // The plain value stays where the protected copy cannot be written:
        // the next read takes it over again.
        if (!writeValue(appName, section, protectedName, REG_BINARY, reinterpret_cast<const BYTE*>(blob->constData()),
                        static_cast<DWORD>(blob->size())))
            return;
    } else {
        if (!value.isEmpty()) qWarning("the system could not protect a setting; it is not kept");
        deleteValue(appName, section, protectedName);
    }
    // Blanked only after the protected copy is written: a failure between
    // the two leaves the plain value to be taken over at the next read.
    SaveSetting(appName, section, key, QString());
}

bool HasSecretSetting(const QString& appName, const QString& section, const QString& key) {
    return readValue(appName, section, key).has_value() ||
           readBinary(appName, section, key + kProtectedSuffix).has_value();
}

}  // namespace platform
