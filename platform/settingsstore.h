#pragma once
// Per-user application settings, addressed by application name, section and
// key, readable and writable by the user alone (it may hold a password):
// one INI file per application under the user's configuration folder
// (posix/), REG_SZ values under the user's registry key of per-application
// settings, where the earlier program kept them (win/).
#include <QString>

namespace platform {

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue = QString());
void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value);
// Whether the key exists (to tell "absent" from "empty").
bool HasSetting(const QString& appName, const QString& section, const QString& key);
// Where the settings of `appName` are kept (a file, or the registry key).
QString SettingsFilePath(const QString& appName);

}  // namespace platform
