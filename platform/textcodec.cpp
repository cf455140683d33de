#include "platform/textcodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace platform {
namespace {

// Converts with iconv; unconvertible input becomes `bad` and conversion
// carries on, so a stray byte never loses the rest of the text.
QByteArray convert(const char* to, const char* from, const char* in, size_t inLen,
                   const char* bad, size_t badLen, size_t inUnit) {
    QByteArray out;
    if (inLen == 0) return out;
    iconv_t cd = iconv_open(to, from);
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
    iconv_close(cd);
    out.resize(static_cast<qsizetype>(dst - out.data()));
    return out;
}

enum class Kind { Utf8, Cp949, Latin1 };

Kind kindOf(const char* cs) {
    if (!cs) return Kind::Utf8;
    std::string_view n(cs);
    if (n == "euckr" || n == "euc-kr" || n == "EUCKR" || n == "cp949") return Kind::Cp949;
    if (n == "latin1") return Kind::Latin1;
    return Kind::Utf8;
}

}  // namespace

QByteArray ToCp949(const QString& text) {
    const QByteArray u16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return convert("CP949", "UTF-16LE", u16.constData(), static_cast<size_t>(u16.size()), "?", 1, 2);
}

QString FromCp949(const QByteArray& bytes) {
    const QByteArray u16 = convert("UTF-16LE", "CP949", bytes.constData(),
                                   static_cast<size_t>(bytes.size()), "\xFD\xFF", 2, 1);
    return QString(reinterpret_cast<const QChar*>(u16.constData()), u16.size() / 2);
}

QByteArray ToCharset(const QString& text, const char* mysqlCharset) {
    switch (kindOf(mysqlCharset)) {
        case Kind::Cp949: return ToCp949(text);
        case Kind::Latin1: return text.toLatin1();
        case Kind::Utf8: break;
    }
    return text.toUtf8();
}

QString FromCharset(const char* data, qsizetype len, const char* mysqlCharset) {
    if (!data || len <= 0) return {};
    switch (kindOf(mysqlCharset)) {
        case Kind::Cp949: return FromCp949(QByteArray(data, len));
        case Kind::Latin1: return QString::fromLatin1(data, len);
        case Kind::Utf8: break;
    }
    return QString::fromUtf8(data, len);
}

}  // namespace platform
