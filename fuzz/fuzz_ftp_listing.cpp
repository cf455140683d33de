// FTP listings come straight from the server. The first byte picks MLSD or
// LIST parsing; the rest is the listing body, also fed line by line to each
// line parser.
#include <QByteArray>
#include <QDateTime>
#include <cstdint>

#include "formats/ftplisting.h"
#include "fuzz/fuzzcheck.h"

namespace {

void CheckEntry(const FtpEntry& e) {
    FUZZ_CHECK(!e.name.isEmpty());
    FUZZ_CHECK(e.size >= 0);
    FUZZ_CHECK(!e.mtimeUtc.isValid() || e.mtimeUtc.timeSpec() == Qt::UTC);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // A fixed "now" keeps runs reproducible; near a year end so that the
    // year guess of Unix dates is exercised across the boundary.
    static const QDateTime now(QDate(2024, 12, 31), QTime(23, 30), Qt::UTC);
    const bool mlsd = (data[0] & 1) != 0;
    const QByteArray body(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));

    for (const FtpEntry& e : ParseListing(body, mlsd, now)) {
        CheckEntry(e);
        FUZZ_CHECK(e.name != QLatin1String(".") && e.name != QLatin1String(".."));
    }

    for (QByteArray line : body.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        FtpEntry e;
        if (ParseMlsdLine(line, e)) CheckEntry(e);
        e = FtpEntry{};
        if (ParseUnixListLine(line, now, e)) {
            CheckEntry(e);
            FUZZ_CHECK(e.mtimeUtc.isValid());
        }
        e = FtpEntry{};
        if (ParseDosListLine(line, e)) {
            CheckEntry(e);
            FUZZ_CHECK(e.mtimeUtc.isValid());
        }
    }
    return 0;
}
