// Settings in the user's registry hive, under the key where Windows keeps
// settings addressed by application, section and key, so the values the
// earlier program stored stay valid. Only the user (and administrators)
// can read the user's hive.
#include "platform/settingsstore.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace {

const QString kRoot = QStringLiteral("Software\\VB and VBA Program Settings\\");

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
    HKEY h = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, sectionKey(appName, section).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, &h, nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring name = wide(key);
    const std::wstring text = wide(value);
    ::RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(h);
}

}  // namespace platform
