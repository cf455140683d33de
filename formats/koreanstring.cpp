#include "formats/koreanstring.h"

#include <algorithm>
#include <limits>

#include "core/errors.h"
#include "platform/textcodec.h"

namespace {

// Bytes of one code point in code page 949. The code page is stateless, so
// the sum over the code points equals the length of the whole conversion;
// characters it cannot hold become one '?'.
int Cp949Width(const QString& codePoint) {
    if (codePoint.size() == 1 && codePoint.at(0).unicode() < 0x80) return 1;
    return static_cast<int>(platform::ToCp949(codePoint).size());
}

}  // namespace

QString CKoreanString::LPad(const QString& text, short width, const QString& fill) {
    QString result;
    const auto pad = [&] {
        const short n = ByteLen(text);
        if (n > width) {
            result = LeftBytes(text, width, false);
            return;
        }
        if (fill.isEmpty()) throw core::RuntimeError(core::err::InvalidProcedureCall);
        result = QString(width - n, fill.at(0)) + text;
    };
    core::TrapErrors(QStringLiteral("LPad"), QStringLiteral("CKoreanString"), core::ModuleKind::ClassModule, pad);
    return result;
}

short CKoreanString::ByteLen(const QString& text) {
    const qsizetype n = platform::ToCp949(text).size();
    return static_cast<short>(std::min<qsizetype>(n, std::numeric_limits<short>::max()));
}

QString CKoreanString::LeftBytes(const QString& text, short count, bool noBlank) {
    // Walks the text by code points rather than cutting the converted bytes
    // and searching the cut in the text: that search mistakes a character
    // the code page cannot hold ('?') for a split one.
    if (count <= 0) return QString();
    int used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size() &&
                               text.at(i + 1).isLowSurrogate()) ? 2 : 1;
        const int w = Cp949Width(text.mid(i, len));
        if (used + w > count) break;
        used += w;
        i += len;
    }
    QString cut = text.left(i);
    // Room left over while characters remain: a double-byte one was split.
    if (i < text.size() && used < count && !noBlank) cut += QLatin1Char(' ');
    return cut;
}

namespace formats {

QString FormatSizeKb(qint64 bytes, QChar groupSep) {
    // Whole numbers, so that huge sizes stay exact and cannot overflow.
    const bool negative = bytes < 0;
    const quint64 magnitude = negative ? 0 - static_cast<quint64>(bytes) : static_cast<quint64>(bytes);
    const quint64 kb = magnitude / 1024 + (magnitude % 1024 >= 512 ? 1 : 0);
    QString digits = QString::number(kb);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, groupSep);
    return negative && kb != 0 ? QLatin1Char('-') + digits : digits;
}

QString FormatListLine(const QString& name, const QDateTime& utcMtime, qint64 size, QChar groupSep) {
    const QDateTime when = utcMtime.isValid() ? utcMtime : QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime local = when.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    const QString date = QStringLiteral("%1-%2-%3")
                             .arg(d.year(), 4, 10, QLatin1Char('0'))
                             .arg(d.month(), 2, 10, QLatin1Char('0'))
                             .arg(d.day(), 2, 10, QLatin1Char('0'));
    const QString time = QStringLiteral("%1시 %2분").arg(t.hour(), 2, 10, QLatin1Char('0')).arg(t.minute(), 2, 10, QLatin1Char('0'));
    return name + QLatin1Char(' ') + date + QLatin1Char(' ') + time +
           CKoreanString::LPad(FormatSizeKb(size, groupSep), 10, QStringLiteral(" ")) + QStringLiteral(" Kb");
}

}  // namespace formats
