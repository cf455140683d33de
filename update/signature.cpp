#include "update/signature.h"

#include <sodium.h>

#include <QFile>
#include <optional>

#include "buildconfig.h"
#include "formats/minisig.h"

namespace update {

namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

const auto* bytesOf(const QByteArray& b) { return reinterpret_cast<const unsigned char*>(b.constData()); }

bool sameFileName(const QString& a, const QString& b) {
#ifdef Q_OS_WIN
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    return a == b;
#endif
}

}  // namespace

QString VerdictText(Verdict v) {
    switch (v) {
        case Verdict::Accepted: return QStringLiteral("signature verified");
        case Verdict::NoSignature: return QStringLiteral("no signature");
        case Verdict::Malformed: return QStringLiteral("the signature file is malformed");
        case Verdict::OtherKey: return QStringLiteral("signed with another key");
        case Verdict::BadSignature: return QStringLiteral("the signature does not match");
        case Verdict::NotAStamp: return QStringLiteral("the signed comment names no file and revision");
        case Verdict::WrongFile: return QStringLiteral("signed for another file");
        case Verdict::WrongRevision: return QStringLiteral("signed for another revision");
        case Verdict::TooLarge: return QStringLiteral("the file is too large");
        case Verdict::Unreadable: return QStringLiteral("the file cannot be read");
        case Verdict::NotDownloaded: return QStringLiteral("the download failed");
    }
    return QString();
}

struct SignatureCheck::Impl {
    Verdict early = Verdict::Malformed;
    formats::Minisig sig;
    QByteArray key;
    qint32 revision = 0;
    crypto_generichash_state hash{};
    QByteArray whole;  // the file itself, for a signature over the bytes ("Ed")
    bool tooLarge = false;
};

SignatureCheck::SignatureCheck(const QByteArray& signatureFile, const Expectation& expect,
                               const QByteArray& publicKeyLine)
    : d_(std::make_unique<Impl>()) {
    Impl& d = *d_;
    const std::optional<formats::MinisignPublicKey> key =
        formats::ParseMinisignPublicKey(publicKeyLine.isEmpty() ? QByteArray(buildconfig::kUpdatePublicKey) : publicKeyLine);
    const std::optional<formats::Minisig> sig = formats::ParseMinisig(signatureFile);
    if (!sig || !key || !sodiumReady()) {
        d.early = Verdict::Malformed;
        return;
    }
    d.sig = *sig;
    d.key = key->key;
    if (sig->keyId != key->keyId) {
        d.early = Verdict::OtherKey;
        return;
    }
    // The comment counts only when the key vouches for it.
    const QByteArray global = sig->signature + sig->trustedComment;
    if (crypto_sign_verify_detached(bytesOf(sig->globalSignature), bytesOf(global),
                                    static_cast<unsigned long long>(global.size()), bytesOf(d.key)) != 0) {
        d.early = Verdict::BadSignature;
        return;
    }
    const std::optional<formats::ReleaseStamp> stamp = formats::ParseReleaseStamp(sig->trustedComment);
    if (!stamp) {
        d.early = Verdict::NotAStamp;
        return;
    }
    if (!sameFileName(stamp->file, expect.file)) {
        d.early = Verdict::WrongFile;
        return;
    }
    if (stamp->revision < expect.minRevision || stamp->revision > expect.maxRevision) {
        d.early = Verdict::WrongRevision;
        return;
    }
    d.revision = stamp->revision;
    if (d.sig.prehashed) crypto_generichash_init(&d.hash, nullptr, 0, crypto_generichash_BYTES_MAX);
    d.early = Verdict::Accepted;
}

SignatureCheck::~SignatureCheck() = default;

Verdict SignatureCheck::early() const { return d_->early; }

qint32 SignatureCheck::revision() const { return d_->revision; }

void SignatureCheck::feed(const char* data, qint64 size) {
    Impl& d = *d_;
    if (d.early != Verdict::Accepted || size <= 0) return;
    if (d.sig.prehashed) {
        crypto_generichash_update(&d.hash, reinterpret_cast<const unsigned char*>(data),
                                  static_cast<unsigned long long>(size));
    } else if (d.whole.size() + size > kProgramMaxBytes) {
        d.tooLarge = true;
    } else {
        d.whole.append(data, static_cast<qsizetype>(size));
    }
}

Verdict SignatureCheck::finish() {
    Impl& d = *d_;
    if (d.early != Verdict::Accepted) return d.early;
    if (d.tooLarge) return Verdict::TooLarge;
    QByteArray message = d.whole;
    if (d.sig.prehashed) {
        message.resize(crypto_generichash_BYTES_MAX);
        crypto_generichash_final(&d.hash, reinterpret_cast<unsigned char*>(message.data()),
                                 crypto_generichash_BYTES_MAX);
        // A second finish() must not hash a finished state.
        d.sig.prehashed = false;
        d.whole = message;
    }
    return crypto_sign_verify_detached(bytesOf(d.sig.signature), bytesOf(message),
                                       static_cast<unsigned long long>(message.size()), bytesOf(d.key)) == 0
               ? Verdict::Accepted
               : Verdict::BadSignature;
}

Verdict VerifyFile(const QString& path, const Expectation& expect, qint32* revision, const QByteArray& publicKeyLine) {
    QFile sigFile(path + QLatin1String(kSignatureSuffix));
    if (!sigFile.open(QIODevice::ReadOnly)) return Verdict::NoSignature;
    // One byte more than a signature may have tells a longer file apart.
    const QByteArray sigBytes = sigFile.read(formats::kMinisigMaxBytes + 1);

    SignatureCheck check(sigBytes, expect, publicKeyLine);
    if (check.early() != Verdict::Accepted) return check.early();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Verdict::Unreadable;
    if (file.size() > kProgramMaxBytes) return Verdict::TooLarge;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got < 0) return Verdict::Unreadable;
        if (got == 0) break;
        check.feed(buffer.constData(), got);
    }
    const Verdict v = check.finish();
    if (v == Verdict::Accepted && revision) *revision = check.revision();
    return v;
}

}  // namespace update
