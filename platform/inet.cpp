#include "platform/inet.h"

#include <curl/curl.h>

#include <QElapsedTimer>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ftplisting.h"

namespace inet {

Handle::~Handle() = default;

namespace {

// Read-ahead of a streamed transfer: the transfer pauses once this much is
// waiting for the reader, so a large file never sits in memory.
constexpr size_t kReadAhead = size_t{1} << 20;
// libcurl's receive buffer; its 16 KiB default costs about a third of the
// throughput on a fast line.
constexpr long kBufferSize = 100 * 1024;
// A listing is held whole; a server that sends more than this is not
// listing a folder.
constexpr size_t kListingMax = size_t{32} << 20;
constexpr int kWaitTickMs = 50;

std::function<void()>& waitCallback() {
    static std::function<void()> callback;
    return callback;
}

Limits& limits() {
    static Limits current;
    return current;
}

void ensureCurl() {
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

// Runs the wait callback when a tick has passed since its last run. The
// clock spans calls: a download made of many short reads still lets the
// caller repaint.
void tickWait() {
    static QElapsedTimer sinceLast;
    static bool inside = false;
    auto& callback = waitCallback();
    if (!callback || inside) return;
    if (sinceLast.isValid() && sinceLast.elapsed() < kWaitTickMs) return;
    inside = true;
    callback();
    inside = false;
    sinceLast.start();
}

// What a transfer delivers: the body (streamed or collected whole) and what
// the server said on the way.
struct Sink {
    std::vector<char> data;
    size_t head = 0;          // first byte not yet handed to the reader
    bool stream = false;      // pause when the read-ahead is full (else collect up to kListingMax)
    size_t want = 0;          // the reader waits for this many bytes
    bool paused = false;
    bool overflow = false;
    qint64 received = 0;
    bool http = false;
    CURL* easy = nullptr;

    int lastReply = 0;        // FTP: code of the last complete reply; HTTP: status of the last head
    bool transferStarted = false;  // FTP: 125/150, the data is on its way
    bool mlst = false;        // FTP: FEAT listed MLST
    bool headDone = false;    // HTTP: the final response head is complete
    bool sawLocation = false;

    size_t available() const { return data.size() - head; }
    void clear() { *this = Sink{stream, http}; }
    Sink() = default;
    Sink(bool stream_, bool http_) : stream(stream_), http(http_) {}

    void consume(char* out, size_t n) {
        std::memcpy(out, data.data() + head, n);
        head += n;
        if (head == data.size()) {
            data.clear();
            head = 0;
        }
    }
};

size_t onWrite(char* ptr, size_t size, size_t nmemb, void* userdata) {
    auto* sink = static_cast<Sink*>(userdata);
    const size_t len = size * nmemb;
    if (sink->stream) {
        if (sink->available() >= std::max<size_t>(sink->want, 1) && sink->available() + len > kReadAhead) {
            sink->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        // Make room by dropping what the reader has taken, before growing.
        if (sink->head > 0 && sink->data.size() + len > sink->data.capacity()) {
            sink->data.erase(sink->data.begin(), sink->data.begin() + static_cast<std::ptrdiff_t>(sink->head));
            sink->head = 0;
        }
    } else if (sink->data.size() + len > kListingMax) {
        sink->overflow = true;
        return 0;  // aborts the transfer
    }
    sink->data.insert(sink->data.end(), ptr, ptr + len);
    sink->received += static_cast<qint64>(len);
    return len;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t onHeader(char* ptr, size_t size, size_t nmemb, void* userdata) {
    auto* sink = static_cast<Sink*>(userdata);
    const size_t len = size * nmemb;
    const QByteArray line = QByteArray(ptr, static_cast<qsizetype>(len)).trimmed();
    if (!sink->http) {
        // FTP hands every reply line of the control connection here.
        if (line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) &&
            (line.size() == 3 || line[3] == ' ')) {
            sink->lastReply = line.left(3).toInt();
            if (sink->lastReply == 125 || sink->lastReply == 150) sink->transferStarted = true;
        } else if (len > 0 && ptr[0] == ' ' && line.toUpper().startsWith("MLST")) {
            sink->mlst = true;  // a feature line of the FEAT reply
        }
        return len;
    }
    if (line.startsWith("HTTP/")) {
        const QList<QByteArray> parts = line.split(' ');
        sink->lastReply = parts.size() > 1 ? parts[1].toInt() : 0;
        sink->sawLocation = false;
    } else if (line.toLower().startsWith("location:")) {
        sink->sawLocation = true;
    } else if (line.isEmpty()) {
        const int code = sink->lastReply;
        const bool redirect = code >= 300 && code < 400 && sink->sawLocation;
        if (code >= 200 && !redirect) sink->headDone = true;
    }
    return len;
}

// One libcurl transfer handle on its own multi handle. The multi handle
// keeps the connection cache, so consecutive operations reuse one logged-in
// control connection.
class Engine {
public:
    Engine() {
        ensureCurl();
        multi_ = curl_multi_init();
        easy_ = curl_easy_init();
    }
    ~Engine() {
        stop();
        if (easy_) curl_easy_cleanup(easy_);
        if (multi_) curl_multi_cleanup(multi_);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool valid() const { return multi_ && easy_; }
    CURL* easy() const { return easy_; }
    CURLM* multi() const { return multi_; }

    // Forgets the options of the last operation and points the callbacks at `sink`.
    void reset(Sink* sink) {
        stop();
        curl_easy_reset(easy_);
        sink->easy = easy_;
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &onWrite);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, sink);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &onHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, sink);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kBufferSize);
        sink_ = sink;
    }

    bool start() {
        done_ = false;
        result_ = CURLE_OK;
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
            done_ = true;
            result_ = CURLE_FAILED_INIT;
            return false;
        }
        added_ = true;
        return true;
    }

    // Drives the transfer until `enough` holds or the transfer ends; true
    // when it ended (see result()).
    bool drive(const std::function<bool()>& enough) {
        while (added_ && !done_) {
            int running = 0;
            const CURLMcode mc = curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) {
                    done_ = true;
                    result_ = msg->data.result;
                }
            }
            if (!done_ && mc != CURLM_OK) {
                done_ = true;
                result_ = CURLE_FAILED_INIT;
            }
            if (done_ || (enough && enough())) break;
            curl_multi_poll(multi_, nullptr, 0, kWaitTickMs, nullptr);
            tickWait();
        }
        return done_ || !added_;
    }

    // Starts, runs to the end, and detaches.
    CURLcode run() {
        if (start()) drive(nullptr);
        stop();
        return result_;
    }

    void resume() {
        if (added_ && sink_ && sink_->paused) {
            sink_->paused = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT);
        }
    }

    // Detaches the transfer (ending it if it still runs); the connection
    // stays in the cache unless libcurl judged it unusable.
    void stop() {
        if (added_) {
            curl_multi_remove_handle(multi_, easy_);
            added_ = false;
        }
    }

    bool running() const { return added_ && !done_; }
    CURLcode result() const { return result_; }

private:
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    Sink* sink_ = nullptr;
    bool added_ = false;
    bool done_ = false;
    CURLcode result_ = CURLE_OK;
};

// The settings of a root handle.
struct Root {
    QString agent;
    quint32 accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    QByteArray proxy;
    QByteArray bypass;
};

class RootHandle final : public Handle {
public:
    std::shared_ptr<const Root> root;
};

void applyProxy(CURL* easy, const Root& root) {
    if (root.accessType == INTERNET_OPEN_TYPE_DIRECT) {
        // An empty proxy text turns off the proxy environment variables too.
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else if (root.accessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(easy, CURLOPT_PROXY, root.proxy.constData());
        if (!root.bypass.isEmpty()) curl_easy_setopt(easy, CURLOPT_NOPROXY, root.bypass.constData());
    }
    // Otherwise libcurl follows http_proxy, https_proxy, ftp_proxy and no_proxy.
}

bool hasLineBreakOrNul(const QString& text) {
    return text.contains(QChar(u'\r')) || text.contains(QChar(u'\n')) || text.contains(QChar(u'\0'));
}

// Each segment percent-encoded as UTF-8: a blank, '#', ';' or '%' in a name
// would otherwise change what the URL means.
QByteArray encodePath(const QString& path) {
    QByteArray out;
    const QStringList segments = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (i > 0) out += '/';
        out += QUrl::toPercentEncoding(segments[i]);
    }
    // A path from the server's root, not the login folder.
    if (out.startsWith('/')) out = "%2F" + out.mid(1);
    return out;
}

// --- FTP ----------------------------------------------------------------

class FtpSession {
public:
    std::shared_ptr<const Root> root;
    QByteArray baseUrl;  // "ftp://host:port/"
    QByteArray user;
    QByteArray password;
    bool passive = false;
    bool mlsd = false;
    bool loggedIn = false;
    bool busy = false;   // a file transfer holds the connection
    Engine engine;

    FtpSession() {
        // A replaced (dead) connection must not linger next to its successor.
        if (engine.valid()) curl_multi_setopt(engine.multi(), CURLMOPT_MAXCONNECTS, 1L);
    }

    // Options every FTP operation shares.
    void prepare(Sink* sink, const QByteArray& path, bool fresh) {
        engine.reset(sink);
        CURL* e = engine.easy();
        const Limits& lim = limits();
        const QByteArray url = baseUrl + path;
        curl_easy_setopt(e, CURLOPT_URL, url.constData());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(e, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, password.constData());
        // Paths go to the server relative to the login folder; the control
        // connection never changes folder, so every command means the same
        // whatever ran before it.
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        if (!passive) curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(lim.ftpConnect));
        curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(lim.ftpResponse));
        curl_easy_setopt(e, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(lim.ftpConnect) * 1000L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lim.ftpLowSpeedTime));
        curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
        if (fresh) curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
        applyProxy(e, *root);
    }

    // A failure that means the cached control connection had died (the
    // server closed an idle session): worth one more try on a new one.
    bool deadConnection(CURLcode rc, const Sink& sink) const {
        if (!loggedIn) return false;
        if (sink.lastReply == 421) return true;
        switch (rc) {
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
            case CURLE_GOT_NOTHING:
            case CURLE_COULDNT_CONNECT:
            case CURLE_FTP_WEIRD_SERVER_REPLY:
                return true;
            default:
                return false;
        }
    }

    // Runs one whole operation, logging in again once when the connection
    // turns out to be dead.
    CURLcode run(Sink& sink, const QByteArray& path, const std::function<void(CURL*)>& configure) {
        CURLcode rc = CURLE_FAILED_INIT;
        for (int attempt = 0; attempt < 2; ++attempt) {
            sink.clear();
            prepare(&sink, path, attempt > 0);
            if (configure) configure(engine.easy());
            rc = engine.run();
            if (rc == CURLE_OK && sink.lastReply != 421) break;
            if (!deadConnection(rc, sink)) break;
        }
        return rc;
    }
};

class FtpConnection final : public Handle {
public:
    std::shared_ptr<FtpSession> session;
};

class FtpFind final : public Handle {
public:
    std::vector<FindData> entries;
    size_t next = 0;
};

// A body read block by block: an FTP file or an HTTP response.
class Stream : public Handle {
public:
    bool read(void* buffer, quint32 toRead, quint32* read) {
        *read = 0;
        if (active_ && sink_.available() < toRead) {
            sink_.want = toRead;
            engine().resume();
            if (engine().drive([this, toRead] { return sink_.available() >= toRead; })) complete();
        }
        const size_t take = std::min<size_t>(sink_.available(), toRead);
        if (take > 0) sink_.consume(static_cast<char*>(buffer), take);
        *read = static_cast<quint32>(take);
        if (active_ && sink_.paused && sink_.available() <= kReadAhead / 2) engine().resume();
        return !(take < toRead && failed_);
    }

protected:
    virtual Engine& engine() = 0;
    virtual bool checkComplete(CURLcode rc) { return rc == CURLE_OK; }
    virtual void released() {}

    // The transfer has ended: detach it and note whether it was whole.
    void complete() {
        if (!active_) return;
        const CURLcode rc = engine().result();
        engine().stop();
        active_ = false;
        failed_ = !checkComplete(rc);
        released();
    }
    void abandon() {
        if (active_) {
            engine().stop();
            active_ = false;
            released();
        }
    }

    Sink sink_{true, false};
    bool active_ = false;
    bool failed_ = false;
};

class FtpFile final : public Stream {
public:
    explicit FtpFile(std::shared_ptr<FtpSession> s) : session(std::move(s)) {}
    ~FtpFile() override { abandon(); }

    // Starts the download; false when the server will not send the file.
    bool open(const QByteArray& path, bool ascii) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            sink_.clear();
            size = -1;
            session->prepare(&sink_, path, attempt > 0);
            if (ascii) curl_easy_setopt(session->engine.easy(), CURLOPT_TRANSFERTEXT, 1L);
            if (!session->engine.start()) return false;
            active_ = true;
            session->busy = true;
            // Wait for the server to start sending (or to refuse).
            const bool ended =
                session->engine.drive([this] { return sink_.transferStarted || sink_.received > 0; });
            readSize();
            if (!ended) return true;
            const CURLcode rc = session->engine.result();
            if (rc == CURLE_OK || sink_.transferStarted) {
                // Once the server has begun sending, the file is open; a
                // transfer that broke off fails the reads past what arrived.
                complete();
                return true;
            }
            const bool retry = attempt == 0 && sink_.received == 0 && session->deadConnection(rc, sink_);
            abandon();
            if (!retry) return false;
        }
        return false;
    }

    qint64 size = -1;
    std::shared_ptr<FtpSession> session;

protected:
    Engine& engine() override { return session->engine; }
    bool checkComplete(CURLcode rc) override {
        readSize();
        // A connection cut short may still end "successfully" on some
        // servers; the announced size tells.
        return rc == CURLE_OK && (size < 0 || sink_.received == size);
    }
    void released() override { session->busy = false; }

private:
    void readSize() {
        curl_off_t len = -1;
        if (curl_easy_getinfo(session->engine.easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &len) == CURLE_OK &&
            len >= 0)
            size = static_cast<qint64>(len);
    }
};

FtpSession* sessionOf(Handle* h) {
    auto* conn = dynamic_cast<FtpConnection*>(h);
    if (!conn || !conn->session || conn->session->busy) return nullptr;
    return conn->session.get();
}

bool goodFtpPath(const QString& path) { return !path.isEmpty() && !hasLineBreakOrNul(path); }

FindData toFindData(const FtpEntry& e) {
    FindData fd;
    fd.cFileName = e.name;
    fd.ftLastWriteTime = e.mtimeUtc;
    fd.nFileSize = e.size;
    fd.nFileSizeLow = static_cast<quint32>(static_cast<quint64>(e.size) & 0xFFFFFFFFu);
    fd.nFileSizeHigh = static_cast<quint32>(static_cast<quint64>(e.size) >> 32);
    fd.dwFileAttributes = e.isDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    return fd;
}

// --- HTTP ---------------------------------------------------------------

class HttpRequest final : public Stream {
public:
    ~HttpRequest() override {
        abandon();
        if (headers_) curl_slist_free_all(headers_);
    }

    bool open(const Root& root, const QByteArray& url, const QList<QByteArray>& extraHeaders, bool reload) {
        if (!engine_.valid()) return false;
        sink_ = Sink(true, true);
        engine_.reset(&sink_);
        CURL* e = engine_.easy();
        const Limits& lim = limits();
        const QByteArray agent = root.agent.toUtf8();
        curl_easy_setopt(e, CURLOPT_URL, url.constData());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(e, CURLOPT_USERAGENT, agent.constData());
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(lim.httpConnect));
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lim.httpLowSpeedTime));
        applyProxy(e, root);
        if (reload) {
            // Neither a proxy nor any other cache may answer in the server's place.
            headers_ = curl_slist_append(headers_, "Cache-Control: no-cache");
            headers_ = curl_slist_append(headers_, "Pragma: no-cache");
        }
        for (const QByteArray& h : extraHeaders) headers_ = curl_slist_append(headers_, h.constData());
        if (headers_) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_);

        if (!engine_.start()) return false;
        active_ = true;
        const bool ended = engine_.drive([this] { return sink_.headDone || sink_.received > 0; });
        long code = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
        status = static_cast<int>(code);
        if (!ended) return true;
        const CURLcode rc = engine_.result();
        complete();
        // With the head in, the response is there even if its body broke off.
        return rc == CURLE_OK || sink_.headDone;
    }

    int status = 0;

protected:
    Engine& engine() override { return engine_; }

private:
    Engine engine_;
    curl_slist* headers_ = nullptr;
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

// --- the calls ------------------------------------------------------------

HInternet InternetOpenA(const QString& agent, quint32 accessType, const QString& proxy,
                        const QString& proxyBypass, quint32 /*flags: nothing is cached anyway*/) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY)
        return nullptr;
    if (accessType == INTERNET_OPEN_TYPE_PROXY && proxy.trimmed().isEmpty()) return nullptr;
    ensureCurl();
    auto root = std::make_shared<Root>();
    root->agent = agent;
    root->accessType = accessType;
    root->proxy = proxy.trimmed().toUtf8();
    QString bypass = proxyBypass;
    bypass.replace(QLatin1Char(';'), QLatin1Char(','));
    root->bypass = bypass.simplified().replace(QLatin1Char(' '), QLatin1Char(',')).toUtf8();
    auto handle = std::make_unique<RootHandle>();
    handle->root = std::move(root);
    return handle;
}

HInternet InternetConnectA(Handle* hInternet, const QString& server, int port, const QString& user,
                           const QString& password, quint32 service, quint32 flags, quintptr /*context*/) {
    auto* rootHandle = dynamic_cast<RootHandle*>(hInternet);
    if (!rootHandle || service != INTERNET_SERVICE_FTP) return nullptr;
    if (port == 0) port = INTERNET_DEFAULT_FTP_PORT;
    if (port < 0 || port > 65535) return nullptr;
    // A host name that would change the URL's meaning is no host name.
    QString host = server.trimmed();
    if (host.isEmpty()) return nullptr;
    for (const QChar c : host)
        if (c.unicode() <= 0x20 || c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('#') ||
            c == QLatin1Char('@') || c == QLatin1Char('\\'))
            return nullptr;
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    if (hasLineBreakOrNul(user) || hasLineBreakOrNul(password)) return nullptr;

    auto session = std::make_shared<FtpSession>();
    if (!session->engine.valid()) return nullptr;
    session->root = rootHandle->root;
    session->baseUrl = "ftp://" + host.toUtf8() + ':' + QByteArray::number(port) + '/';
    session->user = user.isEmpty() ? QByteArrayLiteral("anonymous") : user.toUtf8();
    session->password = password.toUtf8();
    session->passive = (flags & INTERNET_FLAG_PASSIVE) != 0;

    // Log in and learn once whether the server lists by MLSD (exact UTC
    // times and sizes). A server without FEAT still logs in.
    Sink sink;
    curl_slist* quote = curl_slist_append(nullptr, "*FEAT");
    const CURLcode rc = session->run(sink, QByteArray(), [quote](CURL* e) {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    });
    curl_slist_free_all(quote);
    if (rc != CURLE_OK || sink.lastReply == 421) return nullptr;
    session->mlsd = sink.mlst;
    session->loggedIn = true;

    auto handle = std::make_unique<FtpConnection>();
    handle->session = std::move(session);
    return handle;
}

HInternet FtpFindFirstFileA(Handle* hConnect, const QString& searchFile, FindData& out, quint32 /*flags*/,
                            quintptr /*context*/) {
    FtpSession* session = sessionOf(hConnect);
    if (!session || hasLineBreakOrNul(searchFile)) return nullptr;
    QString folder = searchFile;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    const QByteArray path = encodePath(folder);

    Sink sink;
    bool mlsd = session->mlsd;
    CURLcode rc = session->run(sink, path, [mlsd](CURL* e) {
        curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 0L);
        if (mlsd) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "MLSD");
    });
    if (rc != CURLE_OK && mlsd && (sink.lastReply == 500 || sink.lastReply == 502)) {
        // Announced MLST but does not know MLSD: list the classic way from now on.
        session->mlsd = mlsd = false;
        rc = session->run(sink, path, [](CURL* e) { curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 0L); });
    }
    if (rc != CURLE_OK || sink.overflow) return nullptr;

    const QByteArray body(sink.data.data(), static_cast<qsizetype>(sink.data.size()));
    auto find = std::make_unique<FtpFind>();
    for (const FtpEntry& e : ParseListing(body, mlsd, QDateTime::currentDateTimeUtc())) {
        if (e.name.isEmpty() || e.name == QLatin1String(".") || e.name == QLatin1String("..")) continue;
        find->entries.push_back(toFindData(e));
    }
    if (find->entries.empty()) return nullptr;
    out = find->entries[0];
    find->next = 1;
    return find;
}

bool InternetFindNextFileA(Handle* hFind, FindData& out) {
    auto* find = dynamic_cast<FtpFind*>(hFind);
    if (!find || find->next >= find->entries.size()) return false;
    out = find->entries[find->next++];
    return true;
}

HInternet FtpOpenFileA(Handle* hConnect, const QString& fileName, quint32 access, quint32 flags,
                       quintptr /*context*/) {
    FtpSession* session = sessionOf(hConnect);
    // Reading is all this layer does; the server is never written.
    if (!session || access != GENERIC_READ || !goodFtpPath(fileName) || fileName.endsWith(QLatin1Char('/')))
        return nullptr;
    auto file = std::make_unique<FtpFile>(static_cast<FtpConnection*>(hConnect)->session);
    if (!file->open(encodePath(fileName), (flags & 3u) == FTP_TRANSFER_TYPE_ASCII)) return nullptr;
    return file;
}

quint32 FtpGetFileSize(Handle* hFile, quint32* high) {
    const qint64 size = FtpGetFileSize64(hFile);
    if (size < 0) {
        if (high) *high = INVALID_FILE_SIZE;
        return INVALID_FILE_SIZE;
    }
    if (high) *high = static_cast<quint32>(static_cast<quint64>(size) >> 32);
    return static_cast<quint32>(static_cast<quint64>(size) & 0xFFFFFFFFu);
}

qint64 FtpGetFileSize64(Handle* hFile) {
    auto* file = dynamic_cast<FtpFile*>(hFile);
    return file ? file->size : -1;
}

bool InternetReadFile(Handle* hFile, void* buffer, quint32 toRead, quint32* read) {
    quint32 dummy = 0;
    if (!read) read = &dummy;
    *read = 0;
    auto* stream = dynamic_cast<Stream*>(hFile);
    if (!stream || (!buffer && toRead > 0)) return false;
    return stream->read(buffer, toRead, read);
}

bool FtpDeleteFileA(Handle* hConnect, const QString& fileName) {
    FtpSession* session = sessionOf(hConnect);
    if (!session || !goodFtpPath(fileName)) return false;
    // '*': a refusal is judged here by its reply, and does not make libcurl
    // drop a healthy connection.
    const QByteArray command = "*DELE " + fileName.toUtf8();
    curl_slist* quote = curl_slist_append(nullptr, command.constData());
    Sink sink;
    const CURLcode rc = session->run(sink, QByteArray(), [quote](CURL* e) {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    });
    curl_slist_free_all(quote);
    return rc == CURLE_OK && sink.lastReply == 250;
}

HInternet InternetOpenUrlA(Handle* hInternet, const QString& url, const QString& headers,
                           quint32 headersLength, quint32 flags, quintptr /*context*/) {
    auto* rootHandle = dynamic_cast<RootHandle*>(hInternet);
    if (!rootHandle) return nullptr;
    const QString lower = url.trimmed().toLower();
    if (!lower.startsWith(QLatin1String("http://")) && !lower.startsWith(QLatin1String("https://")))
        return nullptr;
    QString headerText = headers;
    if (headersLength != 0xFFFFFFFFu) headerText.truncate(static_cast<qsizetype>(headersLength));
    QList<QByteArray> extra;
    for (const QString& line : headerText.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        if (!hasLineBreakOrNul(line) && line.contains(QLatin1Char(':'))) extra.push_back(line.toUtf8());

    auto request = std::make_unique<HttpRequest>();
    if (!request->open(*rootHandle->root, wireUrl(url.trimmed()), extra, (flags & INTERNET_FLAG_RELOAD) != 0))
        return nullptr;
    return request;
}

int HttpStatus(Handle* hRequest) {
    auto* request = dynamic_cast<HttpRequest*>(hRequest);
    return request ? request->status : 0;
}

bool InternetCloseHandle(HInternet& handle) {
    const bool had = handle != nullptr;
    handle.reset();
    return had;
}

void SetWaitCallback(std::function<void()> callback) { waitCallback() = std::move(callback); }

Limits CurrentLimits() { return limits(); }
void SetLimits(const Limits& l) { limits() = l; }

}  // namespace inet
