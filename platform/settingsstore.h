#pragma once
// Per-user application settings, addressed by application name, section and
// key, readable and writable by the user alone (it may hold a password):
// one INI file per application under the user's configuration folder
// (posix/), REG_SZ values under the user's registry key of per-application
// settings, where the earlier program kept them (win/).
#include <QByteArray>
#include <QString>
#include <optional>

namespace platform {

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue = QString());
void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value);
// Whether the key exists (to tell "absent" from "empty").
bool HasSetting(const QString& appName, const QString& section, const QString& key);
// Where the settings of `appName` are kept (a file, or the registry key).
QString SettingsFilePath(const QString& appName);

// A setting that holds a secret (the remembered password), under the same
// application, section and key. On Windows the text is kept encrypted with
// the user's data-protection key, bound to this program and to the setting,
// in a value of its own beside the plain one ("<key>_protected"), which
// stays blank so that an earlier build finds no password there. A plain
// value that is not blank (left by an earlier build) is taken over once:
// stored protected, then blanked. Elsewhere the file's owner-only mode is the
// protection (its mode is set right again on every read).
QString GetSecretSetting(const QString& appName, const QString& section, const QString& key,
                         const QString& defaultValue = QString());
// An empty value removes the protected copy and leaves the plain value blank.
// When the system cannot protect the text, it is not kept at all.
void SaveSecretSetting(const QString& appName, const QString& section, const QString& key,
                       const QString& value);
bool HasSecretSetting(const QString& appName, const QString& section, const QString& key);

// The protection itself: bytes that only this user (on Windows: on this
// machine) turns back into `text`, and only for the same `purpose`; none
// when the system refuses. A setting's purpose is "app/section/key". Where
// the store is private by its file mode, the bytes are the UTF-8 text.
std::optional<QByteArray> ProtectSecret(const QString& text, const QString& purpose);
std::optional<QString> UnprotectSecret(const QByteArray& blob, const QString& purpose);

}  // namespace platform
