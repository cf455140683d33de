// Revision numbers are read from the update server's text and from version
// texts in files. The input is taken as UTF-8 and as Latin-1 text.
#include <QString>
#include <cmath>
#include <cstdint>

#include "fuzz/fuzzcheck.h"
#include "core/errors.h"
#include "formats/vbval.h"

namespace {

void Exercise(const QString& text) {
    const double v = ReadLeadingNumber(text);
    FUZZ_CHECK(!std::isnan(v));
    try {
        const qint32 r = RoundToLong(v);
        FUZZ_CHECK(std::fabs(static_cast<double>(r) - v) <= 0.5);
    } catch (const platform::Error& e) {
        if (e.number() != 6) throw;
        // Only what really does not fit is an overflow.
        FUZZ_CHECK(!(std::fabs(v) < 2147483647.0));
    }

    double whole = 0;
    if (ReadWholeNumber(text, whole)) {
        FUZZ_CHECK(!std::isnan(whole));
        // Without blanks of any kind both readers see the same number.
        bool blanks = false;
        for (QChar c : text) blanks = blanks || c.isSpace();
        if (!blanks) FUZZ_CHECK(whole == v || (std::isinf(whole) && whole == v));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* s = reinterpret_cast<const char*>(data);
    const auto n = static_cast<qsizetype>(size);
    Exercise(QString::fromUtf8(s, n));
    Exercise(QString::fromLatin1(s, n));
    return 0;
}
