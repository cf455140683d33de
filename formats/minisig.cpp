#include "formats/minisig.h"

#include <QList>

namespace formats {

namespace {

const QByteArray kUntrustedPrefix = QByteArrayLiteral("untrusted comment: ");
const QByteArray kTrustedPrefix = QByteArrayLiteral("trusted comment: ");
constexpr qsizetype kKeyIdBytes = 8;
constexpr qsizetype kSignatureBytes = 64;
constexpr qsizetype kKeyBytes = 32;

// Strict base64: only the canonical text of some bytes is accepted, so one
// signature has one spelling.
std::optional<QByteArray> decodeBase64(const QByteArray& text) {
    const auto result =
        QByteArray::fromBase64Encoding(text, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.toBase64() != text) return std::nullopt;
    return result.decoded;
}

// The lines of `bytes`: LF or CR LF breaks, the last break optional, no
// other CR and no NUL anywhere.
std::optional<QList<QByteArray>> splitLines(const QByteArray& bytes) {
    if (bytes.contains('\0')) return std::nullopt;
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() > 1 && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r')) line.chop(1);
        if (line.contains('\r')) return std::nullopt;
    }
    return lines;
}

bool isDigits(const QByteArray& s) {
    if (s.isEmpty()) return false;
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::optional<Minisig> ParseMinisig(const QByteArray& bytes) {
    if (bytes.size() > kMinisigMaxBytes) return std::nullopt;
    const auto lines = splitLines(bytes);
    if (!lines || lines->size() != 4) return std::nullopt;
    if (!lines->at(0).startsWith(kUntrustedPrefix) || !lines->at(2).startsWith(kTrustedPrefix))
        return std::nullopt;

    const auto sig = decodeBase64(lines->at(1));
    const auto global = decodeBase64(lines->at(3));
    if (!sig || sig->size() != 2 + kKeyIdBytes + kSignatureBytes) return std::nullopt;
    if (!global || global->size() != kSignatureBytes) return std::nullopt;

    Minisig m;
    const QByteArray alg = sig->left(2);
    if (alg == "ED")
        m.prehashed = true;
    else if (alg != "Ed")
        return std::nullopt;
    m.keyId = sig->mid(2, kKeyIdBytes);
    m.signature = sig->mid(2 + kKeyIdBytes);
    m.trustedComment = lines->at(2).mid(kTrustedPrefix.size());
    m.globalSignature = *global;
    return m;
}

std::optional<MinisignPublicKey> ParseMinisignPublicKey(const QByteArray& line) {
    const auto key = decodeBase64(line.trimmed());
    if (!key || key->size() != 2 + kKeyIdBytes + kKeyBytes || key->left(2) != "Ed") return std::nullopt;
    return MinisignPublicKey{key->mid(2, kKeyIdBytes), key->mid(2 + kKeyIdBytes)};
}

std::optional<ReleaseStamp> ParseReleaseStamp(const QByteArray& trustedComment) {
    // Exactly two fields, in this order, one blank between them.
    const QList<QByteArray> fields = trustedComment.split(' ');
    if (fields.size() != 2 || !fields[0].startsWith("file=") || !fields[1].startsWith("revision=")) return std::nullopt;

    const QByteArray name = fields[0].mid(5);
    const QByteArray number = fields[1].mid(9);
    if (!isDigits(number) || (number.size() > 1 && number.startsWith('0')) || number.size() > 10) return std::nullopt;
    const qint64 revision = number.toLongLong();
    if (revision > 0x7fffffff) return std::nullopt;

    if (name.isEmpty() || name == "." || name == "..") return std::nullopt;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f || c == '/' || c == '\\' || c == ':') return std::nullopt;
    }
    const QString file = QString::fromUtf8(name);
    if (file.toUtf8() != name) return std::nullopt;  // not UTF-8
    return ReleaseStamp{file, static_cast<qint32>(revision)};
}

QByteArray MakeReleaseStamp(const QString& file, qint32 revision) {
    return "file=" + file.toUtf8() + " revision=" + QByteArray::number(revision);
}

}  // namespace formats
