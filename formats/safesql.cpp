#include "formats/safesql.h"

namespace formats {

QString QuoteSqlText(const QString& text) {
    QString s = text;
    const qsizetype nul = s.indexOf(QChar(u'\0'));
    if (nul >= 0) s.truncate(nul);
    s.replace(QStringLiteral("'"), QStringLiteral("''"));
    s.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return s;
}

}  // namespace formats
