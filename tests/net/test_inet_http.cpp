// HTTP requests: the update server of the test environment, and a scripted
// peer for what a request looks like on the wire.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "net/inet.h"
#include "platform/systemproxy.h"
#include "testendpoints.h"
#include "tests/net/test_inet_fakehttp.h"

using namespace net;

namespace {

HInternet openRoot(quint32 access = INTERNET_OPEN_TYPE_PRECONFIG) {
    return InternetOpenA(QStringLiteral("VB OpenUrl"), access, QString(), QString(), 0);
}

QByteArray readAll(Handle* request, bool* ok) {
    QByteArray out;
    char buf[777];  // odd size: reads straddle the transfer's chunks
    quint32 got = 0;
    while ((*ok = InternetReadFile(request, buf, sizeof buf, &got)) && got > 0) out.append(buf, got);
    out.append(buf, got);
    return out;
}

// Sets an environment variable for the test's lifetime.
struct EnvVar {
    const char* name;
    QByteArray old = qgetenv(name);
    bool had = qEnvironmentVariableIsSet(name);
    EnvVar(const char* n, const QByteArray& v) : name(n) { qputenv(n, v); }
    ~EnvVar() { had ? (void)qputenv(name, old) : (void)qunsetenv(name); }
};

}  // namespace

TEST(InetHttp, RequestOnTheWireAndResponsesCutShort) {
    EnvVar noProxy("http_proxy", QByteArray());
    testinet::FakeHttp peer({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
                             "HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 0\r\n\r\n",
                             "HTTP/1.1 404 Not Found\r\nContent-Length: 5\r\n\r\nfinal",
                             "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(3000, 'p')});
    HInternet root = openRoot();
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(peer.port());
    bool ok = false;
    HInternet a = InternetOpenUrlA(root.get(), base + QStringLiteral("/download/자동업데이트_v1/a b.txt"),
                                   QStringLiteral("X-Extra: 1\r\n"), 0xFFFFFFFFu, INTERNET_FLAG_RELOAD, 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(readAll(a.get(), &ok), QByteArray("ok"));
    const std::string r = peer.requests().at(0);
    EXPECT_EQ(r.rfind("GET /download/%EC%9E%90%EB%8F%99%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8_v1/a%20b.txt HTTP/1.1\r\n", 0),
              0u) << r;
    for (const char* h : {"\r\nUser-Agent: VB OpenUrl\r\n", "\r\nCache-Control: no-cache\r\n",
                          "\r\nPragma: no-cache\r\n", "\r\nX-Extra: 1\r\n"})
        EXPECT_NE(r.find(h), std::string::npos) << h;

    // A redirect is followed; the final status is kept, an error page is a response.
    HInternet moved = InternetOpenUrlA(root.get(), base + QStringLiteral("/start"), QString(), 0, 0, 0);
    ASSERT_TRUE(moved);
    EXPECT_EQ(HttpStatus(moved.get()), 404);
    EXPECT_EQ(readAll(moved.get(), &ok), QByteArray("final"));
    EXPECT_EQ(peer.requests().at(2).find("no-cache"), std::string::npos);  // no reload asked

    // A body that breaks off: what arrived is handed over, then the read fails.
    HInternet cut = InternetOpenUrlA(root.get(), base + QStringLiteral("/cut"), QString(), 0, 0, 0);
    ASSERT_TRUE(cut);
    EXPECT_EQ(readAll(cut.get(), &ok).size(), 3000);
    EXPECT_FALSE(ok);

    EXPECT_FALSE(InternetOpenUrlA(root.get(), QStringLiteral("file:///etc/passwd"), QString(), 0, 0, 0));
}

TEST(InetHttp, AccessTypeDecidesWhetherTheProxySettingsApply) {
    testinet::FakeHttp proxy({"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nproxied"});
    EnvVar httpProxy("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
    EnvVar noProxy("no_proxy", QByteArray());
    const QString url = QStringLiteral("http://update.example.invalid/v.txt");
    EXPECT_FALSE(InternetOpenUrlA(openRoot(INTERNET_OPEN_TYPE_DIRECT).get(), url, QString(), 0, 0, 0));

    HInternet preconfig = openRoot(INTERNET_OPEN_TYPE_PRECONFIG);
    HInternet viaProxy = InternetOpenUrlA(preconfig.get(), url, QString(), 0, 0, 0);
    ASSERT_TRUE(viaProxy);
    bool ok = false;
    EXPECT_EQ(readAll(viaProxy.get(), &ok), QByteArray("proxied"));
    EXPECT_EQ(proxy.requests().at(0).rfind("GET http://update.example.invalid/v.txt HTTP/1.1\r\n", 0), 0u);
}

// Windows keeps its proxy settings apart from the environment; with a
// server there, they decide, bypass list and scheme included.
TEST(InetHttp, TheSystemsProxySettingsDecideWhenItHasThem) {
    testinet::FakeHttp proxy({"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nproxied",
                              "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nproxied"});
    testinet::FakeHttp server({"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ndirect",
                               "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ndirect"});
    // The environment no longer counts, neither its proxy nor its exceptions.
    EnvVar envProxy("http_proxy", "http://127.0.0.1:9");
    EnvVar envNoProxy("no_proxy", "*");
    const QString proxyAt = QStringLiteral("127.0.0.1:") + QString::number(proxy.port());
    const QString direct = QStringLiteral("http://127.0.0.1:%1/v.txt").arg(server.port());
    struct Source {
        explicit Source(platform::SystemProxy p) {
            platform::SetSystemProxySource([p] { return p; });
        }
        ~Source() { platform::SetSystemProxySource(nullptr); }
    };
    const auto fetch = [](const QString& url) {
        HInternet root = openRoot(INTERNET_OPEN_TYPE_PRECONFIG);
        HInternet r = InternetOpenUrlA(root.get(), url, QString(), 0, 0, 0);
        bool ok = false;
        return r ? readAll(r.get(), &ok) : QByteArray("failed");
    };
    {
        Source s({QStringLiteral("http=") + proxyAt, QStringLiteral("<local>;127.0.0.1")});
        EXPECT_EQ(fetch(QStringLiteral("http://update.example.invalid/v.txt")), QByteArray("proxied"));
        EXPECT_EQ(fetch(direct), QByteArray("direct"));  // bypassed
    }
    {
        // A server for https only: http goes direct, not through the
        // environment's proxy.
        Source s({QStringLiteral("https=") + proxyAt, QString()});
        EXPECT_EQ(fetch(direct), QByteArray("direct"));
    }
    {
        Source s({proxyAt, QString()});
        EXPECT_EQ(fetch(direct), QByteArray("proxied"));
    }
    const std::vector<std::string> asked = proxy.requests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].rfind("GET http://update.example.invalid/v.txt HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(asked[1].rfind("GET " + direct.toStdString() + " HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST(InetHttp, ServerThatNeverAnswersIsGivenUp) {
    const Limits saved = CurrentLimits();
    Limits l = saved;
    l.httpLowSpeedTime = 2;
    SetLimits(l);
    QElapsedTimer t;
    t.start();
    const QString silent = QStringLiteral("http://%1:%2/x").arg(testenv::kHost).arg(testenv::http::kSilentPort);
    EXPECT_FALSE(InternetOpenUrlA(openRoot(INTERNET_OPEN_TYPE_DIRECT).get(), silent,
                                  QString(), 0, INTERNET_FLAG_RELOAD, 0));
    EXPECT_LT(t.elapsed(), 8000);
    SetLimits(saved);
}
