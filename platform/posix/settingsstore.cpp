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

}  // namespace platform
