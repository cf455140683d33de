// Version blocks are read out of files the update server hands us. The input
// is taken both as a whole file (PE or ELF) and as a bare block.
#include <QByteArray>
#include <QStringList>
#include <cstdint>

#include "fuzz/fuzzcheck.h"
#include "formats/versioninfo.h"

namespace {

void CheckInfo(const QByteArray& block) {
    const QStringList info = GetFileVerInfoFromBlock(block);
    FUZZ_CHECK(block.isEmpty() ? info.isEmpty() : info.size() == 13);
    static const char* const kLabels[] = {"CompanyName",     "FileDescription", "FileVersion",
                                          "InternalName",    "LegalCopyright",  "OriginalFilename",
                                          "ProductName",     "ProductVersion",  "Comments",
                                          "LegalTrademarks", "PrivateBuild",    "SpecialBuild"};
    for (qsizetype i = 0; i < info.size() && i < 12; ++i)
        FUZZ_CHECK(info[i].startsWith(QLatin1String(kLabels[i]) + QLatin1String(": ")));
    if (info.size() == 13) FUZZ_CHECK(info[12].startsWith(QLatin1String("Language")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray block = ExtractVersionBlock(bytes);
    // What comes out is a piece of what went in.
    FUZZ_CHECK(block.size() <= bytes.size());
    FUZZ_CHECK(block.isEmpty() || bytes.contains(block));
    CheckInfo(block);
    CheckInfo(bytes);
    return 0;
}
