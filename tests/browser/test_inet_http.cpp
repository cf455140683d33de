// HTTP requests: the update server of the test environment, and a scripted
// peer for what a request looks like on the wire.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include "browser/inet.h"
#include "tests/browser/test_inet_fakehttp.h"
#include "testsupport.h"

using namespace inet;

namespace {

const QString kHttpRoot = QStringLiteral("/tmp/orvel-env/http/");

HInternet openRoot(quint32 access = INTERNET_OPEN_TYPE_PRECONFIG) {
    return InternetOpenA(QStringLiteral("VB OpenUrl"), access, QString(), QString(), 0);
}

QByteArray readAll(Handle* request, bool* ok = nullptr) {
    QByteArray out;
    char buf[777];  // an odd size, so reads straddle the transfer's chunks
    quint32 got = 0;
    bool good = true;
    while ((good = InternetReadFile(request, buf, sizeof buf, &got)) && got > 0) out.append(buf, got);
    if (ok) *ok = good;
    return out;
}

// Restores an environment variable when the test ends.
struct EnvVar {
    QByteArray name, old;
    bool had;
    EnvVar(const char* n, const QByteArray& value) : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n)) {
        qputenv(n, value);
    }
    ~EnvVar() {
        if (had)
            qputenv(name.constData(), old);
        else
            qunsetenv(name.constData());
    }
};

class InetHttp : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CurrentLimits(); }
    void TearDown() override { SetLimits(saved_); }
    Limits saved_;
    // The tests talk to their own servers, never through a proxy of the machine.
    EnvVar noHttp_{"http_proxy", QByteArray()}, noHttps_{"https_proxy", QByteArray()}, noAll_{"all_proxy", QByteArray()};
};

}  // namespace

TEST_F(InetHttp, ResponsesArriveWithTheirStatusAndWholeBody) {
    const QString name = QStringLiteral("inet_body_%1.bin").arg(QCoreApplication::applicationPid());
    QByteArray content;
    for (int i = 0; i < 300000; ++i) content.append(static_cast<char>(i * 7 + i / 251));
    QFile f(kHttpRoot + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();

    HInternet root = openRoot();
    ASSERT_TRUE(root);
    HInternet ok = InternetOpenUrlA(root.get(), QStringLiteral("http://127.0.0.1/") + name, QString(), 0,
                                    INTERNET_FLAG_RELOAD, 0);
    ASSERT_TRUE(ok);
    EXPECT_EQ(HttpStatus(ok.get()), 200);
    bool good = false;
    EXPECT_EQ(readAll(ok.get(), &good), content);
    EXPECT_TRUE(good);
    QFile::remove(kHttpRoot + name);

    // An error page is a response too.
    HInternet missing = InternetOpenUrlA(root.get(), QStringLiteral("http://127.0.0.1/no_such_resource"), QString(),
                                         0, INTERNET_FLAG_RELOAD, 0);
    ASSERT_TRUE(missing);
    EXPECT_EQ(HttpStatus(missing.get()), 404);
    EXPECT_FALSE(readAll(missing.get()).isEmpty());

    // No response at all: no handle.
    const QString closed = QStringLiteral("http://127.0.0.1:%1/x").arg(testsupport::Env::closedPort());
    EXPECT_FALSE(InternetOpenUrlA(root.get(), closed, QString(), 0, INTERNET_FLAG_RELOAD, 0));
    EXPECT_FALSE(InternetOpenUrlA(root.get(), QStringLiteral("http://no-such-host.invalid/x"), QString(), 0, 0, 0));
    EXPECT_FALSE(InternetOpenUrlA(root.get(), QStringLiteral("file:///etc/passwd"), QString(), 0, 0, 0));
    EXPECT_FALSE(InternetOpenUrlA(nullptr, QStringLiteral("http://127.0.0.1/"), QString(), 0, 0, 0));
}

TEST_F(InetHttp, ServerThatNeverAnswersIsGivenUp) {
    Limits l = CurrentLimits();
    l.httpLowSpeedTime = 2;
    SetLimits(l);
    HInternet root = openRoot();
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(InternetOpenUrlA(root.get(), QStringLiteral("http://127.0.0.1:8089/x"), QString(), 0,
                                  INTERNET_FLAG_RELOAD, 0));
    EXPECT_LT(t.elapsed(), 8000);
}

TEST_F(InetHttp, RequestCarriesAgentNoCacheHeadersAndAnEncodedPath) {
    testinet::FakeHttp peer({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
                             "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    HInternet root = openRoot();
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(peer.port());
    HInternet a = InternetOpenUrlA(root.get(), base + QStringLiteral("/download/자동업데이트_v1/a b.txt"),
                                   QStringLiteral("X-Extra: 1\r\n"), 0xFFFFFFFFu, INTERNET_FLAG_RELOAD, 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(readAll(a.get()), QByteArray("ok"));
    HInternet b = InternetOpenUrlA(root.get(), base + QStringLiteral("/plain"), QString(), 0, 0, 0);
    ASSERT_TRUE(b);

    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string& r = requests[0];
    EXPECT_EQ(r.rfind("GET /download/%EC%9E%90%EB%8F%99%EC%97%85%EB%8D%B0%EC%9D%B4%ED%8A%B8_v1/a%20b.txt HTTP/1.1\r\n", 0),
              0u)
        << r;
    EXPECT_NE(r.find("\r\nUser-Agent: VB OpenUrl\r\n"), std::string::npos);
    EXPECT_NE(r.find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
    EXPECT_NE(r.find("\r\nPragma: no-cache\r\n"), std::string::npos);
    EXPECT_NE(r.find("\r\nX-Extra: 1\r\n"), std::string::npos);
    EXPECT_EQ(requests[1].find("no-cache"), std::string::npos);
}

TEST_F(InetHttp, RedirectIsFollowedAndAShortBodyFailsTheRead) {
    testinet::FakeHttp peer({"HTTP/1.1 302 Found\r\nLocation: /final\r\nContent-Length: 0\r\n\r\n",
                             "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfinal",
                             "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(3000, 'p')});
    HInternet root = openRoot();
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(peer.port());
    HInternet moved = InternetOpenUrlA(root.get(), base + QStringLiteral("/start"), QString(), 0, 0, 0);
    ASSERT_TRUE(moved);
    EXPECT_EQ(HttpStatus(moved.get()), 200);
    EXPECT_EQ(readAll(moved.get()), QByteArray("final"));

    HInternet cut = InternetOpenUrlA(root.get(), base + QStringLiteral("/cut"), QString(), 0, 0, 0);
    ASSERT_TRUE(cut);
    char buf[4096];
    quint32 got = 0;
    EXPECT_FALSE(InternetReadFile(cut.get(), buf, sizeof buf, &got));
    EXPECT_EQ(got, 3000u);  // what did arrive is still handed over
}

TEST_F(InetHttp, AccessTypeDecidesWhetherTheProxySettingsApply) {
    testinet::FakeHttp proxy({"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nproxied"});
    EnvVar httpProxy("http_proxy", QByteArray("http://127.0.0.1:") + QByteArray::number(proxy.port()));
    EnvVar noProxy("no_proxy", QByteArray());
    const QString url = QStringLiteral("http://update.example.invalid/v.txt");

    HInternet direct = openRoot(INTERNET_OPEN_TYPE_DIRECT);
    EXPECT_FALSE(InternetOpenUrlA(direct.get(), url, QString(), 0, 0, 0));

    HInternet preconfig = openRoot(INTERNET_OPEN_TYPE_PRECONFIG);
    HInternet viaProxy = InternetOpenUrlA(preconfig.get(), url, QString(), 0, 0, 0);
    ASSERT_TRUE(viaProxy);
    EXPECT_EQ(readAll(viaProxy.get()), QByteArray("proxied"));
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET http://update.example.invalid/v.txt HTTP/1.1\r\n", 0), 0u);
}
