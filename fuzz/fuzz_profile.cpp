// config.ini sits beside the program where anyone may edit it. The input
// picks a section and key, carries a value, and the rest is the file. Reads
// must not crash; a write must store exactly what it reports stored and
// leave every other line as it was. The parser runs on the bytes in memory:
// the file functions only add reading, locking and an atomic replace, which
// the unit tests cover, and a disk write per input would cut the rate
// twentyfold.
#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

#include "fuzz/fuzzcheck.h"
#include "formats/profile.h"
#include "platform/textcodec.h"

namespace {

using formats::ProfileValue;
using formats::ProfileWithValue;

struct Name {
    QString section, key;
};

// The program's own sections and user-name keys, letter-case and blank
// variants, Hangul, and names a profile line cannot hold.
const QList<Name>& Names() {
    static const QList<Name> names = {
        {QStringLiteral("LPID"), QStringLiteral("user1")},
        {QStringLiteral("lpid"), QStringLiteral("USER1")},
        {QStringLiteral("LPID2"), QStringLiteral("user1")},
        {QStringLiteral(" LPID "), QStringLiteral(" 홍길동 ")},
        {QStringLiteral("새 구역"), QStringLiteral("키")},
        {QStringLiteral("a[b"), QStringLiteral("x;y")},
        {QStringLiteral("LPID"), QStringLiteral("")},
        {QStringLiteral("LPID"), QStringLiteral("a=b")},
        {QStringLiteral("x]"), QStringLiteral("k")},
        {QStringLiteral("LPID"), QStringLiteral(";c")},
    };
    return names;
}

bool SameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

std::optional<QString> Read(const Name& n, const QByteArray& file) {
    return ProfileValue(file, n.section, n.key);
}

// Lines with their endings, so that a changed ending shows too.
QList<QByteArray> Lines(const QByteArray& data) {
    QList<QByteArray> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        qsizetype nl = data.indexOf('\n', pos);
        nl = nl < 0 ? data.size() : nl + 1;
        lines << data.mid(pos, nl - pos);
        pos = nl;
    }
    return lines;
}

// Apart from common leading and trailing lines, the old file may differ in
// at most one line: the key's own line (same bytes up to its '='), or a last
// line that had no ending and got one; the new file adds at most a header
// and the key's line (or nothing, when the value was already there).
void CheckOnlyKeyChanged(const QByteArray& before, const QByteArray& after) {
    const QList<QByteArray> a = Lines(before), b = Lines(after);
    qsizetype head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    qsizetype tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const qsizetype oldMid = a.size() - head - tail, newMid = b.size() - head - tail;
    FUZZ_CHECK(oldMid <= 1);
    FUZZ_CHECK(newMid <= 3);
    // Nothing new: the key already held the value, byte for byte.
    if (newMid == 0) FUZZ_CHECK(oldMid == 0);
    if (oldMid == 1) {
        const QByteArray& o = a[head];
        const QByteArray& n = b[head];
        const qsizetype eq = o.indexOf('=');
        const bool keyLine = eq >= 0 && n.startsWith(o.left(eq + 1));
        const bool endingAdded = !o.endsWith('\n') && n == o + "\r\n";
        FUZZ_CHECK(keyLine || endingAdded);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const Name& target = Names()[data[0] % Names().size()];
    const qsizetype valueLen = std::min<qsizetype>(data[1] % 48, static_cast<qsizetype>(size) - 2);
    const char* p = reinterpret_cast<const char*>(data) + 2;
    const QString value = platform::FromCp949(QByteArray(p, valueLen));
    const QByteArray before(p + valueLen, static_cast<qsizetype>(size) - 2 - valueLen);

    QList<std::optional<QString>> was;
    for (const Name& n : Names()) was << Read(n, before);

    const std::optional<QByteArray> after = ProfileWithValue(before, target.section, target.key, value);
    if (!after) return 0;
    FUZZ_CHECK(Read(target, *after) == value.trimmed());
    CheckOnlyKeyChanged(before, *after);
    for (qsizetype i = 0; i < Names().size(); ++i) {
        const Name& n = Names()[i];
        if (SameName(n.section, target.section) && SameName(n.key, target.key)) continue;
        FUZZ_CHECK(Read(n, *after) == was[i]);
    }
    return 0;
}
