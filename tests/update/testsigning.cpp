#include "testsigning.h"

#include <sodium.h>

#include <QFile>
#include <map>
#include <stdexcept>

#include "formats/minisig.h"

namespace testsign {

namespace {

QByteArray secondLine(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read " + path.toStdString());
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.size() < 2) throw std::runtime_error("no key in " + path.toStdString());
    return lines[1].trimmed();
}

// An unencrypted minisign secret key: "Ed", KDF none, "B2", salt (32),
// limits (2 x 8), then key id (8), secret key (64) and a checksum (32).
Key load(const QString& name) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium");
    const QByteArray sk = QByteArray::fromBase64(secondLine(KeyDir() + QLatin1Char('/') + name + QStringLiteral(".key")));
    if (sk.size() != 158 || sk.left(2) != "Ed" || sk.mid(2, 2) != QByteArray(2, '\0'))
        throw std::runtime_error("not an unencrypted minisign key: " + name.toStdString());
    Key key;
    key.keyId = sk.mid(54, 8);
    key.secret = sk.mid(62, 64);
    key.publicLine = secondLine(KeyDir() + QLatin1Char('/') + name + QStringLiteral(".pub"));
    const auto pub = formats::ParseMinisignPublicKey(key.publicLine);
    if (!pub || pub->keyId != key.keyId || pub->key != key.secret.mid(32))
        throw std::runtime_error("the key files of " + name.toStdString() + " do not belong together");
    return key;
}

QByteArray detached(const QByteArray& message, const Key& key) {
    QByteArray sig(crypto_sign_BYTES, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(sig.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char*>(key.secret.constData()));
    return sig;
}

}  // namespace

QString KeyDir() { return QStringLiteral(ORVEL_UPDATE_KEY_DIR); }

const Key& LoadKey(const QString& name) {
    static std::map<QString, Key> keys;
    auto it = keys.find(name);
    if (it == keys.end()) it = keys.emplace(name, load(name)).first;
    return it->second;
}

QByteArray Sign(const QByteArray& content, const QByteArray& trustedComment, const Key& key, bool prehashed) {
    QByteArray message = content;
    if (prehashed) {
        message = QByteArray(crypto_generichash_BYTES_MAX, '\0');
        crypto_generichash(reinterpret_cast<unsigned char*>(message.data()), crypto_generichash_BYTES_MAX,
                           reinterpret_cast<const unsigned char*>(content.constData()),
                           static_cast<unsigned long long>(content.size()), nullptr, 0);
    }
    const QByteArray sig = detached(message, key);
    const QByteArray global = detached(sig + trustedComment, key);
    return "untrusted comment: signature from the test signer\n" +
           (QByteArray(prehashed ? "ED" : "Ed") + key.keyId + sig).toBase64() + "\ntrusted comment: " +
           trustedComment + "\n" + global.toBase64() + "\n";
}

QByteArray SignRelease(const QByteArray& content, const QString& name, qint32 revision, const Key& key) {
    return Sign(content, formats::MakeReleaseStamp(name, revision), key);
}

}  // namespace testsign
