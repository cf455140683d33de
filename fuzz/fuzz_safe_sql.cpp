// User names and passwords typed at sign-in go into SQL between single
// quotes. The escaped text must make exactly one string literal that the
// server reads back as the typed text (up to its first NUL), in each
// connection character set the program converts to. The first input byte
// picks how the rest becomes text (UTF-8 or raw UTF-16, so that any code
// unit, NUL and lone surrogates included, can occur).
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstring>
#include <optional>

#include "fuzz/fuzzcheck.h"
#include "formats/safesql.h"
#include "platform/textcodec.h"

namespace {

// Double-byte characters of code page 949: their second byte may be ASCII
// (letters), but never a quote or a backslash; the server's scanner steps
// over such pairs as one character.
bool IsCp949Lead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Reads a quoted literal the way the server does with backslash escapes on
// and returns its value, or nothing when `sql` is not exactly one literal
// (an unescaped quote ending it early, or an unterminated one).
std::optional<QByteArray> DecodeLiteral(const QByteArray& sql, bool cp949) {
    if (sql.size() < 2 || sql[0] != '\'') return std::nullopt;
    QByteArray out;
    qsizetype i = 1;
    while (i < sql.size()) {
        const auto c = static_cast<unsigned char>(sql[i]);
        if (cp949 && IsCp949Lead(c) && i + 1 < sql.size()) {
            out += sql.mid(i, 2);
            i += 2;
            continue;
        }
        if (c == '\\') {
            if (i + 1 >= sql.size()) return std::nullopt;
            const char e = sql[i + 1];
            switch (e) {
                case '0': out += '\0'; break;
                case 'b': out += '\b'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'Z': out += '\x1A'; break;
                case '%': out += "\\%"; break;  // kept for LIKE patterns
                case '_': out += "\\_"; break;
                default: out += e; break;       // \\ \' \" and any other letter
            }
            i += 2;
            continue;
        }
        if (c == '\'') {
            if (i + 1 < sql.size() && sql[i + 1] == '\'') {
                out += '\'';
                i += 2;
                continue;
            }
            // The closing quote must be the last byte.
            if (i + 1 != sql.size()) return std::nullopt;
            return out;
        }
        out += static_cast<char>(c);
        ++i;
    }
    return std::nullopt;
}

void CheckIn(const QString& typed, const QString& escaped, const char* charset, bool cp949) {
    const QByteArray sql = platform::ToCharset(QLatin1Char('\'') + escaped + QLatin1Char('\''), charset);
    const std::optional<QByteArray> value = DecodeLiteral(sql, cp949);
    FUZZ_CHECK(value.has_value());
    FUZZ_CHECK(*value == platform::ToCharset(typed, charset));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char* rest = reinterpret_cast<const char*>(data) + 1;
    const auto n = static_cast<qsizetype>(size - 1);
    QString input;
    if (data[0] & 1) {
        input.resize(n / 2);  // copied, since the bytes need not be aligned
        std::memcpy(input.data(), rest, static_cast<size_t>(n / 2) * 2);
    } else {
        input = QString::fromUtf8(rest, n);
    }
    const QString escaped = formats::QuoteSqlText(input);
    QString typed = input;
    const qsizetype nul = typed.indexOf(QChar(u'\0'));
    if (nul >= 0) typed.truncate(nul);

    // In Unicode first: '' and \\ are the only escapes it may use.
    QString back;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const QChar c = escaped[i];
        if (c == u'\'' || c == u'\\') {
            FUZZ_CHECK(i + 1 < escaped.size() && escaped[i + 1] == c);
            ++i;
        }
        back += c;
    }
    FUZZ_CHECK(back == typed);

    CheckIn(typed, escaped, "utf8mb4", false);
    CheckIn(typed, escaped, "latin1", false);
    CheckIn(typed, escaped, "euckr", true);
    return 0;
}
