// HTTP(S) requests: one GET per request handle, its body read block by block.
#include <curl/curl.h>

#include <QList>
#include <memory>

#include "core/log.h"
#include "net/curlengine.h"
#include "net/inet.h"

namespace net {
namespace {

using namespace detail;

// The head of the final response (redirects are followed).
class HttpReply final : public Sink {
public:
    HttpReply() : Sink(true) {}

    void replyLine(const QByteArray& line, bool /*continuation*/) override {
        if (line.startsWith("HTTP/")) {
            const QList<QByteArray> parts = line.split(' ');
            status_ = parts.size() > 1 ? parts[1].toInt() : 0;
            sawLocation_ = false;
        } else if (line.toLower().startsWith("location:")) {
            sawLocation_ = true;
        } else if (line.isEmpty()) {
            const bool redirect = status_ >= 300 && status_ < 400 && sawLocation_;
            if (status_ >= 200 && !redirect) headDone = true;
        }
    }
    void reset() override {
        Sink::reset();
        headDone = sawLocation_ = false;
        status_ = 0;
    }

    bool headDone = false;  // the final response head is complete

private:
    int status_ = 0;
    bool sawLocation_ = false;
};

class HttpRequest final : public Stream {
public:
    ~HttpRequest() override { abandon(); }

    bool open(const Root& root, const QByteArray& url, const QList<QByteArray>& extraHeaders, bool reload,
              bool followRedirects) {
        if (!engine_.valid()) return false;
        reply_.reset();
        engine_.reset(&reply_);
        CURL* e = engine_.easy();
        const Limits& lim = ActiveLimits();
        const QByteArray agent = root.agent.toUtf8();
        curl_easy_setopt(e, CURLOPT_URL, url.constData());
        const bool secure = url.left(6).toLower() == "https:";
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, secure ? "https" : "http,https");
        // Once on TLS, a redirect never leads off it.
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        const core::TlsTrust& tls = ActiveTls().https;
        if (secure && tls.required && !engine_.applyTrust(tls)) return false;
        // A proxy's reply to CONNECT is not the server's head: it would end
        // the wait for the head before the server answered.
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(e, CURLOPT_USERAGENT, agent.constData());
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(lim.httpConnect));
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(lim.httpLowSpeedRate));
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lim.httpLowSpeedTime));
        if (root.smallResources) curl_easy_setopt(e, CURLOPT_TIMEOUT, static_cast<long>(lim.httpSmallTotal));
        engine_.applyProxy(root, url);
        if (reload) {
            // Neither a proxy nor any other cache may answer in the server's place.
            if (!headers_.append("Cache-Control: no-cache") || !headers_.append("Pragma: no-cache")) return false;
        }
        for (const QByteArray& h : extraHeaders)
            if (!headers_.append(h)) return false;
        if (!headers_.empty()) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get());

        if (!engine_.start()) return false;
        active_ = true;
        const bool ended = engine_.drive([this] { return reply_.headDone || reply_.received > 0; });
        long code = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
        status = static_cast<int>(code);
        if (status >= 400) qCWarning(core::lcNet).noquote() << url << "answered:" << reply_.lastReplyLine;
        if (!ended) return true;
        const int rc = engine_.result();
        complete();
        // With the head in, the response is there even if its body broke off.
        return rc == CURLE_OK || reply_.headDone;
    }

    int status = 0;

protected:
    Engine& engine() override { return engine_; }
    Sink& sink() override { return reply_; }

private:
    // Declared before the engine: the engine, destroyed first, ends the
    // transfer that still reads them.
    HttpReply reply_;
    TextList headers_;
    Engine engine_;
};

// The URL as it goes on the wire: non-ASCII as UTF-8, percent-encoded, and
// blanks and control characters encoded too; everything else as given.
QByteArray wireUrl(const QString& url) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char ch : url.toUtf8()) {
        const auto b = static_cast<unsigned char>(ch);
        if (b <= 0x20 || b >= 0x7f) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0f];
        } else {
            out += ch;
        }
    }
    return out;
}

}  // namespace

HInternet InternetOpenUrlA(Handle* hInternet, const QString& url, const QString& headers,
                           quint32 headersLength, quint32 flags, quintptr /*context*/) {
    auto* rootHandle = dynamic_cast<RootHandle*>(hInternet);
    if (!rootHandle) return nullptr;
    const QString lower = url.trimmed().toLower();
    const bool secure = lower.startsWith(QLatin1String("https://"));
    if (!lower.startsWith(QLatin1String("http://")) && !secure) return nullptr;
    if (!secure && ActiveTls().https.required) {
        qCWarning(core::lcNet).noquote() << "TLS required, not fetching a plain address:" << url.trimmed();
        return nullptr;
    }
    QString headerText = headers;
    if (headersLength != 0xFFFFFFFFu) headerText.truncate(static_cast<qsizetype>(headersLength));
    QList<QByteArray> extra;
    for (const QString& line : headerText.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        if (!HasLineBreakOrNul(line) && line.contains(QLatin1Char(':'))) extra.push_back(line.toUtf8());

    auto request = std::make_unique<HttpRequest>();
    if (!request->open(*rootHandle->root, wireUrl(url.trimmed()), extra, (flags & INTERNET_FLAG_RELOAD) != 0,
                       (flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0))
        return nullptr;
    return request;
}

bool LimitToSmallResources(Handle* hInternet) {
    auto* rootHandle = dynamic_cast<RootHandle*>(hInternet);
    if (!rootHandle) return false;
    auto root = std::make_shared<Root>(*rootHandle->root);
    root->smallResources = true;
    rootHandle->root = std::move(root);
    return true;
}

int HttpStatus(Handle* hRequest) {
    auto* request = dynamic_cast<HttpRequest*>(hRequest);
    return request ? request->status : 0;
}

}  // namespace net
