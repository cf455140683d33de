#include "formats/localname.h"

namespace formats {
namespace {

bool isBidiControl(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F ||
           c == 0x061C;
}

bool isControl(char16_t c) { return c < 0x20 || c == 0x7F; }

// Characters that cannot be seen, or that change how the rest is shown.
bool isHidden(const QString& s, qsizetype i) {
    const char16_t c = s[i].unicode();
    if (isControl(c) || isBidiControl(c)) return true;
    if (QChar::isHighSurrogate(c)) return i + 1 >= s.size() || !s[i + 1].isLowSurrogate();
    if (QChar::isLowSurrogate(c)) return i == 0 || !s[i - 1].isHighSurrogate();
    return false;
}

// The names Win32 opens as devices whatever folder or extension they come
// with: "con.txt" or "LPT1 .log" is the device, never a file.
bool isDeviceName(const QString& name) {
    QString base = name.left(name.indexOf(QLatin1Char('.')));
    while (base.endsWith(QLatin1Char(' '))) base.chop(1);
    base = base.toUpper();
    static const char* const kFixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : kFixed)
        if (base == QLatin1String(d)) return true;
    if (base.size() != 4 || !(base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT"))))
        return false;
    // The digits 1 to 9, and the superscripts one to three that the system
    // takes for the same ports.
    const char16_t n = base[3].unicode();
    return (n >= u'1' && n <= u'9') || n == 0x00B9 || n == 0x00B2 || n == 0x00B3;
}

}  // namespace

bool IsWritableLocalName(const QString& name, NameRules rules) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c == u'/' || c == u'\\' || isHidden(name, i)) return false;
        if (rules == NameRules::Windows && QStringView(u"<>:\"|?*").contains(QChar(c))) return false;
    }
    if (rules == NameRules::Posix) return name.toUtf8().size() <= kMaxNameLength;
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))) return false;
    return name.size() <= kMaxNameLength && !isDeviceName(name);
}

bool HasCaseTwin(const QString& name, const QStringList& listed) {
    for (const QString& other : listed)
        if (other != name && other.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

QString VisibleName(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isHidden(name, i))
            out += QStringLiteral("<U+%1>").arg(name[i].unicode(), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += name[i];
    }
    return out;
}

}  // namespace formats
