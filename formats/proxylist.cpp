#include "formats/proxylist.h"

#include <QList>

namespace formats {

namespace {

bool isSeparator(QChar c, bool commaToo) {
    return c == u';' || c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || (commaToo && c == u',');
}

template <typename F>
void forEachEntry(QStringView list, bool commaToo, F&& f) {
    qsizetype i = 0;
    while (i < list.size()) {
        while (i < list.size() && isSeparator(list[i], commaToo)) ++i;
        const qsizetype start = i;
        while (i < list.size() && !isSeparator(list[i], commaToo)) ++i;
        const QStringView entry = list.mid(start, i - start);
        if (!entry.isEmpty() && entry.size() <= kMaxProxyEntry && !f(entry)) return;
    }
}

// "host:port", "[v6]:port" or "http://" before either; nothing that
// libcurl would read as another kind of proxy or as options.
bool isPlainAddress(QStringView address) {
    QStringView rest = address;
    if (rest.startsWith(u"http://", Qt::CaseInsensitive)) rest = rest.mid(7);
    if (rest.isEmpty() || rest.startsWith(u':')) return false;
    for (const QChar c : rest) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                        u == u'.' || u == u'-' || u == u'_' || u == u':' || u == u'[' || u == u']';
        if (!ok) return false;
    }
    return true;
}

// '*' matches any run, everything else itself ignoring case. Greedy with one
// point to go back to: time in proportion to the lengths' product at worst.
bool wildcardMatch(QStringView pattern, QStringView text) {
    qsizetype p = 0, t = 0, star = -1, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p].toCaseFolded() == text[t].toCaseFolded()) {
            ++p;
            ++t;
        } else if (star >= 0) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace

QString ProxyServerFor(QStringView list, QStringView scheme) {
    QStringView forScheme, forAll;
    forEachEntry(list, false, [&](QStringView entry) {
        const qsizetype eq = entry.indexOf(u'=');
        if (eq < 0) {
            if (forAll.isEmpty()) forAll = entry;
        } else if (entry.first(eq).compare(scheme, Qt::CaseInsensitive) == 0) {
            forScheme = entry.mid(eq + 1);
            return false;
        }
        return true;
    });
    const QStringView chosen = forScheme.isEmpty() ? forAll : forScheme;
    if (!isPlainAddress(chosen)) return QString();
    // Without a port the system means 80; libcurl would take 1080.
    QStringView hostPort = chosen;
    if (hostPort.startsWith(u"http://", Qt::CaseInsensitive)) hostPort = hostPort.mid(7);
    const qsizetype colon = hostPort.lastIndexOf(u':');
    const bool hasPort = colon >= 0 && colon + 1 < hostPort.size() && !hostPort.mid(colon).contains(u']');
    if (hasPort) return chosen.toString();
    return (chosen.endsWith(u':') ? chosen.chopped(1) : chosen).toString() + QStringLiteral(":80");
}

bool BypassesProxy(QStringView bypass, QStringView host) {
    if (host.isEmpty()) return false;
    bool found = false;
    forEachEntry(bypass, true, [&](QStringView entry) {
        if (entry.compare(u"<local>", Qt::CaseInsensitive) == 0)
            found = !host.contains(u'.') && !host.contains(u':');
        else
            found = wildcardMatch(entry, host);
        return !found;
    });
    return found;
}

}  // namespace formats
