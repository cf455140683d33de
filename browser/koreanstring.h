#pragma once
// Text width in columns of a fixed-pitch Hangul font: bytes of code page 949,
// where a Hangul character takes two columns and an ASCII character one.
#include <QChar>
#include <QDateTime>
#include <QString>

class CKoreanString {
public:
    // `text` brought to `width` columns: filled on the left with the first
    // character of `fill`, or cut to `width` columns when it is wider.
    static QString LPad(const QString& text, short width, const QString& fill);
    // Bytes `text` takes in code page 949. Longer texts than a 16-bit count
    // can hold report 32767 rather than wrapping into a negative width.
    static short ByteLen(const QString& text);
    // The longest start of `text` within `count` bytes, never half a
    // double-byte character; unless `noBlank`, a dropped half is made up by
    // one blank so the result keeps `count` bytes.
    static QString LeftBytes(const QString& text, short count, bool noBlank);
};

namespace listline {

// Size in kilobytes as "#,##0": halves away from zero, grouped by `groupSep`.
QString FormatSizeKb(qint64 bytes, QChar groupSep);

// «report.zip 2024-03-07 09시 05분    12,056 Kb»: local time of the machine's
// active time zone, seconds dropped.
QString FormatListLine(const QString& name, const QDateTime& utcMtime, qint64 size, QChar groupSep);

}  // namespace listline
