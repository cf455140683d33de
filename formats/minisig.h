#pragma once
// Detached signatures in the minisign format, as the update server serves
// them beside each program ("<file>.minisig"), and the public key line of a
// minisign ".pub" file. Only the reading of untrusted bytes lives here; the
// cryptographic check is update/signature.h.
//
// A signature file is four lines (LF or CR LF, the last break optional):
//   untrusted comment: <anything>
//   base64( "Ed" or "ED" | key id (8 bytes) | Ed25519 signature (64 bytes) )
//   trusted comment: <text>
//   base64( Ed25519 signature of the signature bytes followed by <text> )
// "ED" signs the BLAKE2b-512 digest of the file, "Ed" the file itself.
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace formats {

// A signature file longer than this is not one (minisign's own comments are
// far shorter); readers stop there.
inline constexpr qint64 kMinisigMaxBytes = 4096;

struct Minisig {
    bool prehashed = false;       // "ED": the file's BLAKE2b-512 digest was signed
    QByteArray keyId;             // 8 bytes
    QByteArray signature;         // 64 bytes
    QByteArray trustedComment;    // the text after "trusted comment: ", exactly as signed
    QByteArray globalSignature;   // 64 bytes, over signature + trustedComment
};

// The signature in `bytes`, or nothing when they are not exactly one
// well-formed signature file.
std::optional<Minisig> ParseMinisig(const QByteArray& bytes);

struct MinisignPublicKey {
    QByteArray keyId;  // 8 bytes
    QByteArray key;    // 32 bytes
};

// The key in the base64 line of a ".pub" file ("RW..."), blanks around it
// allowed; nothing when it is not an Ed25519 key.
std::optional<MinisignPublicKey> ParseMinisignPublicKey(const QByteArray& line);

// What a release signature vouches for: the name the file is published
// under and its revision.
struct ReleaseStamp {
    QString file;
    qint32 revision = 0;
};

// Reads a trusted comment of the exact form "file=<name> revision=<N>":
// <name> is one file name (no path, no blank, no control character, not "."
// or ".."), UTF-8; <N> is decimal digits without sign or leading zero, at
// most the largest 32-bit revision. Anything else gives nothing.
std::optional<ReleaseStamp> ParseReleaseStamp(const QByteArray& trustedComment);

// The trusted comment that ParseReleaseStamp reads back as `file`, `revision`.
QByteArray MakeReleaseStamp(const QString& file, qint32 revision);

}  // namespace formats
