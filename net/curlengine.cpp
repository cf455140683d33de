#include "net/curlengine.h"

#include <curl/curl.h>

#include <QUrl>

#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "formats/proxylist.h"
#include "platform/systemproxy.h"

namespace net::detail {

namespace {

// libcurl's receive buffer; its 16 KiB default costs about a third of the
// throughput on a fast line.
constexpr long kBufferSize = 100 * 1024;
// A collected body (a listing) is held whole; a server that sends more than
// this is not listing a folder.
constexpr size_t kCollectMax = size_t{32} << 20;
constexpr int kWaitTickMs = 50;

size_t onWrite(char* ptr, size_t size, size_t nmemb, void* userdata) {
    const size_t len = size * nmemb;
    switch (static_cast<Sink*>(userdata)->receive(ptr, len)) {
        case Sink::Take::Taken: return len;
        case Sink::Take::Pause: return CURL_WRITEFUNC_PAUSE;
        case Sink::Take::Abort: break;
    }
    return 0;  // aborts the transfer
}

static_assert(CURL_ERROR_SIZE <= kErrorTextSize);

// An FTP reply ("550 ...") or an HTTP status line: what the log quotes.
bool isReplyLine(const QByteArray& line) {
    const auto digit = [&line](int i) { return line[i] >= '0' && line[i] <= '9'; };
    return line.startsWith("HTTP/") || (line.size() >= 3 && digit(0) && digit(1) && digit(2));
}

size_t onHeader(char* ptr, size_t size, size_t nmemb, void* userdata) {
    const size_t len = size * nmemb;
    const bool continuation = len > 0 && ptr[0] == ' ';
    auto* sink = static_cast<Sink*>(userdata);
    const QByteArray line = QByteArray(ptr, static_cast<qsizetype>(len)).trimmed();
    if (!continuation && isReplyLine(line)) sink->lastReplyLine = line.left(200);
    sink->replyLine(line, continuation);
    return len;
}

}  // namespace

void EnsureCurl() {
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

void EasyFree::operator()(Curl_easy* easy) const { curl_easy_cleanup(easy); }
void MultiFree::operator()(Curl_multi* multi) const { curl_multi_cleanup(multi); }
void ListFree::operator()(curl_slist* list) const { curl_slist_free_all(list); }

bool TextList::append(const QByteArray& text) {
    curl_slist* head = curl_slist_append(head_.get(), text.constData());
    if (!head) return false;
    if (!head_) head_.reset(head);
    return true;
}

// --- Sink -----------------------------------------------------------------

Sink::Take Sink::receive(const char* data, size_t len) {
    if (stream_) {
        if (available() >= std::max<size_t>(want, 1) && available() + len > kReadAhead) {
            paused = true;
            return Take::Pause;
        }
        // Make room by dropping what the reader has taken, before growing.
        if (head_ > 0 && data_.size() + len > data_.capacity()) {
            data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
    } else if (data_.size() + len > kCollectMax) {
        overflow = true;
        return Take::Abort;
    }
    data_.insert(data_.end(), data, data + len);
    received += static_cast<qint64>(len);
    return Take::Taken;
}

void Sink::consume(char* out, size_t n) {
    std::memcpy(out, data_.data() + head_, n);
    head_ += n;
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    }
}

QByteArray Sink::whole() const {
    return QByteArray(data_.data() + head_, static_cast<qsizetype>(available()));
}

void Sink::reset() {
    lastReplyLine.clear();
    data_.clear();
    head_ = 0;
    want = 0;
    paused = false;
    overflow = false;
    received = 0;
}

// --- Engine ---------------------------------------------------------------

Engine::Engine() {
    EnsureCurl();
    multi_.reset(curl_multi_init());
    easy_.reset(curl_easy_init());
}

Engine::~Engine() { stop(); }

void Engine::reset(Sink* sink) {
    stop();
    CURL* e = easy_.get();
    curl_easy_reset(e);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, sink);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, sink);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kBufferSize);
    errorText_[0] = '\0';
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
    sink_ = sink;
    // Until the transfer starts it has not succeeded: a caller that gives up
    // while setting options must not read a success of the last one.
    done_ = false;
    result_ = CURLE_FAILED_INIT;
}

void Engine::applyProxy(const Root& root, const QByteArray& url) {
    CURL* e = easy_.get();
    if (root.accessType == INTERNET_OPEN_TYPE_DIRECT) {
        // An empty proxy text turns off the proxy environment variables too.
        curl_easy_setopt(e, CURLOPT_PROXY, "");
    } else if (root.accessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(e, CURLOPT_PROXY, root.proxy.constData());
        // Set even when empty: otherwise libcurl reads no_proxy from the
        // environment, which these settings replace.
        curl_easy_setopt(e, CURLOPT_NOPROXY, root.bypass.constData());
    } else if (const platform::SystemProxy system = platform::CurrentSystemProxy(); !system.servers.isEmpty()) {
        // The system's settings (Windows keeps them apart from the
        // environment) decide: their server for the scheme, or none.
        const QUrl target(QString::fromUtf8(url));
        QByteArray server = formats::ProxyServerFor(system.servers, target.scheme()).toUtf8();
        if (formats::BypassesProxy(system.bypass, target.host())) server.clear();
        qCDebug(core::lcNet).noquote() << "system proxy for" << target.host() << ":"
                                       << (server.isEmpty() ? QByteArray("none") : server);
        curl_easy_setopt(e, CURLOPT_PROXY, server.constData());  // libcurl keeps a copy
        curl_easy_setopt(e, CURLOPT_NOPROXY, "");  // the bypass list has decided, not no_proxy
    }
    // Otherwise libcurl follows http_proxy, https_proxy, ftp_proxy and no_proxy.
}

bool Engine::applyTrust(const core::TlsTrust& trust) {
    CURL* e = easy_.get();
    const auto fail = [](const char* what, CURLcode rc) {
        qCWarning(core::lcNet, "TLS required, not connecting: %s (curl %d: %s)", what, static_cast<int>(rc),
                  curl_easy_strerror(rc));
        return false;
    };
    if (trust.caPem.isEmpty() && trust.pin.isEmpty() && !trust.systemStore)
        return fail("nothing to check the server against was built in", CURLE_SSL_CACERT_BADFILE);
    long sslOptions = 0;
    if (!trust.caPem.isEmpty()) {
        // Only the compiled-in CA: neither the system's bundle nor its folder.
        curl_blob blob{const_cast<char*>(trust.caPem.constData()), static_cast<size_t>(trust.caPem.size()),
                       CURL_BLOB_COPY};
        curl_easy_setopt(e, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
        if (const CURLcode rc = curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob); rc != CURLE_OK)
            return fail("the library takes no CA from memory", rc);
        // A company CA publishes no revocation lists; Schannel would refuse
        // every certificate for want of one. A listed revocation still counts.
        sslOptions |= CURLSSLOPT_REVOKE_BEST_EFFORT;
    } else if (trust.systemStore) {
        sslOptions |= CURLSSLOPT_NATIVE_CA;
    }
    if (!trust.pin.isEmpty()) {
        if (const CURLcode rc = curl_easy_setopt(e, CURLOPT_PINNEDPUBLICKEY, trust.pin.constData()); rc != CURLE_OK)
            return fail("the library cannot pin a public key", rc);
    }
    // With a pin alone, the pin is the check: the certificate need not chain
    // to any CA (nor name the host).
    const bool chain = !trust.caPem.isEmpty() || trust.systemStore;
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, chain ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, chain ? 2L : 0L);
    curl_easy_setopt(e, CURLOPT_SSL_OPTIONS, sslOptions);
    return true;
}

bool Engine::start() {
    done_ = false;
    result_ = CURLE_OK;
    if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) {
        done_ = true;
        result_ = CURLE_FAILED_INIT;
        noteEnd();
        return false;
    }
    added_ = true;
    return true;
}

bool Engine::drive(const std::function<bool()>& enough) {
    while (added_ && !done_) {
        int running = 0;
        const CURLMcode mc = curl_multi_perform(multi_.get(), &running);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_.get()) {
                done_ = true;
                result_ = msg->data.result;
            }
        }
        if (!done_ && mc != CURLM_OK) {
            done_ = true;
            result_ = CURLE_FAILED_INIT;
        }
        if (done_) {
            noteEnd();
            break;
        }
        if (enough && enough()) break;
        curl_multi_poll(multi_.get(), nullptr, 0, kWaitTickMs, nullptr);
        TickWait();
    }
    return done_ || !added_;
}

int Engine::run() {
    if (start()) drive(nullptr);
    stop();
    return result_;
}

void Engine::noteEnd() const {
    if (result_ == CURLE_OK) return;
    const char* url = nullptr;
    curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &url);
    QString text = QString::fromUtf8(url ? url : "(no address)") + QStringLiteral(": curl %1 (%2)").arg(result_).arg(
                       QString::fromUtf8(curl_easy_strerror(static_cast<CURLcode>(result_))));
    // libcurl keeps the first problem of a transfer in errorText_, which may
    // be one it got past (active FTP mode tries an address form first); the
    // server's own last reply, when there is one, says more reliably why.
    if (sink_ && !sink_->lastReplyLine.isEmpty())
        text += QStringLiteral("; server: ") + QString::fromUtf8(sink_->lastReplyLine);
    else if (errorText_[0])
        text += QStringLiteral(": ") + QString::fromUtf8(errorText_).trimmed();
    qCWarning(core::lcNet).noquote() << "transfer failed:" << text;
}

void Engine::resume() {
    if (added_ && sink_ && sink_->paused) {
        sink_->paused = false;
        curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
    }
}

void Engine::stop() {
    if (added_) {
        curl_multi_remove_handle(multi_.get(), easy_.get());
        added_ = false;
    }
}

// --- Stream ---------------------------------------------------------------

bool Stream::read(void* buffer, quint32 toRead, quint32* read) {
    *read = 0;
    // Reads that never have to wait would otherwise never let the caller
    // repaint: a fast link fills the buffer ahead of every read.
    TickWait();
    Sink& s = sink();
    if (active_ && s.available() < toRead) {
        s.want = toRead;
        engine().resume();
        if (engine().drive([&s, toRead] { return s.available() >= toRead; })) complete();
    }
    const size_t take = std::min<size_t>(s.available(), toRead);
    if (take > 0) s.consume(static_cast<char*>(buffer), take);
    *read = static_cast<quint32>(take);
    if (active_ && s.paused && s.available() <= kReadAhead / 2) engine().resume();
    return !(take < toRead && failed_);
}

bool Stream::checkComplete(int rc) { return rc == CURLE_OK; }

void Stream::complete() {
    if (!active_) return;
    const int rc = engine().result();
    engine().stop();
    active_ = false;
    failed_ = !checkComplete(rc);
    if (failed_ && rc == CURLE_OK)
        qCWarning(core::lcNet, "transfer ended short: %lld bytes came, not the size the server had announced",
                  static_cast<long long>(sink().received));
    released();
}

void Stream::abandon() {
    if (active_) {
        engine().stop();
        active_ = false;
        released();
    }
}

}  // namespace net::detail
