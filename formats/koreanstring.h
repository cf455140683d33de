#pragma once
// Text width in columns of the fixed-pitch Hangul list font: bytes of code
// page 949, where a Hangul character takes two columns and ASCII one.
#include <QChar>
#include <QDateTime>
#include <QString>

class CKoreanString {
public:
    // `text` brought to `width` columns: filled on the left with the first
    // character of `fill`, or cut to `width` columns when it is wider. A
    // failure (empty `fill`) is reported and gives the result so far (empty).
    static QString LPad(const QString& text, short width, const QString& fill);

    // Bytes `text` takes in code page 949. A text longer than a 16-bit count
    // can hold reports 32767 instead of wrapping into a negative width.
    static short ByteLen(const QString& text);

    // The longest start of `text` that fits in `count` bytes without half a
    // double-byte character; unless `noBlank`, a dropped half is made up by
    // one blank so that the result again takes `count` bytes.
    static QString LeftBytes(const QString& text, short count, bool noBlank);
};

namespace formats {

// Size in kilobytes as "#,##0": bytes / 1024, halves away from zero, digits
// grouped in threes by `groupSep` (the caller passes the locale's).
QString FormatSizeKb(qint64 bytes, QChar groupSep);

// «report.zip 2024-03-07 09시 05분    12,056 Kb»: name, local date and time
// of the machine's active time zone (seconds dropped), size right-aligned to
// ten columns. An invalid time shows as the zero file time (1601-01-01 UTC),
// so that the columns still line up.
QString FormatListLine(const QString& name, const QDateTime& utcMtime, qint64 size, QChar groupSep);

}  // namespace formats
