// Conversion by the database connection's character set name; the code
// page 949 conversion itself is the operating system's (posix/, win/).
#include "platform/textcodec.h"

#include <string_view>

namespace platform {
namespace {

enum class Kind { Utf8, Cp949, Latin1 };

Kind kindOf(const char* cs) {
    if (!cs) return Kind::Utf8;
    std::string_view n(cs);
    if (n == "euckr" || n == "euc-kr" || n == "EUCKR" || n == "cp949") return Kind::Cp949;
    if (n == "latin1") return Kind::Latin1;
    return Kind::Utf8;
}

}  // namespace

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
