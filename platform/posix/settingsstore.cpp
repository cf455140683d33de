#include "platform/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString groupKey(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

// Creates the file with owner-only permissions before QSettings writes it;
// QSettings' atomic save then keeps those permissions.
void ensurePrivateFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray p = QFile::encodeName(path);
    int fd = ::open(p.constData(), O_WRONLY | O_CREAT, 0600);
    if (fd >= 0) ::close(fd);
    ::chmod(p.constData(), 0600);
}

}  // namespace

QString SettingsFilePath(const QString& appName) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/") + appName + QStringLiteral(".ini");
}

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue) {
    QSettings s(SettingsFilePath(appName), QSettings::IniFormat);
    return s.value(groupKey(section, key), defaultValue).toString();
}

bool HasSetting(const QString& appName, const QString& section, const QString& key) {
    QSettings s(SettingsFilePath(appName), QSettings::IniFormat);
    return s.contains(groupKey(section, key));
}

void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value) {
    const QString path = SettingsFilePath(appName);
    ensurePrivateFile(path);
    QSettings s(path, QSettings::IniFormat);
    s.setValue(groupKey(section, key), value);
    s.sync();
    ::chmod(QFile::encodeName(path).constData(), 0600);
}

QString GetSecretSetting(const QString& appName, const QString& section, const QString& key,
                         const QString& defaultValue) {
    // A file an earlier build or another tool left readable to others is
    // made owner-only before its password is used.
    const QByteArray p = QFile::encodeName(SettingsFilePath(appName));
    struct stat st {};
    if (::stat(p.constData(), &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 077) != 0)
        ::chmod(p.constData(), 0600);
    return GetSetting(appName, section, key, defaultValue);
}

void SaveSecretSetting(const QString& appName, const QString& section, const QString& key,
                       const QString& value) {
    SaveSetting(appName, section, key, value);
}

bool HasSecretSetting(const QString& appName, const QString& section, const QString& key) {
    return HasSetting(appName, section, key);
}

std::optional<QByteArray> ProtectSecret(const QString& text, const QString& /*purpose*/) { return text.toUtf8(); }

std::optional<QString> UnprotectSecret(const QByteArray& blob, const QString& /*purpose*/) {
    return QString::fromUtf8(blob);
}

}  // namespace platform
