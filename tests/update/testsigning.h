#pragma once
// Signing in the tests: the key pairs of tests/data/update-key (made by
// minisign -G -W) and signatures in minisign's format, made in-process so
// that every build, the Windows one under wine too, can sign what it serves.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace testsign {

struct Key {
    QByteArray keyId;       // 8 bytes
    QByteArray secret;      // 64 bytes, libsodium's form
    QByteArray publicLine;  // the base64 line of the .pub file
};

// "test" (the built-in key of test builds) or "other" (a stranger's key).
const Key& LoadKey(const QString& name);
QString KeyDir();

// A signature file over `content` carrying `trustedComment`.
QByteArray Sign(const QByteArray& content, const QByteArray& trustedComment, const Key& key, bool prehashed = true);
// The same with the release comment "file=<name> revision=<N>".
QByteArray SignRelease(const QByteArray& content, const QString& name, qint32 revision,
                       const Key& key = LoadKey(QStringLiteral("test")));

}  // namespace testsign
