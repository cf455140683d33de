#pragma once
// The check that a program file was published by the company: a minisign
// signature (formats/minisig.h) made with the company's key, whose public
// half is built in (ORVEL_UPDATE_PUBKEY), and whose signed comment names the
// file and its revision. Nothing that fails this check is ever run.
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

namespace update {

// The largest program file the update takes: a man in the middle cannot
// fill the disk, and the biggest build is a fraction of it.
inline constexpr qint64 kProgramMaxBytes = qint64{64} << 20;

// The signature of a file is kept beside it under this suffix.
inline constexpr char kSignatureSuffix[] = ".minisig";

enum class Verdict {
    Accepted,
    NoSignature,     // no signature file, or it could not be read
    Malformed,       // the signature file is not one
    OtherKey,        // made with a key that is not the built-in one
    BadSignature,    // the file's bytes or the signed comment do not match
    NotAStamp,       // the signed comment is not "file=<name> revision=<N>"
    WrongFile,       // signed for another file name
    WrongRevision,   // signed revision outside what is expected
    TooLarge,        // the file is larger than kProgramMaxBytes
    Unreadable,      // the file itself could not be read
    NotDownloaded,   // the file or its signature did not arrive whole
};

// A short English reason for the log.
QString VerdictText(Verdict v);

// What the signature must vouch for.
struct Expectation {
    QString file;                    // the published name (Windows: any case)
    qint32 minRevision = 0;          // the signed revision must lie in
    qint32 maxRevision = 0x7fffffff; // [minRevision, maxRevision]
};

// Checks a file's bytes, fed in order, against one signature file. The
// signature and its comment are judged when it is made; the file's bytes
// when finish() is called.
class SignatureCheck {
public:
    // `publicKeyLine`: the base64 line of a minisign ".pub" file; empty means
    // the built-in key.
    SignatureCheck(const QByteArray& signatureFile, const Expectation& expect,
                   const QByteArray& publicKeyLine = QByteArray());
    ~SignatureCheck();
    SignatureCheck(const SignatureCheck&) = delete;
    SignatureCheck& operator=(const SignatureCheck&) = delete;

    // The verdict on the signature alone: Accepted while the file's bytes
    // may still pass.
    Verdict early() const;
    void feed(const char* data, qint64 size);
    // The verdict on everything fed so far as the whole file.
    Verdict finish();
    // The signed revision (valid once early() is Accepted).
    qint32 revision() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Checks the file at `path` against `path` + kSignatureSuffix. `revision`
// (when given) receives the signed revision of an accepted file.
Verdict VerifyFile(const QString& path, const Expectation& expect, qint32* revision = nullptr,
                   const QByteArray& publicKeyLine = QByteArray());

}  // namespace update
