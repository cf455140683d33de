#include "formats/vbval.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "core/errors.h"

namespace {

bool IsSkipped(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }
bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Scans a decimal number at `i` of `s` (already free of skipped blanks) into
// plain ASCII for from_chars; returns the position after it, or `i` when
// there is no number there.
qsizetype ScanDecimal(const QString& s, qsizetype i, std::string& ascii) {
    const qsizetype begin = i;
    ascii.clear();
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        if (s[i] == u'-') ascii += '-';
        ++i;
    }
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i])) {
            ascii += static_cast<char>(s[i].unicode());
            digits = true;
        } else if (s[i] == u'.' && !point) {
            ascii += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return begin;
    // The exponent counts only when digits follow its letter and sign.
    if (i < s.size() && QStringLiteral("EeDd").contains(s[i])) {
        qsizetype j = i + 1;
        std::string exp = "e";
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) exp += static_cast<char>(s[j++].unicode());
        const qsizetype firstExpDigit = j;
        while (j < s.size() && IsDigit(s[j])) exp += static_cast<char>(s[j++].unicode());
        if (j > firstExpDigit) {
            ascii += exp;
            i = j;
        }
    }
    return i;
}

// from_chars keeps the locale out (the program runs under the user's
// locale, whose decimal separator may not be '.'). Out of range means
// either too large (infinity) or too small (zero).
double ToDouble(const std::string& ascii) {
    double v = 0;
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    const auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Decimal magnitude: digits before the point (leading zeros aside)
        // plus the exponent.
        long long magnitude = 0;
        bool leading = true, afterPoint = false;
        size_t k = ascii[0] == '-' ? 1 : 0;
        for (; k < ascii.size() && ascii[k] != 'e'; ++k) {
            if (ascii[k] == '.') { afterPoint = true; continue; }
            if (ascii[k] != '0') leading = false;
            if (!afterPoint && !leading) ++magnitude;
            if (afterPoint && leading) --magnitude;
        }
        if (k < ascii.size()) {
            const std::string e = ascii.substr(k + 1);
            const bool neg = !e.empty() && e[0] == '-';
            const std::string d = (!e.empty() && (e[0] == '-' || e[0] == '+')) ? e.substr(1) : e;
            const long long ev = d.size() > 12 ? 1000000000000LL : std::stoll(d);
            magnitude += neg ? -ev : ev;
        }
        if (magnitude <= 0) return ascii[0] == '-' ? -0.0 : 0.0;
        return ascii[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    return ec == std::errc() ? v : 0.0;
}

}  // namespace

double ReadLeadingNumber(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!IsSkipped(c)) s += c;
    if (s.size() >= 2 && s[0] == u'&') {
        const QChar kind = s[1].toUpper();
        const int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
        if (base == 0) return 0;
        double v = 0;
        for (qsizetype i = 2; i < s.size(); ++i) {
            const int d = s[i].isDigit() && s[i].unicode() < 0x80 ? s[i].unicode() - '0'
                          : (base == 16 && s[i].toUpper() >= u'A' && s[i].toUpper() <= u'F')
                              ? s[i].toUpper().unicode() - 'A' + 10
                              : -1;
            if (d < 0 || d >= base) break;
            v = v * base + d;
        }
        return v;
    }
    std::string ascii;
    if (ScanDecimal(s, 0, ascii) == 0) return 0;
    return ToDouble(ascii);
}

qint32 RoundToLong(double v) {
    if (!std::isfinite(v)) throw core::RuntimeError(core::err::Overflow);
    const double floor = std::floor(v);
    const double diff = v - floor;
    double r = floor;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0.0)) r = floor + 1;
    if (r < static_cast<double>(std::numeric_limits<qint32>::min()) ||
        r > static_cast<double>(std::numeric_limits<qint32>::max()))
        throw core::RuntimeError(core::err::Overflow);
    return static_cast<qint32>(r);
}

bool ReadWholeNumber(const QString& text, double& value) {
    const QString s = text.trimmed();
    std::string ascii;
    const qsizetype end = ScanDecimal(s, 0, ascii);
    if (end == 0 || end != s.size()) return false;
    value = ToDouble(ascii);
    return true;
}
