// The system's proxy texts as the user's settings keep them, and what they
// would do if read loosely: a server that is no proxy address, or a bypass
// entry matching hosts it does not name.
#include <gtest/gtest.h>

#include "formats/proxylist.h"

namespace {

using formats::BypassesProxy;
using formats::ProxyServerFor;

TEST(ProxyList, TheServerForAScheme) {
    struct Case {
        const char* list;
        const char* scheme;
        const char* server;
    } cases[] = {
        {"proxy.corp:8080", "http", "proxy.corp:8080"},
        {"proxy.corp:8080", "https", "proxy.corp:8080"},
        {"http://proxy.corp:8080", "http", "http://proxy.corp:8080"},
        {"http=p1:80;https=p2:443;ftp=p3:21", "https", "p2:443"},
        {"HTTP=p1:80 ; https=p2:443", "http", "p1:80"},
        {"https=p2:443", "http", ""},               // per scheme, none for http: direct
        {"all:1;https=p2:443", "https", "p2:443"},  // the scheme's own wins
        {"all:1;https=p2:443", "http", "all:1"},
        {"[::1]:3128", "http", "[::1]:3128"},
        // Without a port the system means 80, not libcurl's 1080.
        {"proxy.corp", "http", "proxy.corp:80"},
        {"http://proxy.corp", "https", "http://proxy.corp:80"},
        {"https=proxy.corp:", "https", "proxy.corp:80"},
        {"[fd00::1]", "http", "[fd00::1]:80"},
        {"", "http", ""},
        {";;  ;", "http", ""},
        // What libcurl would read as something else, or as more than an
        // address, sends the request direct.
        {"socks=s:1080", "http", ""},
        {"socks5://s:1080", "http", ""},
        {"https://p:443", "http", ""},
        {"user:secret@p:80", "http", ""},
        {"p:80/path", "http", ""},
        {"http=", "http", ""},
        {":8080", "http", ""},
        {"pr\xc3\xb6xy:80", "http", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProxyServerFor(QString::fromUtf8(c.list), QString::fromUtf8(c.scheme)), QString::fromUtf8(c.server))
            << c.list << " / " << c.scheme;
    EXPECT_EQ(ProxyServerFor(QString(300, u'a') + QStringLiteral(":1"), u"http"), QString());  // too long to be one
}

TEST(ProxyList, HostsThatGoDirect) {
    const QString bypass = QStringLiteral("<local>; *.corp.example ,10.*\t192.168.1.7;UPDATE.example.org");
    for (const char* host : {"intranet", "files.corp.example", "a.b.corp.example", "10.1.2.3", "192.168.1.7",
                             "update.example.org", "Update.Example.Org"})
        EXPECT_TRUE(BypassesProxy(bypass, QString::fromUtf8(host))) << host;
    for (const char* host : {"corp.example", "evilcorp.example.com", "110.1.2.3", "192.168.1.70", "example.org",
                             "update.example.org.evil", "::1", ""})
        EXPECT_FALSE(BypassesProxy(bypass, QString::fromUtf8(host))) << host;
    EXPECT_TRUE(BypassesProxy(u"*", u"anything.at.all"));
    EXPECT_TRUE(BypassesProxy(u"a*b*c", u"aXXbYYbZZc"));  // a star goes back as far as it must
    EXPECT_FALSE(BypassesProxy(u"a*b*c", u"aXXbYYcZZ"));
    EXPECT_FALSE(BypassesProxy(u"", u"intranet"));
}

}  // namespace
