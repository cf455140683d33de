// Signature files come from the update server and from the program folder.
// Whatever is accepted has the fields' exact sizes, reads the same once
// written out again, and a release stamp reads back to its own text.
#include <QByteArray>
#include <cstdint>

#include "formats/minisig.h"
#include "fuzz/fuzzcheck.h"

namespace {

void CheckStamp(const QByteArray& comment) {
    const auto stamp = formats::ParseReleaseStamp(comment);
    if (!stamp) return;
    FUZZ_CHECK(!stamp->file.isEmpty());
    FUZZ_CHECK(!stamp->file.contains(QLatin1Char('/')) && !stamp->file.contains(QLatin1Char('\\')));
    FUZZ_CHECK(stamp->file != QLatin1String("..") && stamp->file != QLatin1String("."));
    FUZZ_CHECK(stamp->revision >= 0);
    // One stamp has one spelling.
    FUZZ_CHECK(formats::MakeReleaseStamp(stamp->file, stamp->revision) == comment);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    if (const auto sig = formats::ParseMinisig(bytes)) {
        FUZZ_CHECK(sig->keyId.size() == 8);
        FUZZ_CHECK(sig->signature.size() == 64);
        FUZZ_CHECK(sig->globalSignature.size() == 64);
        FUZZ_CHECK(!sig->trustedComment.contains('\n') && !sig->trustedComment.contains('\r') &&
                   !sig->trustedComment.contains('\0'));
        const QByteArray again = "untrusted comment: x\n" +
                                 (QByteArray(sig->prehashed ? "ED" : "Ed") + sig->keyId + sig->signature).toBase64() +
                                 "\ntrusted comment: " + sig->trustedComment + "\n" + sig->globalSignature.toBase64();
        const auto reread = formats::ParseMinisig(again);
        FUZZ_CHECK(reread && reread->prehashed == sig->prehashed && reread->keyId == sig->keyId &&
                   reread->signature == sig->signature && reread->trustedComment == sig->trustedComment &&
                   reread->globalSignature == sig->globalSignature);
        CheckStamp(sig->trustedComment);
    }
    if (const auto key = formats::ParseMinisignPublicKey(bytes)) {
        FUZZ_CHECK(key->keyId.size() == 8 && key->key.size() == 32);
    }
    CheckStamp(bytes);
    return 0;
}
