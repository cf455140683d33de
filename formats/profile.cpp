#include "formats/profile.h"

#include <QFile>
#include <QLockFile>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "platform/textcodec.h"

namespace formats {
namespace {

constexpr int kLockWaitMs = 5000;

// One line of the file as byte offsets: [begin, end) is its text without
// the line ending, [end, next) the ending itself (empty on a last line
// without one). Bytes are searched directly for '[', ']', '=' and line
// breaks: code page 949 never uses those values as the second byte of a
// double-byte character.
struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

std::vector<Line> splitLines(const QByteArray& data) {
    std::vector<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype nl = data.indexOf('\n', pos);
        Line l;
        l.begin = pos;
        if (nl < 0) {
            l.end = l.next = data.size();
        } else {
            l.end = (nl > pos && data.at(nl - 1) == '\r') ? nl - 1 : nl;
            l.next = nl + 1;
        }
        lines.push_back(l);
        pos = l.next;
    }
    return lines;
}

QString lineText(const QByteArray& data, const Line& l) {
    return platform::FromCp949(data.mid(l.begin, l.end - l.begin));
}

// The section name of a header line, or nothing for other lines.
std::optional<QString> sectionOf(const QString& text) {
    const QString t = text.trimmed();
    if (!t.startsWith(QLatin1Char('['))) return std::nullopt;
    qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0) close = t.size();
    return t.mid(1, close - 1).trimmed();
}

bool sameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// Where a key sits in the file: its line, and the byte offset at which its
// value starts (after the equals sign and the blanks that follow it).
struct KeyHit {
    std::size_t line = 0;
    qsizetype valueBegin = 0;
};

struct Located {
    std::optional<std::size_t> header;   // line of the section header
    std::size_t sectionLast = 0;         // last non-blank line of the section
    std::optional<KeyHit> key;
};

Located locate(const QByteArray& data, const std::vector<Line>& lines, const QString& section,
               const QString& key) {
    Located loc;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QString text = lineText(data, lines[i]);
        if (const auto name = sectionOf(text)) {
            // The first section of that name counts, as the first key does.
            if (loc.header) break;
            inSection = sameName(*name, section);
            if (inSection) {
                loc.header = i;
                loc.sectionLast = i;
            }
            continue;
        }
        if (!inSection) continue;
        if (!text.trimmed().isEmpty()) loc.sectionLast = i;
        if (loc.key || text.trimmed().startsWith(QLatin1Char(';'))) continue;
        const qsizetype eq = data.indexOf('=', lines[i].begin);
        if (eq < 0 || eq >= lines[i].end) continue;
        if (!sameName(platform::FromCp949(data.mid(lines[i].begin, eq - lines[i].begin)), key)) continue;
        qsizetype v = eq + 1;
        while (v < lines[i].end && (data.at(v) == ' ' || data.at(v) == '\t')) ++v;
        loc.key = KeyHit{i, v};
    }
    return loc;
}

// Text that would change when stored as code page 949.
bool fitsCp949(const QString& s) { return platform::FromCp949(platform::ToCp949(s)) == s; }

bool hasLineBreak(const QString& s) {
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

// Whether a trimmed section and key and a value fit in a profile line.
bool storable(const QString& s, const QString& k, const QString& value) {
    if (k.isEmpty() || k.contains(QLatin1Char('=')) || k.startsWith(QLatin1Char('[')) ||
        k.startsWith(QLatin1Char(';')) || hasLineBreak(k))
        return false;
    if (s.isEmpty() || s.contains(QLatin1Char(']')) || hasLineBreak(s)) return false;
    if (hasLineBreak(value)) return false;
    return fitsCp949(k) && fitsCp949(s) && fitsCp949(value);
}

}  // namespace

std::optional<QString> ProfileValue(const QByteArray& data, const QString& section, const QString& key) {
    const auto lines = splitLines(data);
    const Located loc = locate(data, lines, section, key);
    if (!loc.key) return std::nullopt;
    const Line& l = lines[loc.key->line];
    return platform::FromCp949(data.mid(loc.key->valueBegin, l.end - loc.key->valueBegin)).trimmed();
}

std::optional<QByteArray> ProfileWithValue(const QByteArray& data, const QString& section,
                                           const QString& key, const QString& value) {
    const QString k = key.trimmed();
    const QString s = section.trimmed();
    if (!storable(s, k, value)) return std::nullopt;
    const auto lines = splitLines(data);
    const Located loc = locate(data, lines, s, k);
    const QByteArray crlf("\r\n");
    const QByteArray entry = platform::ToCp949(k) + '=' + platform::ToCp949(value);

    QByteArray out;
    if (loc.key) {
        const Line& l = lines[loc.key->line];
        out = data.left(loc.key->valueBegin) + platform::ToCp949(value) + data.mid(l.end);
    } else if (loc.header) {
        const Line& last = lines[loc.sectionLast];
        out = data.left(last.next);
        if (last.next == last.end) out += crlf;  // last line of the file had no ending
        out += entry + crlf + data.mid(last.next);
    } else {
        out = data;
        if (!out.isEmpty() && !out.endsWith('\n')) out += crlf;
        out += '[' + platform::ToCp949(s) + ']' + crlf + entry + crlf;
    }
    return out;
}

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                int bufferChars, const QString& file) {
    if (bufferChars < 1) return QString();
    QString result = def;
    while (result.endsWith(QLatin1Char(' '))) result.chop(1);
    QFile f(file);
    if (f.open(QIODevice::ReadOnly)) {
        if (auto v = ProfileValue(f.readAll(), section, key)) result = *v;
    }
    return result.left(bufferChars - 1);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file) {
    if (!storable(section.trimmed(), key.trimmed(), value)) return false;

    // Several programs may update the same file; the read-modify-write is
    // done under a lock so that no one's change is lost.
    QLockFile lock(file + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs)) return false;

    QByteArray data;
    {
        QFile f(file);
        if (f.exists()) {
            if (!f.open(QIODevice::ReadOnly)) return false;
            data = f.readAll();
        }
    }
    const auto out = ProfileWithValue(data, section, key, value);
    if (!out) return false;
    platform::WholeFile f(file);
    return f.open() && f.write(out->constData(), out->size()) && f.commit(false);
}

}  // namespace formats
