// Names from the server decide which local file is written. A name that is
// accepted must be one entry that the system stores as it is, and the text
// a message shows for a name must hide nothing. The input is raw UTF-16, so
// that any code unit, lone surrogates included, can occur.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstring>

#include "formats/localname.h"
#include "fuzz/fuzzcheck.h"

namespace {

using formats::NameRules;

bool hidden(char16_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
           c == 0x200E || c == 0x200F || c == 0x061C;
}

bool wellFormed(const QString& s) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate()) {
            if (i + 1 >= s.size() || !s[i + 1].isLowSurrogate()) return false;
            ++i;
        } else if (s[i].isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

void checkAccepted(const QString& name, NameRules rules) {
    FUZZ_CHECK(!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."));
    FUZZ_CHECK(wellFormed(name));
    for (QChar c : name) {
        FUZZ_CHECK(c != u'/' && c != u'\\' && !hidden(c.unicode()));
        if (rules == NameRules::Windows) FUZZ_CHECK(!QStringView(u"<>:\"|?*").contains(c));
    }
    if (rules == NameRules::Posix) {
        FUZZ_CHECK(name.toUtf8().size() <= formats::kMaxNameLength);
        return;
    }
    FUZZ_CHECK(name.size() <= formats::kMaxNameLength);
    // Win32 drops trailing dots and blanks: what is written must be the name.
    FUZZ_CHECK(!name.endsWith(u'.') && !name.endsWith(u' '));
    QString base = name.section(u'.', 0, 0);
    while (base.endsWith(u' ')) base.chop(1);
    base = base.toUpper();
    for (const char* d : {"CON", "PRN", "AUX", "NUL", "COM1", "COM5", "COM9", "LPT1", "LPT9"})
        FUZZ_CHECK(base != QLatin1String(d));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString name(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(name.data(), data, size / 2 * 2);  // copied: the bytes need not be aligned

    const bool windows = formats::IsWritableLocalName(name, NameRules::Windows);
    const bool posix = formats::IsWritableLocalName(name, NameRules::Posix);
    if (windows) checkAccepted(name, NameRules::Windows);
    if (posix) checkAccepted(name, NameRules::Posix);
    // Windows' rules only add refusals, except for the length it counts.
    if (windows && name.toUtf8().size() <= formats::kMaxNameLength) FUZZ_CHECK(posix);

    // What a message shows hides nothing, and changes nothing visible.
    const QString shown = formats::VisibleName(name);
    FUZZ_CHECK(wellFormed(shown));
    for (QChar c : shown) FUZZ_CHECK(!hidden(c.unicode()));
    if (posix) FUZZ_CHECK(shown == name);

    // Twins by case find each other, and a name is never its own twin.
    const QString upper = name.toUpper();
    FUZZ_CHECK(!formats::HasCaseTwin(name, {name}));
    FUZZ_CHECK(formats::HasCaseTwin(name, {upper}) == formats::HasCaseTwin(upper, {name}));
    return 0;
}
