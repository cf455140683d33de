#include "platform/ftplisting.h"

#include <QList>
#include <array>
#include <cstring>

namespace {

bool AllDigits(const QByteArray& s) {
    if (s.isEmpty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A non-negative decimal that fits in 64 bits; DOS listings may group the
// digits with commas.
bool ReadSize(QByteArray s, qint64& out) {
    s.replace(',', QByteArray());
    if (!AllDigits(s) || s.size() > 18) return false;
    out = s.toLongLong();
    return true;
}

int MonthOf(const QByteArray& m) {
    static const std::array<const char*, 12> names = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
    const QByteArray l = m.toLower();
    for (size_t i = 0; i < names.size(); ++i)
        if (l == names[i]) return static_cast<int>(i) + 1;
    return 0;
}

// Splits `n` blank-separated fields off the start of `line`; returns the
// position just after the last one, or -1 when there are fewer.
qsizetype Fields(const QByteArray& line, int n, QList<QByteArray>& out) {
    out.clear();
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

QDateTime Utc(int y, int mo, int d, int h, int mi, int s = 0) {
    const QDate date(y, mo, d);
    const QTime time(h, mi, s);
    if (!date.isValid() || !time.isValid()) return {};
    return QDateTime(date, time, Qt::UTC);
}

// "-rw-r--r--", "drwxr-sr-x+", "lrwxrwxrwx": a kind we list and nine
// permission letters (an ACL or context mark may follow).
bool IsUnixMode(const QByteArray& f) {
    if (f.size() < 10 || !std::strchr("-dl", f[0])) return false;
    for (int i = 1; i < 10; ++i)
        if (!std::strchr("-rwxsStTlL", f[i])) return false;
    return true;
}

// "HH:MM" with two-digit parts as ls prints them.
bool ReadClock(const QByteArray& s, int& h, int& m) {
    const QList<QByteArray> hm = s.split(':');
    if (hm.size() != 2 || !AllDigits(hm[0]) || !AllDigits(hm[1]) || hm[0].size() > 2 || hm[1].size() != 2)
        return false;
    h = hm[0].toInt();
    m = hm[1].toInt();
    return h < 24 && m < 60;
}

}  // namespace

QString DecodeUtf8Name(const QByteArray& raw) { return QString::fromUtf8(raw); }

bool ParseMlsdLine(const QByteArray& line, FtpEntry& out, NameDecoder decode) {
    // facts, one blank, the name (which may itself hold blanks).
    const qsizetype sp = line.indexOf(' ');
    if (sp <= 0) return false;
    const QByteArray facts = line.left(sp);
    if (!facts.contains('=')) return false;
    FtpEntry e;
    e.rawName = line.mid(sp + 1);
    if (e.rawName.isEmpty()) return false;
    e.name = decode(e.rawName);
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
            if (ReadSize(val, v)) {
                e.size = v;
                haveSize = haveSize || key == "size";
            }
        } else if (key == "modify") {
            // YYYYMMDDHHMMSS, maybe with fractions of a second, always UTC.
            const QByteArray t = val.left(14);
            if (t.size() == 14 && AllDigits(t) && (val.size() == 14 || val[14] == '.'))
                e.mtimeUtc = Utc(t.mid(0, 4).toInt(), t.mid(4, 2).toInt(), t.mid(6, 2).toInt(),
                                 t.mid(8, 2).toInt(), t.mid(10, 2).toInt(), t.mid(12, 2).toInt());
        }
    }
    if (type == "cdir" || type == "pdir") return false;
    e.isDir = type == "dir";
    out = std::move(e);
    return true;
}

bool ParseUnixListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out, NameDecoder decode) {
    QList<QByteArray> f;
    // mode links owner group size month day time|year name; some servers
    // leave out the group column.
    qsizetype pos = Fields(line, 8, f);
    if (pos < 0 || !IsUnixMode(f[0]) || !AllDigits(f[1])) return false;
    int at = 4;
    if (!(AllDigits(f[4]) && MonthOf(f[5]) && AllDigits(f[6]))) {
        if (!(AllDigits(f[3]) && MonthOf(f[4]) && AllDigits(f[5]))) return false;
        at = 3;
        pos = Fields(line, 7, f);
    }
    qint64 size = 0;
    if (!ReadSize(f[at], size) || f[at].contains(',')) return false;
    const int month = MonthOf(f[at + 1]);
    const int day = f[at + 2].toInt();
    const QByteArray& yt = f[at + 3];
    QDateTime when;
    int h = 0, m = 0;
    if (ReadClock(yt, h, m)) {
        // No year: the latest year that puts the entry at most a day ahead
        // of now (a clock slightly ahead of ours, or a new year just begun).
        // Going back up to eight years finds a 29 February.
        const QDateTime limit = nowUtc.addDays(1);
        for (int y = nowUtc.date().year() + 1; y >= nowUtc.date().year() - 8 && !when.isValid(); --y) {
            const QDateTime c = Utc(y, month, day, h, m);
            if (c.isValid() && c <= limit) when = c;
        }
    } else if (yt.size() == 4 && AllDigits(yt)) {
        when = Utc(yt.toInt(), month, day, 0, 0);
    }
    if (!when.isValid()) return false;
    // Exactly one blank separates the time from the name; every byte after
    // it belongs to the name, blanks included.
    if (pos < line.size() && line[pos] == ' ') ++pos;
    QByteArray raw = line.mid(pos);
    if (f[0][0] == 'l') {
        const qsizetype arrow = raw.indexOf(" -> ");
        if (arrow >= 0) raw.truncate(arrow);
    }
    if (raw.isEmpty()) return false;
    out = FtpEntry{decode(raw), raw, when, size, f[0][0] == 'd'};
    return true;
}

bool ParseDosListLine(const QByteArray& line, FtpEntry& out, NameDecoder decode) {
    QList<QByteArray> f;
    const qsizetype pos = Fields(line, 3, f);
    if (pos < 0) return false;
    const QList<QByteArray> d = f[0].split('-');
    if (d.size() != 3 || !AllDigits(d[0]) || !AllDigits(d[1]) || !AllDigits(d[2])) return false;
    if (d[0].size() > 2 || d[1].size() > 2 || (d[2].size() != 2 && d[2].size() != 4)) return false;
    int year = d[2].toInt();
    if (d[2].size() == 2) year += year >= 70 ? 1900 : 2000;
    QByteArray t = f[1].toUpper();
    const bool pm = t.endsWith("PM");
    const bool am = t.endsWith("AM");
    if (pm || am) t.chop(2);
    int hour = 0, minute = 0;
    if (!ReadClock(t, hour, minute)) return false;
    if (am || pm) {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    FtpEntry e;
    e.mtimeUtc = Utc(year, d[0].toInt(), d[1].toInt(), hour, minute);
    if (!e.mtimeUtc.isValid()) return false;
    if (f[2].toUpper() == "<DIR>") {
        e.isDir = true;
    } else if (!ReadSize(f[2], e.size)) {
        return false;
    }
    // The size column is padded; the name starts after the padding.
    qsizetype p = pos;
    while (p < line.size() && line[p] == ' ') ++p;
    e.rawName = line.mid(p);
    if (e.rawName.isEmpty()) return false;
    e.name = decode(e.rawName);
    out = std::move(e);
    return true;
}

bool ParseListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out, NameDecoder decode) {
    return ParseUnixListLine(line, nowUtc, out, decode) || ParseDosListLine(line, out, decode);
}

std::vector<FtpEntry> ParseListing(const QByteArray& body, bool mlsd, const QDateTime& nowUtc,
                                   NameDecoder decode) {
    std::vector<FtpEntry> entries;
    ListingStream stream(mlsd, nowUtc, decode, [&entries](FtpEntry& e) { entries.push_back(std::move(e)); });
    stream.feed(body.constData(), body.size());
    stream.finish();
    return entries;
}

ListingStream::ListingStream(bool mlsd, const QDateTime& nowUtc, NameDecoder decode, OnEntry onEntry)
    : mlsd_(mlsd), nowUtc_(nowUtc), decode_(decode), onEntry_(std::move(onEntry)) {}

void ListingStream::feed(const char* data, qsizetype len) {
    const char* const end = data + len;
    while (data < end) {
        const char* nl = static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(end - data)));
        if (!nl) {
            partial_.append(data, end - data);
            return;
        }
        if (partial_.isEmpty()) {
            line(data, nl - data);
        } else {
            partial_.append(data, nl - data);
            line(partial_.constData(), partial_.size());
            partial_.clear();
        }
        data = nl + 1;
    }
}

void ListingStream::finish() {
    if (!partial_.isEmpty()) line(partial_.constData(), partial_.size());
    partial_.clear();
}

void ListingStream::line(const char* data, qsizetype len) {
    if (len > 0 && data[len - 1] == '\r') --len;
    if (len == 0) return;
    // A buffer of our own rather than a view of the caller's bytes: what a
    // parser keeps of the line must outlive the piece it came in.
    line_.resize(0);
    line_.append(data, len);
    FtpEntry e;
    const bool ok = mlsd_ ? ParseMlsdLine(line_, e, decode_) : ParseListLine(line_, nowUtc_, e, decode_);
    if (ok && e.rawName != "." && e.rawName != "..") onEntry_(e);
}
