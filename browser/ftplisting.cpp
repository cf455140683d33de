#include "browser/ftplisting.h"

#include <QList>
#include <array>
#include <cstring>

namespace {

bool allDigits(const QByteArray& s) {
    if (s.isEmpty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Reads a non-negative decimal; false on anything else or on overflow.
bool toSize(const QByteArray& s, qint64& out) {
    if (!allDigits(s) || s.size() > 18) return false;
    out = s.toLongLong();
    return true;
}

int monthOf(const QByteArray& m) {
    static const std::array<const char*, 12> names = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
    const QByteArray l = m.toLower();
    for (int i = 0; i < 12; ++i)
        if (l == names[static_cast<size_t>(i)]) return i + 1;
    return 0;
}

// Splits off whitespace-separated fields from `line`, `n` of them, and
// returns the position where the rest starts (-1 when there are fewer).
qsizetype fields(const QByteArray& line, int n, QList<QByteArray>& out) {
    qsizetype i = 0;
    const qsizetype len = line.size();
    for (int k = 0; k < n; ++k) {
        while (i < len && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= len) return -1;
        const qsizetype start = i;
        while (i < len && line[i] != ' ' && line[i] != '\t') ++i;
        out.push_back(line.mid(start, i - start));
    }
    return i;
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0) {
    const QDate date(y, mo, d);
    const QTime time(h, mi, s);
    if (!date.isValid() || !time.isValid()) return {};
    return QDateTime(date, time, Qt::UTC);
}

// The name after the time field: exactly one separator blank is dropped, so
// leading blanks of a name survive on servers that pad with a single one.
QString nameFrom(const QByteArray& line, qsizetype pos) {
    if (pos < line.size() && line[pos] == ' ') ++pos;
    return QString::fromUtf8(line.mid(pos));
}

}  // namespace

bool ParseMlsdLine(const QByteArray& line, FtpEntry& out) {
    const qsizetype sp = line.indexOf(' ');
    if (sp < 0) return false;
    const QByteArray facts = line.left(sp);
    const QString name = QString::fromUtf8(line.mid(sp + 1));
    if (name.isEmpty()) return false;
    FtpEntry e;
    e.name = name;
    QByteArray type;
    bool haveSize = false;
    for (const QByteArray& f : facts.split(';')) {
        const qsizetype eq = f.indexOf('=');
        if (eq <= 0) continue;
        const QByteArray key = f.left(eq).toLower();
        const QByteArray val = f.mid(eq + 1);
        if (key == "type") {
            type = val.toLower();
        } else if (key == "size" || (key == "sizd" && !haveSize)) {
            qint64 v = 0;
            if (toSize(val, v)) {
                e.size = v;
                haveSize = key == "size";
            }
        } else if (key == "modify") {
            const QByteArray t = val.left(14);
            if (t.size() == 14 && allDigits(t))
                e.mtimeUtc = utc(t.mid(0, 4).toInt(), t.mid(4, 2).toInt(), t.mid(6, 2).toInt(), t.mid(8, 2).toInt(),
                                 t.mid(10, 2).toInt(), t.mid(12, 2).toInt());
        }
    }
    if (type == "cdir" || type == "pdir") return false;
    e.isDir = type == "dir";
    out = e;
    return true;
}

bool ParseUnixListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out) {
    if (line.size() < 10) return false;
    const char kind = line[0];
    if (!std::strchr("-dlps", kind)) return false;
    QList<QByteArray> f;
    // perms links owner group size month day time|year, or without group.
    qsizetype pos = fields(line, 8, f);
    if (pos < 0) return false;
    int sizeAt = 4;
    if (!(allDigits(f[4]) && monthOf(f[5]) && allDigits(f[6]))) {
        // No group column: perms links owner size month day time.
        if (allDigits(f[3]) && monthOf(f[4]) && allDigits(f[5])) {
            f.clear();
            pos = fields(line, 7, f);
            sizeAt = 3;
        } else {
            return false;
        }
    }
    qint64 size = 0;
    if (!toSize(f[sizeAt], size)) return false;
    const int month = monthOf(f[sizeAt + 1]);
    const int day = f[sizeAt + 2].toInt();
    const QByteArray& ty = f[sizeAt + 3];
    QDateTime when;
    if (ty.contains(':')) {
        const QList<QByteArray> hm = ty.split(':');
        if (hm.size() != 2 || !allDigits(hm[0]) || !allDigits(hm[1])) return false;
        const int year = nowUtc.date().year();
        when = utc(year, month, day, hm[0].toInt(), hm[1].toInt());
        if (!when.isValid()) when = utc(year - 1, month, day, hm[0].toInt(), hm[1].toInt());  // 29 Feb
        if (when.isValid() && when > nowUtc.addDays(1)) when = utc(year - 1, month, day, hm[0].toInt(), hm[1].toInt());
    } else if (allDigits(ty) && ty.size() == 4) {
        when = utc(ty.toInt(), month, day, 0, 0);
    } else {
        return false;
    }
    if (!when.isValid()) return false;
    QString name = nameFrom(line, pos);
    if (kind == 'l') {
        const qsizetype arrow = name.indexOf(QStringLiteral(" -> "));
        if (arrow >= 0) name.truncate(arrow);
    }
    if (name.isEmpty()) return false;
    out = FtpEntry{name, when, size, kind == 'd'};
    return true;
}

bool ParseDosListLine(const QByteArray& line, FtpEntry& out) {
    QList<QByteArray> f;
    const qsizetype pos = fields(line, 3, f);
    if (pos < 0) return false;
    const QList<QByteArray> d = f[0].split('-');
    if (d.size() != 3 || !allDigits(d[0]) || !allDigits(d[1]) || !allDigits(d[2])) return false;
    int year = d[2].toInt();
    if (d[2].size() == 2) year += year >= 70 ? 1900 : 2000;
    QByteArray t = f[1].toUpper();
    const bool pm = t.endsWith("PM");
    const bool am = t.endsWith("AM");
    if (pm || am) t.chop(2);
    const QList<QByteArray> hm = t.split(':');
    if (hm.size() != 2 || !allDigits(hm[0]) || !allDigits(hm[1])) return false;
    int hour = hm[0].toInt();
    if (am || pm) {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    const QDateTime when = utc(year, d[0].toInt(), d[1].toInt(), hour, hm[1].toInt());
    if (!when.isValid()) return false;
    FtpEntry e;
    e.mtimeUtc = when;
    if (f[2].toUpper() == "<DIR>") {
        e.isDir = true;
    } else if (!toSize(f[2], e.size)) {
        return false;
    }
    // The name follows the size column after its padding.
    qsizetype p = pos;
    while (p < line.size() && line[p] == ' ') ++p;
    e.name = QString::fromUtf8(line.mid(p));
    if (e.name.isEmpty()) return false;
    out = e;
    return true;
}

bool ParseListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out) {
    return ParseUnixListLine(line, nowUtc, out) || ParseDosListLine(line, out);
}

std::vector<FtpEntry> ParseListing(const QByteArray& body, bool mlsd, const QDateTime& nowUtc) {
    std::vector<FtpEntry> entries;
    for (QByteArray line : body.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (line.isEmpty()) continue;
        FtpEntry e;
        const bool ok = mlsd ? ParseMlsdLine(line, e) : ParseListLine(line, nowUtc, e);
        if (ok && e.name != QLatin1String(".") && e.name != QLatin1String("..")) entries.push_back(std::move(e));
    }
    return entries;
}
