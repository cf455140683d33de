#include "browser/koreanstring.h"

#include <limits>

#include "platform/errors.h"
#include "platform/textcodec.h"

QString CKoreanString::LPad(const QString& text, short width, const QString& fill) {
    QString result;
    try {
        const short n = ByteLen(text);
        if (n > width) {
            result = LeftBytes(text, width, false);
        } else {
            if (fill.isEmpty()) throw platform::Error(5, QString(), QStringLiteral("Invalid procedure call or argument"));
            result = QString(width - n, fill.at(0)) + text;
        }
    } catch (const platform::Error& e) {
        platform::ShowTrappedError(e, QStringLiteral("LPad"), QStringLiteral("CKoreanString"),
                                   platform::ModuleKind::ClassModule);
    }
    return result;
}

short CKoreanString::ByteLen(const QString& text) {
    const qsizetype n = platform::ToCp949(text).size();
    return static_cast<short>(std::min<qsizetype>(n, std::numeric_limits<short>::max()));
}

QString CKoreanString::LeftBytes(const QString& text, short count, bool noBlank) {
    if (count <= 0) return QString();
    QString cut = platform::FromCp949(platform::ToCp949(text).left(count));
    if (cut.isEmpty()) return cut;
    if (text.contains(cut)) return cut;
    // The last character is what is left of a split double-byte character.
    cut.chop(1);
    if (!noBlank) cut += QLatin1Char(' ');
    return cut;
}

namespace listline {

QString FormatSizeKb(qint64 bytes, QChar groupSep) {
    // Halves away from zero, in integers so that huge sizes stay exact.
    const qint64 kb = bytes >= 0 ? (bytes + 512) / 1024 : -((-bytes + 512) / 1024);
    QString digits = QString::number(kb < 0 ? -kb : kb);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, groupSep);
    return kb < 0 ? QLatin1Char('-') + digits : digits;
}

QString FormatListLine(const QString& name, const QDateTime& utcMtime, qint64 size, QChar groupSep) {
    const QDateTime local = utcMtime.toLocalTime();
    const QString date = local.toString(QStringLiteral("yyyy-MM-dd"));
    const QString time = local.toString(QStringLiteral("HH")) + QStringLiteral("시 ") +
                         local.toString(QStringLiteral("mm")) + QStringLiteral("분");
    return name + QLatin1Char(' ') + date + QLatin1Char(' ') + time +
           CKoreanString::LPad(FormatSizeKb(size, groupSep), 10, QStringLiteral(" ")) + QStringLiteral(" Kb");
}

}  // namespace listline
