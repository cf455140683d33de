#include "browser/lineformatter.h"

#include "formats/koreanstring.h"

namespace browser {
namespace {

constexpr qint64 kDay = 86400;

// The zero file time (1601-01-01 00:00 UTC), shown for an entry without a time.
constexpr qint64 kZeroFileTime = -11644473600;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Proleptic Gregorian date of a day counted from 1970-01-01.
void civilFromDays(qint64 z, qint64& y, int& m, int& d) {
    z += 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

int qtOffset(qint64 utcSecs) { return QDateTime::fromSecsSinceEpoch(utcSecs, Qt::UTC).toLocalTime().offsetFromUtc(); }

QChar* putDigits(QChar* p, qint64 v, int width) {
    for (int i = width - 1; i >= 0; --i, v /= 10) p[i] = QChar(u'0' + static_cast<char16_t>(v % 10));
    return p + width;
}

}  // namespace

LineFormatter::LineFormatter(QChar groupSep)
    : sep_(groupSep), sepWidth_(CKoreanString::ByteLen(QString(groupSep))) {}

int LineFormatter::OffsetAt(qint64 utcSecs) {
    const qint64 day = floorDiv(utcSecs, kDay);
    if (day != lastDay_) {
        auto it = dayOffset_.constFind(day);
        if (it == dayOffset_.constEnd()) {
            const int first = qtOffset(day * kDay);
            const int last = qtOffset(day * kDay + kDay - 1);
            it = dayOffset_.insert(day, first == last ? first : kChangeDay);
        }
        lastDay_ = day;
        lastOffset_ = *it;
    }
    return lastOffset_ == kChangeDay ? qtOffset(utcSecs) : lastOffset_;
}

QString LineFormatter::Format(const QString& name, const QDateTime& utcMtime, qint64 size) {
    // Size in kilobytes, digits grouped in threes, right to left.
    const bool negative = size < 0;
    const quint64 magnitude = negative ? 0 - static_cast<quint64>(size) : static_cast<quint64>(size);
    quint64 kb = magnitude / 1024 + (magnitude % 1024 >= 512 ? 1 : 0);
    QChar digits[32];
    int n = 0;  // characters in digits[32 - n, 32)
    do {
        if (n % 4 == 3) digits[31 - n++] = sep_;
        digits[31 - n++] = QChar(u'0' + static_cast<char16_t>(kb % 10));
        kb /= 10;
    } while (kb > 0);
    int columns = 0;
    for (int i = 32 - n; i < 32; ++i) columns += digits[i] == sep_ ? sepWidth_ : 1;
    if (negative || columns > 10)
        return formats::FormatListLine(name, utcMtime, size, sep_);  // rare: the general routine cuts or signs

    const qint64 utc = utcMtime.isValid() ? utcMtime.toSecsSinceEpoch() : kZeroFileTime;
    const qint64 local = utc + OffsetAt(utc);
    const qint64 day = floorDiv(local, kDay);
    const qint64 secOfDay = local - day * kDay;
    qint64 y = 0;
    int mo = 0, d = 0;
    civilFromDays(day, y, mo, d);
    if (y < 0 || y > 9999) return formats::FormatListLine(name, utcMtime, size, sep_);

    QString line(name.size() + 1 + 10 + 1 + 9 + 10 + 3, Qt::Uninitialized);
    QChar* p = line.data();
    std::copy(name.cbegin(), name.cend(), p);
    p += name.size();
    *p++ = QLatin1Char(' ');
    p = putDigits(p, y, 4);
    *p++ = QLatin1Char('-');
    p = putDigits(p, mo, 2);
    *p++ = QLatin1Char('-');
    p = putDigits(p, d, 2);
    *p++ = QLatin1Char(' ');
    p = putDigits(p, secOfDay / 3600, 2);
    *p++ = QChar(u'시');
    *p++ = QLatin1Char(' ');
    p = putDigits(p, secOfDay / 60 % 60, 2);
    *p++ = QChar(u'분');
    for (int i = columns; i < 10; ++i) *p++ = QLatin1Char(' ');
    p = std::copy(digits + 32 - n, digits + 32, p);
    *p++ = QLatin1Char(' ');
    *p++ = QLatin1Char('K');
    *p++ = QLatin1Char('b');
    line.truncate(p - line.constData());
    return line;
}

}  // namespace browser
