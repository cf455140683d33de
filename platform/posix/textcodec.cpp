// Code page 949 through iconv.
#include "platform/textcodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// Converts with iconv; unconvertible input becomes `bad` and conversion
// carries on, so a stray byte never loses the rest of the text.
// Opening a conversion is far dearer than most conversions: keep one per
// direction and thread.
struct Converter {
    iconv_t cd;
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

iconv_t converter(const char* to, const char* /*from*/) {
    thread_local Converter toCp949("CP949", "UTF-16LE");
    thread_local Converter fromCp949("UTF-16LE", "CP949");
    iconv_t cd = std::strcmp(to, "CP949") == 0 ? toCp949.cd : fromCp949.cd;
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset state
    return cd;
}

QByteArray convert(const char* to, const char* from, const char* in, size_t inLen,
                   const char* bad, size_t badLen, size_t inUnit) {
    QByteArray out;
    if (inLen == 0) return out;
    iconv_t cd = converter(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return QByteArray(in, static_cast<qsizetype>(inLen));
    out.resize(static_cast<qsizetype>(inLen * 2 + 16));
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLen;
    char* dst = out.data();
    size_t dstLeft = static_cast<size_t>(out.size());
    while (srcLeft > 0) {
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            const auto used = static_cast<qsizetype>(dst - out.data());
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = static_cast<size_t>(out.size() - used);
            continue;
        }
        // EILSEQ or EINVAL: replace one input unit and go on.
        if (dstLeft < badLen) {
            const auto used = static_cast<qsizetype>(dst - out.data());
            out.resize(out.size() * 2 + static_cast<qsizetype>(badLen));
            dst = out.data() + used;
            dstLeft = static_cast<size_t>(out.size() - used);
        }
        std::memcpy(dst, bad, badLen);
        dst += badLen;
        dstLeft -= badLen;
        const size_t skip = srcLeft < inUnit ? srcLeft : inUnit;
        src += skip;
        srcLeft -= skip;
    }
    out.resize(static_cast<qsizetype>(dst - out.data()));
    return out;
}

}  // namespace

static bool isAscii(const char16_t* p, qsizetype n) {
    for (qsizetype i = 0; i < n; ++i)
        if (p[i] >= 0x80) return false;
    return true;
}

QByteArray ToCp949(const QString& text) {
    // ASCII is the same in code page 949: no conversion needed.
    if (isAscii(reinterpret_cast<const char16_t*>(text.utf16()), text.size())) return text.toLatin1();
    const QByteArray u16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return convert("CP949", "UTF-16LE", u16.constData(), static_cast<size_t>(u16.size()), "?", 1, 2);
}

QString FromCp949(const QByteArray& bytes) {
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) return QString::fromLatin1(bytes);
    const QByteArray u16 = convert("UTF-16LE", "CP949", bytes.constData(),
                                   static_cast<size_t>(bytes.size()), "\xFD\xFF", 2, 1);
    return QString(reinterpret_cast<const QChar*>(u16.constData()), u16.size() / 2);
}

}  // namespace platform
