#include "formats/ftplisting.h"

#include <QByteArrayView>
#include <array>
#include <cstring>
#include <limits>

namespace {

// The parsers look at the line through views: no field is copied, and only
// the name is kept.
using View = QByteArrayView;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(View s) {
    if (s.isEmpty()) return false;
    for (char c : s)
        if (!IsDigit(c)) return false;
    return true;
}

// The value of a run of digits (checked by the caller); 0 when it does not
// fit in an int, which no date or time part accepts.
int Number(View s) {
    qint64 v = 0;
    for (char c : s) {
        v = v * 10 + (c - '0');
        if (v > std::numeric_limits<int>::max()) return 0;
    }
    return static_cast<int>(v);
}

// A non-negative decimal that fits in 64 bits; DOS listings may group the
// digits with commas.
bool ReadSize(View s, qint64& out) {
    qint64 v = 0;
    int digits = 0;
    for (char c : s) {
        if (c == ',') continue;
        if (!IsDigit(c) || ++digits > 18) return false;
        v = v * 10 + (c - '0');
    }
    if (digits == 0) return false;
    out = v;
    return true;
}

bool SameLetters(View s, const char* lower) {
    const qsizetype n = static_cast<qsizetype>(std::strlen(lower));
    if (s.size() != n) return false;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = s[i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != lower[i]) return false;
    }
    return true;
}

int MonthOf(View m) {
    static const std::array<const char*, 12> names = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
    for (size_t i = 0; i < names.size(); ++i)
        if (SameLetters(m, names[i])) return static_cast<int>(i) + 1;
    return 0;
}

// Splits `n` blank-separated fields off the start of `line`; returns the
// position just after the last one, or -1 when there are fewer.
qsizetype Fields(View line, int n, View* out) {
    qsizetype i = 0;
    const qsizetype len = line.size();
    for (int k = 0; k < n; ++k) {
        while (i < len && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= len) return -1;
        const qsizetype start = i;
        while (i < len && line[i] != ' ' && line[i] != '\t') ++i;
        out[k] = line.sliced(start, i - start);
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
bool IsUnixMode(View f) {
    if (f.size() < 10 || !std::strchr("-dl", f[0])) return false;
    for (int i = 1; i < 10; ++i)
        if (!std::strchr("-rwxsStTlL", f[i])) return false;
    return true;
}

// "HH:MM" with two-digit parts as ls prints them.
bool ReadClock(View s, int& h, int& m) {
    const qsizetype colon = s.indexOf(':');
    if (colon < 0) return false;
    const View hh = s.first(colon);
    const View mm = s.sliced(colon + 1);
    if (!AllDigits(hh) || !AllDigits(mm) || hh.size() > 2 || mm.size() != 2) return false;
    h = Number(hh);
    m = Number(mm);
    return h < 24 && m < 60;
}

}  // namespace

QString DecodeUtf8Name(const QByteArray& raw) { return QString::fromUtf8(raw); }

bool ParseMlsdLine(const QByteArray& line, FtpEntry& out, NameDecoder decode) {
    // facts, one blank, the name (which may itself hold blanks).
    const qsizetype sp = line.indexOf(' ');
    if (sp <= 0) return false;
    const View facts = View(line).first(sp);
    if (!facts.contains('=')) return false;
    FtpEntry e;
    e.rawName = line.mid(sp + 1);
    if (e.rawName.isEmpty()) return false;
    e.name = decode(e.rawName);
    View type;
    bool haveSize = false;
    for (qsizetype at = 0; at <= facts.size();) {
        qsizetype semi = facts.indexOf(';', at);
        if (semi < 0) semi = facts.size();
        const View f = facts.sliced(at, semi - at);
        at = semi + 1;
        const qsizetype eq = f.indexOf('=');
        if (eq <= 0) continue;
        const View key = f.first(eq);
        const View val = f.sliced(eq + 1);
        if (SameLetters(key, "type")) {
            type = val;
        } else if (SameLetters(key, "size") || (SameLetters(key, "sizd") && !haveSize)) {
            qint64 v = 0;
            if (ReadSize(val, v)) {
                e.size = v;
                haveSize = haveSize || SameLetters(key, "size");
            }
        } else if (SameLetters(key, "modify")) {
            // YYYYMMDDHHMMSS, maybe with fractions of a second, always UTC.
            if (val.size() >= 14 && AllDigits(val.first(14)) && (val.size() == 14 || val[14] == '.'))
                e.mtimeUtc = Utc(Number(val.sliced(0, 4)), Number(val.sliced(4, 2)), Number(val.sliced(6, 2)),
                                 Number(val.sliced(8, 2)), Number(val.sliced(10, 2)), Number(val.sliced(12, 2)));
        }
    }
    if (SameLetters(type, "cdir") || SameLetters(type, "pdir")) return false;
    e.isDir = SameLetters(type, "dir");
    out = std::move(e);
    return true;
}

bool ParseUnixListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out, NameDecoder decode) {
    View f[8];
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
    const int day = Number(f[at + 2]);
    const View yt = f[at + 3];
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
        when = Utc(Number(yt), month, day, 0, 0);
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
    View f[3];
    const qsizetype pos = Fields(line, 3, f);
    if (pos < 0) return false;
    // MM-DD-YY or MM-DD-YYYY
    const qsizetype dash1 = f[0].indexOf('-');
    const qsizetype dash2 = dash1 < 0 ? -1 : f[0].indexOf('-', dash1 + 1);
    if (dash2 < 0 || f[0].indexOf('-', dash2 + 1) >= 0) return false;
    const View d[3] = {f[0].first(dash1), f[0].sliced(dash1 + 1, dash2 - dash1 - 1), f[0].sliced(dash2 + 1)};
    if (!AllDigits(d[0]) || !AllDigits(d[1]) || !AllDigits(d[2])) return false;
    if (d[0].size() > 2 || d[1].size() > 2 || (d[2].size() != 2 && d[2].size() != 4)) return false;
    int year = Number(d[2]);
    if (d[2].size() == 2) year += year >= 70 ? 1900 : 2000;
    View t = f[1];
    const bool pm = t.size() >= 2 && SameLetters(t.last(2), "pm");
    const bool am = t.size() >= 2 && SameLetters(t.last(2), "am");
    if (pm || am) t.chop(2);
    int hour = 0, minute = 0;
    if (!ReadClock(t, hour, minute)) return false;
    if (am || pm) {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    FtpEntry e;
    e.mtimeUtc = Utc(year, Number(d[0]), Number(d[1]), hour, minute);
    if (!e.mtimeUtc.isValid()) return false;
    if (SameLetters(f[2], "<dir>")) {
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
            if (!skipping_) partial_.append(data, end - data);
            if (partial_.size() > kMaxLine) {
                partial_.clear();
                skipping_ = true;
            }
            return;
        }
        if (skipping_) {
            skipping_ = false;  // the overlong line ends here
        } else if (partial_.isEmpty()) {
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
    if (!partial_.isEmpty() && !skipping_) line(partial_.constData(), partial_.size());
    partial_.clear();
    skipping_ = false;
}

void ListingStream::line(const char* data, qsizetype len) {
    if (len > 0 && data[len - 1] == '\r') --len;
    if (len == 0 || len > kMaxLine) return;
    // A buffer of our own rather than a view of the caller's bytes: what a
    // parser keeps of the line must outlive the piece it came in.
    line_.resize(0);
    line_.append(data, len);
    FtpEntry e;
    const bool ok = mlsd_ ? ParseMlsdLine(line_, e, decode_) : ParseListLine(line_, nowUtc_, e, decode_);
    if (ok && e.rawName != "." && e.rawName != "..") onEntry_(e);
}
