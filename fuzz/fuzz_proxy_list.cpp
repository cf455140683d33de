// The user's proxy settings decide where the update requests go. A server
// taken from them must be a plain address found in the list (nothing
// libcurl would read as another kind of proxy, credentials or options), and
// the bypass matching must end quickly whatever the patterns. The input is
// raw UTF-16: the list, then after a NUL the scheme or host.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/proxylist.h"
#include "fuzz/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString input(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(input.data(), data, size / 2 * 2);  // copied: the bytes need not be aligned
    const qsizetype nul = input.indexOf(QChar(u'\0'));
    const QString list = nul < 0 ? input : input.first(nul);
    const QString other = nul < 0 ? QStringLiteral("http") : input.mid(nul + 1);

    for (const QString& scheme : {other, QStringLiteral("http"), QStringLiteral("https")}) {
        const QString server = formats::ProxyServerFor(list, scheme);
        if (server.isEmpty()) continue;
        // Found in the list, but for the port 80 added where it named none.
        const bool portAdded = !list.contains(server) && server.endsWith(QLatin1String(":80"));
        const QString found = portAdded ? server.chopped(3) : server;
        FUZZ_CHECK(list.contains(found) || (portAdded && list.contains(found + u':')));
        FUZZ_CHECK(found.size() <= formats::kMaxProxyEntry);
        QStringView rest = server;
        if (rest.startsWith(u"http://", Qt::CaseInsensitive)) rest = rest.mid(7);
        FUZZ_CHECK(!rest.isEmpty() && !rest.contains(u"://") && !rest.contains(u'@') && !rest.contains(u'/'));
        for (const QChar c : rest)
            FUZZ_CHECK((c.isLetterOrNumber() && c.unicode() < 0x80) || QStringView(u".-_:[]").contains(c));
    }

    const bool bypassed = formats::BypassesProxy(list, other);
    if (other.isEmpty()) FUZZ_CHECK(!bypassed);
    // A list that names the host exactly always bypasses it.
    if (!other.isEmpty() && other.size() <= formats::kMaxProxyEntry &&
        std::none_of(other.begin(), other.end(), [](QChar c) { return QStringView(u";, \t\r\n*").contains(c); }) &&
        other.compare(QStringLiteral("<local>"), Qt::CaseInsensitive) != 0)
        FUZZ_CHECK(formats::BypassesProxy(list + u';' + other, other));
    return 0;
}
