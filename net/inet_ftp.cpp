// The FTP session: login, listing, download and deletion on one logged-in
// control connection that libcurl keeps between operations.
#include <curl/curl.h>

#include <QScopeGuard>
#include <QStringDecoder>
#include <algorithm>
#include <vector>

#include "net/curlengine.h"
#include "formats/ftplisting.h"
#include "net/inet.h"
#include "platform/textcodec.h"

namespace net {
namespace {

using namespace detail;

// What the control connection said.
class FtpReply final : public Sink {
public:
    explicit FtpReply(bool stream) : Sink(stream) {}

    void replyLine(const QByteArray& line, bool continuation) override {
        const bool coded = line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]);
        if (transferStarted && line.toLower().contains("truncated")) truncated = true;
        if (coded && (line.size() == 3 || line[3] == ' ')) {
            lastReply = line.left(3).toInt();
            if (lastReply == 125 || lastReply == 150) transferStarted = true;
            inFeatures_ = false;
        } else if (coded && line[3] == '-') {
            inFeatures_ = line.startsWith("211");
        } else if (continuation && inFeatures_) {
            // One feature a line: its name, maybe followed by its parameters.
            features.push_back(line.split(' ').constFirst().toUpper());
        }
    }
    void reset() override {
        Sink::reset();
        lastReply = 0;
        transferStarted = inFeatures_ = truncated = false;
        features.clear();
    }

    int lastReply = 0;             // code of the last complete reply
    bool transferStarted = false;  // 125/150: the data is on its way
    // The server said, after the data had started, that it cut the listing
    // ("226 Output truncated to 10000 matches"): a success that is not the
    // whole folder.
    bool truncated = false;
    QList<QByteArray> features;    // what FEAT listed

private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    bool inFeatures_ = false;
};

using Configure = std::function<void(CURL*)>;

// A path as it goes into the URL: each segment percent-encoded byte for
// byte, so libcurl hands the server exactly these bytes.
QByteArray urlPath(const QByteArray& path) {
    QByteArray out;
    const QList<QByteArray> segments = path.split('/');
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (i > 0) out += '/';
        out += segments[i].toPercentEncoding();
    }
    // A path from the server's root, not the login folder.
    if (out.startsWith('/')) out = "%2F" + out.mid(1);
    return out;
}

// A name that may come in either encoding: bytes that are valid UTF-8 are
// taken as such, others as the system code page.
QString decodeServerName(const QByteArray& raw) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(raw);
    return utf8.hasError() ? platform::FromCp949(raw) : text;
}

class FtpSession {
public:
    std::shared_ptr<const Root> root;
    QByteArray baseUrl;  // "ftp://host:port/"
    QByteArray user;
    QByteArray password;
    bool passive = false;
    core::TlsTrust tls;     // what the session demands, fixed at login
    bool mlsd = false;      // lists by MLSD (exact UTC times and sizes)
    bool utf8 = false;      // names are UTF-8 on the wire (the server offers UTF8)
    bool utf8Refused = false;  // offers UTF8 but refuses OPTS UTF8 ON: listed names may be in either encoding
    bool loggedIn = false;
    bool busy = false;      // a file transfer holds the connection
    TextList commands;      // sent before the running operation; libcurl reads them meanwhile
    Engine engine;          // after `commands`: destroyed first, ending a transfer that reads them

    FtpSession() {
        // A replaced (dead) connection must not linger next to its successor.
        if (engine.valid()) curl_multi_setopt(engine.multi(), CURLMOPT_MAXCONNECTS, 1L);
    }

    // A name as the server's encoding spells it; false when it cannot be
    // spelt (a character the code page lacks would become another name).
    bool encodeName(const QString& text, QByteArray& out) const {
        if (utf8) {
            out = text.toUtf8();
            return true;
        }
        out = platform::ToCp949(text);
        return platform::FromCp949(out) == text;
    }

    QString decodeName(const QByteArray& raw) const {
        return utf8 && !utf8Refused ? QString::fromUtf8(raw) : decodeServerName(raw);
    }

    // Starts an operation on `path` with `quote` sent first (a leading '*'
    // lets a refusal pass), and drives it until `enough` holds or it ends.
    // When it ends before any data because the cached control connection had
    // died (the server closed an idle session), it runs once more on a fresh
    // login. True while it still runs; the caller stops it in any case.
    bool begin(FtpReply& reply, const QByteArray& path, const QList<QByteArray>& quote, const Configure& configure,
               const std::function<bool()>& enough) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            reply.reset();
            if (!prepare(reply, path, quote, attempt > 0)) return false;
            if (configure) configure(engine.easy());
            if (!engine.start()) return false;
            if (!engine.drive(enough)) return true;
            const int rc = engine.result();
            const bool failedEarly = (rc != CURLE_OK || reply.lastReply == 421) && !reply.transferStarted &&
                                     reply.received == 0;
            if (attempt > 0 || !failedEarly || !deadConnection(rc, reply)) return false;
            engine.stop();
        }
        return false;
    }

    // One whole operation; returns its CURLcode.
    int run(FtpReply& reply, const QByteArray& path, const QList<QByteArray>& quote, const Configure& configure) {
        begin(reply, path, quote, configure, nullptr);
        engine.stop();
        return engine.result();
    }

private:
    // Options every FTP operation shares.
    bool prepare(FtpReply& reply, const QByteArray& path, const QList<QByteArray>& quote, bool fresh) {
        engine.reset(&reply);
        CURL* e = engine.easy();
        const Limits& lim = ActiveLimits();
        const QByteArray url = baseUrl + urlPath(path);
        curl_easy_setopt(e, CURLOPT_URL, url.constData());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(e, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, password.constData());
        // Paths go to the server relative to the login folder; the control
        // connection never changes folder, so every command means the same
        // whatever ran before it.
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        if (tls.required) {
            // TLS before the account is named, and on every data connection.
            curl_easy_setopt(e, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
            curl_easy_setopt(e, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
            if (!engine.applyTrust(tls)) return false;
        }
        // Active transfers over TLS stall in this libcurl (it never starts
        // TLS on the connection the server opens), so TLS goes passive.
        if (!passive && !tls.required) curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(lim.ftpConnect));
        curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(lim.ftpResponse));
        curl_easy_setopt(e, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(lim.ftpConnect) * 1000L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lim.ftpLowSpeedTime));
        curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
        if (fresh) curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
        engine.applyProxy(*root, url);

        commands.clear();
        // libcurl may replace a dead connection by itself, and a new login
        // starts in the server's default encoding: every operation asks again.
        if (utf8 && !utf8Refused && !commands.append("*OPTS UTF8 ON")) return false;
        for (const QByteArray& q : quote)
            if (!commands.append(q)) return false;
        if (!commands.empty()) curl_easy_setopt(e, CURLOPT_QUOTE, commands.get());
        return true;
    }

    // A failure that means the cached control connection had died: worth
    // one more try on a new one.
    bool deadConnection(int rc, const FtpReply& reply) const {
        if (!loggedIn) return false;
        if (reply.lastReply == 421) return true;
        switch (rc) {
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
            case CURLE_GOT_NOTHING:
            case CURLE_COULDNT_CONNECT:
            case CURLE_FTP_WEIRD_SERVER_REPLY:
                return true;
            case CURLE_OPERATION_TIMEDOUT:
                // Not a word back on a connection that was logged in: it
                // was most likely dropped on the way without a close (a
                // firewall forgetting an idle connection), so the command
                // never arrived and a fresh connection gets it once more.
                return reply.lastReply == 0;
            default:
                return false;
        }
    }
};

// A listing is parsed as it comes and only its line at hand is kept, so its
// length costs no memory here; a server that sends more than this is not
// listing a folder. (A window's list stops far earlier, at its own limit.)
constexpr qint64 kListingMax = qint64{4} << 30;
constexpr long kListingReadSize = 256 * 1024;

class FtpConnection final : public Handle {
public:
    std::shared_ptr<FtpSession> session;
};

class FtpFind final : public Handle {
public:
    std::vector<FindData> entries;
    size_t next = 0;
};

class FtpFile final : public Stream {
public:
    explicit FtpFile(std::shared_ptr<FtpSession> s) : session_(std::move(s)) {}
    ~FtpFile() override { abandon(); }

    // Starts the download; false when the server will not send the file.
    bool open(const QByteArray& path, bool ascii) {
        active_ = true;
        session_->busy = true;
        const bool running = session_->begin(
            reply_, path, {}, [ascii](CURL* e) { if (ascii) curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, 1L); },
            [this] { return reply_.transferStarted || reply_.received > 0; });
        readSize();
        if (running) return true;
        // Once the server has begun sending, the file is open; a transfer
        // that broke off fails the reads past what arrived.
        if (session_->engine.result() == CURLE_OK || reply_.transferStarted) {
            complete();
            return true;
        }
        abandon();
        return false;
    }

    qint64 size = -1;

protected:
    Engine& engine() override { return session_->engine; }
    Sink& sink() override { return reply_; }
    bool checkComplete(int rc) override {
        readSize();
        // A connection cut short may still end "successfully" on some
        // servers; the announced size tells.
        return rc == CURLE_OK && (size < 0 || reply_.received == size);
    }
    void released() override { session_->busy = false; }

private:
    void readSize() {
        curl_off_t len = -1;
        if (curl_easy_getinfo(session_->engine.easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &len) == CURLE_OK &&
            len >= 0)
            size = static_cast<qint64>(len);
    }

    std::shared_ptr<FtpSession> session_;
    FtpReply reply_{true};
};

FtpConnection* connectionOf(Handle* h) {
    auto* conn = dynamic_cast<FtpConnection*>(h);
    if (!conn || !conn->session || conn->session->busy) return nullptr;
    return conn;
}

bool goodFtpPath(const QByteArray& path) { return !path.isEmpty() && !HasLineBreakOrNul(path); }

// A text path in the connection's encoding; empty when it cannot be sent.
QByteArray wirePath(const FtpSession& session, const QString& path) {
    QByteArray out;
    if (HasLineBreakOrNul(path) || !session.encodeName(path, out)) return QByteArray();
    return out;
}

FindData toFindData(const FtpEntry& e) {
    FindData fd;
    fd.cFileName = e.name;
    fd.rawName = e.rawName;
    fd.ftLastWriteTime = e.mtimeUtc;
    fd.nFileSize = e.size;
    fd.nFileSizeLow = static_cast<quint32>(static_cast<quint64>(e.size) & 0xFFFFFFFFu);
    fd.nFileSizeHigh = static_cast<quint32>(static_cast<quint64>(e.size) >> 32);
    fd.dwFileAttributes = e.isDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    return fd;
}

bool isAscii(const QByteArray& raw) {
    return std::all_of(raw.cbegin(), raw.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The names of one listing, read as text. On a server that speaks UTF-8
// each name is UTF-8, and one that is not (put there by other means) is
// read in the system code page. Any other server keeps its names in one
// encoding: UTF-8 when every name of the listing is valid UTF-8, else code
// page 949 for all of them, since some code-page-949 names (체크.hwp) are
// valid UTF-8 by chance. Until a listing has decided, the entries whose
// names could go either way wait, in the server's order. A hostile listing
// must not fill memory that way: past Limits::listingHeldNames entries or
// listingHeldBytes of names that all are valid UTF-8, the listing counts as
// UTF-8 and goes on as on a server that speaks UTF-8.
class ListingNames {
public:
    ListingNames(bool utf8Server, const std::function<void(const FindData&)>& onEntry)
        : utf8Server_(utf8Server), onEntry_(onEntry) {}

    void take(FtpEntry& e) {
        if (utf8Server_ || utf8_) return hand(e, decodeServerName(e.rawName));
        if (cp949_) return hand(e, platform::FromCp949(e.rawName));
        if (held_.empty() && isAscii(e.rawName)) return hand(e, QString::fromLatin1(e.rawName));
        if (e.rawName.isValidUtf8()) {
            heldBytes_ += e.rawName.size();
            held_.push_back(std::move(e));
            const Limits& lim = ActiveLimits();
            if (held_.size() >= static_cast<size_t>(lim.listingHeldNames) || heldBytes_ >= lim.listingHeldBytes) {
                utf8_ = true;
                finish();
            }
            return;
        }
        cp949_ = true;
        std::vector<FtpEntry> held = std::move(held_);
        for (FtpEntry& h : held) hand(h, platform::FromCp949(h.rawName));
        hand(e, platform::FromCp949(e.rawName));
    }

    // The whole listing is in: what still waits is UTF-8.
    void finish() {
        std::vector<FtpEntry> held = std::move(held_);
        for (FtpEntry& h : held) hand(h, QString::fromUtf8(h.rawName));
    }

private:
    void hand(FtpEntry& e, QString name) {
        e.name = std::move(name);
        onEntry_(toFindData(e));
    }

    const bool utf8Server_;
    const std::function<void(const FindData&)>& onEntry_;
    bool cp949_ = false;
    bool utf8_ = false;
    std::vector<FtpEntry> held_;
    qint64 heldBytes_ = 0;
};

}  // namespace

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
    if (HasLineBreakOrNul(user) || HasLineBreakOrNul(password)) return nullptr;

    auto session = std::make_shared<FtpSession>();
    if (!session->engine.valid()) return nullptr;
    session->root = rootHandle->root;
    session->baseUrl = "ftp://" + host.toUtf8() + ':' + QByteArray::number(port) + '/';
    session->user = user.isEmpty() ? QByteArrayLiteral("anonymous") : user.toUtf8();
    session->password = password.toUtf8();
    session->passive = (flags & INTERNET_FLAG_PASSIVE) != 0;
    session->tls = ActiveTls().ftp;

    // Log in and learn once how the server lists and spells names. A server
    // without FEAT still logs in.
    const auto noBody = [](CURL* e) { curl_easy_setopt(e, CURLOPT_NOBODY, 1L); };
    FtpReply reply(false);
    if (session->run(reply, QByteArray(), {QByteArrayLiteral("*FEAT")}, noBody) != CURLE_OK ||
        reply.lastReply == 421)
        return nullptr;
    session->mlsd = reply.features.contains("MLST");
    session->utf8 = reply.features.contains("UTF8");
    session->loggedIn = true;
    // Switch a UTF8 server to UTF-8 names now; every later operation asks again.
    if (session->utf8 && session->run(reply, QByteArray(), {}, noBody) != CURLE_OK) return nullptr;
    // Some servers list UTF8 whatever their disk holds and then refuse to
    // switch (ProFTPD with its encoding off sends code page 949 names).
    session->utf8Refused = session->utf8 && reply.lastReply >= 400;

    auto handle = std::make_unique<FtpConnection>();
    handle->session = std::move(session);
    return handle;
}

bool FtpListFolder(Handle* hConnect, const QString& searchFile, const std::function<void(const FindData&)>& onEntry) {
    return FtpListFolder(hConnect, searchFile, onEntry, nullptr);
}

bool FtpListFolder(Handle* hConnect, const QString& searchFile, const std::function<void(const FindData&)>& onEntry,
                   bool* truncated) {
    if (truncated) *truncated = false;
    FtpConnection* conn = connectionOf(hConnect);
    if (!conn) return false;
    FtpSession& session = *conn->session;
    QString folder = searchFile;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    const QByteArray path = wirePath(session, folder);
    if (path.isEmpty() && !folder.isEmpty()) return false;

    // Names are read by the listing as a whole (ListingNames), not line by line.
    const NameDecoder undecoded = [](const QByteArray&) { return QString(); };
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (;;) {
        const bool mlsd = session.mlsd;
        const auto list = [mlsd](CURL* e) {
            // A long listing comes in fewer, larger reads (as curl's own tool reads).
            curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kListingReadSize);
            curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 0L);
            if (mlsd) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "MLSD");
        };
        // Each piece is parsed as it comes, so the entries are ready when
        // the last byte is.
        FtpReply reply(true);
        // A server that lists the UTF8 feature reads each name on its own,
        // whether or not it took OPTS UTF8 ON.
        ListingNames names(session.utf8, onEntry);
        ListingStream parser(mlsd, now, undecoded, [&names](FtpEntry& e) { names.take(e); });
        const auto arrived = [&reply] { return reply.available() > 0; };
        // However this attempt ends (the entries' consumer may throw), the
        // transfer is detached before the reply it writes to goes.
        const auto detach = qScopeGuard([&session] { session.engine.stop(); });
        bool running = session.begin(reply, path, {}, list, arrived);
        char piece[64 * 1024];
        for (;;) {
            while (const size_t n = std::min(reply.available(), sizeof piece)) {
                reply.consume(piece, n);
                parser.feed(piece, static_cast<qsizetype>(n));
            }
            if (!running || reply.received > kListingMax) break;
            session.engine.resume();
            running = !session.engine.drive(arrived);
        }
        session.engine.stop();
        const int rc = session.engine.result();
        if (running || reply.received > kListingMax) return false;  // not a folder's listing
        if (rc != CURLE_OK && mlsd && reply.received == 0 && (reply.lastReply == 500 || reply.lastReply == 502)) {
            // Announced MLST but does not know MLSD: list the classic way from now on.
            session.mlsd = false;
            continue;
        }
        if (rc != CURLE_OK) return false;
        parser.finish();
        names.finish();
        if (truncated) *truncated = reply.truncated;
        return true;
    }
}

HInternet FtpFindFirstFileA(Handle* hConnect, const QString& searchFile, FindData& out, quint32 /*flags*/,
                            quintptr /*context*/) {
    auto find = std::make_unique<FtpFind>();
    if (!FtpListFolder(hConnect, searchFile, [&find](const FindData& fd) { find->entries.push_back(fd); }) ||
        find->entries.empty())
        return nullptr;
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

HInternet FtpOpenFileRaw(Handle* hConnect, const QByteArray& remotePath, quint32 access, quint32 flags,
                         quintptr /*context*/) {
    FtpConnection* conn = connectionOf(hConnect);
    // Reading is all this layer does; the server is never written.
    if (!conn || access != GENERIC_READ || !goodFtpPath(remotePath) || remotePath.endsWith('/')) return nullptr;
    auto file = std::make_unique<FtpFile>(conn->session);
    if (!file->open(remotePath, (flags & 3u) == FTP_TRANSFER_TYPE_ASCII)) return nullptr;
    return file;
}

QByteArray FtpPathBytes(Handle* hConnect, const QString& path) {
    auto* conn = dynamic_cast<FtpConnection*>(hConnect);
    return conn && conn->session ? wirePath(*conn->session, path) : QByteArray();
}

HInternet FtpOpenFileA(Handle* hConnect, const QString& fileName, quint32 access, quint32 flags,
                       quintptr context) {
    FtpConnection* conn = connectionOf(hConnect);
    if (!conn) return nullptr;
    return FtpOpenFileRaw(hConnect, wirePath(*conn->session, fileName), access, flags, context);
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

bool FtpDeleteFileRaw(Handle* hConnect, const QByteArray& remotePath) {
    FtpConnection* conn = connectionOf(hConnect);
    if (!conn || !goodFtpPath(remotePath)) return false;
    // '*': a refusal is judged here by its reply, and does not make libcurl
    // drop a healthy connection.
    FtpReply reply(false);
    const int rc = conn->session->run(reply, QByteArray(), {"*DELE " + remotePath},
                                      [](CURL* e) { curl_easy_setopt(e, CURLOPT_NOBODY, 1L); });
    return rc == CURLE_OK && reply.lastReply == 250;
}

bool FtpDeleteFileA(Handle* hConnect, const QString& fileName) {
    FtpConnection* conn = connectionOf(hConnect);
    return conn && FtpDeleteFileRaw(hConnect, wirePath(*conn->session, fileName));
}

}  // namespace net
