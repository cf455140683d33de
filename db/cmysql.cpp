#include "db/cmysql.h"

#include <mysql.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "core/log.h"
#include "core/msgbox.h"
#include "formats/profile.h"
#include "formats/safesql.h"
#include "platform/sealedfile.h"
#include "platform/textcodec.h"

namespace {

using platform::Error;

// Texts travel in the connection's own character set. Every connection
// starts in utf8mb4, which holds any text; a later "set names" moves it, and
// the library follows that change (it reads the server's session-state
// notes), so the current name always comes from the library.
constexpr const char* kHandshakeCharset = "utf8mb4";

// A silent server must not hang the program: connecting gives up after
// 10 s. Reads and writes give up after 90 s, well above the server's lock
// wait timeout, so a statement waiting for a lock ends with the server's
// own error rather than with a lost connection (which query would answer by
// reconnecting and running the statement again).
constexpr unsigned kConnectTimeoutSec = 10;
constexpr unsigned kReadTimeoutSec = 90;
constexpr unsigned kWriteTimeoutSec = 90;

// The one database user whose deadlocks are retried, and how often.
const QString kDeadlockRetryUser = QStringLiteral("velmora2716");
constexpr int kMaxDeadlockRetries = 3;
constexpr auto kDeadlockWait = std::chrono::milliseconds(500);

constexpr unsigned kErrServerGone = 2006;      // server has gone away
constexpr unsigned kErrServerLost = 2013;      // lost connection during query
constexpr unsigned kErrConnection = 2002;      // cannot connect (socket or TCP)
constexpr unsigned kErrHostUnreachable = 2003; // cannot connect to the host
constexpr unsigned kErrDeadlock = 1213;
constexpr unsigned kErrCharset = 2019;         // the library's "cannot initialise character set"
constexpr unsigned kErrTls = 2026;             // TLS could not be set up or the peer did not pass

// Asks the library for TLS with `trust`, refusing a server without it. The
// CA travels in a sealed file: the library reads certificates only by file
// name. False (with the reason in `why`) when the options cannot be set, so
// that nothing is tried in plain text.
bool requireTls(MYSQL* m, const core::TlsTrust& trust, platform::SealedFile& caFile, QString& why) {
    const my_bool yes = 1;
    if (mysql_optionsv(m, MYSQL_OPT_SSL_ENFORCE, &yes) != 0) {
        why = QStringLiteral("the client library cannot require TLS");
        return false;
    }
    if (!trust.caPem.isEmpty()) {
        if (!caFile.create(trust.caPem)) {
            why = QStringLiteral("the CA certificate could not be handed to the client library");
            return false;
        }
        const QByteArray path = caFile.path().toLocal8Bit();
        if (mysql_optionsv(m, MYSQL_OPT_SSL_CA, path.constData()) != 0 ||
            mysql_optionsv(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &yes) != 0) {
            why = QStringLiteral("the client library refuses the CA certificate");
            return false;
        }
    }
    if (!trust.pin.isEmpty()) {
        // The pin is the check: the certificate need not chain to anything.
        if (mysql_optionsv(m, MARIADB_OPT_TLS_PEER_FP, trust.pin.constData()) != 0) {
            why = QStringLiteral("the client library refuses the certificate fingerprint");
            return false;
        }
    }
    if (trust.caPem.isEmpty() && trust.pin.isEmpty()) {
        why = QStringLiteral("TLS is required but nothing to check the server against was built in");
        return false;
    }
    return true;
}

const QString kCrLf = QStringLiteral("\r\n");

// The Korean part of a failed connect's report: one line, and for a host
// that cannot be reached the advice to check the network.
QString connectMessage(unsigned n) {
    QString msg = QStringLiteral("데이터베이스 서버에 접속할 수 없습니다.");
    if (n == kErrHostUnreachable)
        msg += kCrLf + kCrLf + QStringLiteral("인터넷이 연결되어 있는지 확인 해 주세요.") + kCrLf + kCrLf +
               QStringLiteral("인터넷이 연결되어 있다면 방화벽이나 각종 스파이웨어 차단 프로그램이 "
                              "가동중인지 확인해 주세요.") +
               kCrLf + QStringLiteral("관련 프로그램이 데이터베이스 접속을 방해하는 경우 일 수도 있습니다.");
    return msg;
}

// The library's own words for a host it cannot reach, for the TLS failures
// that are reported as one.
QString unreachableLibraryText(const QString& host) {
    return QStringLiteral("Can't connect to server on '%1'").arg(host);
}

MYSQL* newHandle() {
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mysql_library_init(0, nullptr, nullptr); });
    MYSQL* m = mysql_init(nullptr);
    if (!m) return nullptr;
    mysql_options(m, MYSQL_SET_CHARSET_NAME, kHandshakeCharset);
    mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &kConnectTimeoutSec);
    mysql_options(m, MYSQL_OPT_READ_TIMEOUT, &kReadTimeoutSec);
    mysql_options(m, MYSQL_OPT_WRITE_TIMEOUT, &kWriteTimeoutSec);
    // The program never loads local files; a server must not be able to ask
    // for one.
    const unsigned noLocalInfile = 0;
    mysql_options(m, MYSQL_OPT_LOCAL_INFILE, &noLocalInfile);
    return m;
}

Error initError() {
    return Error(512, QStringLiteral("cMysql::Initialize"),
                 QStringLiteral("Cannot Initialize a mysql record::Fatal"));
}

Error badArgument(const QString& source, const QString& detail) {
    return Error(core::err::InvalidProcedureCall, source,
                 core::ErrorDescription(core::err::InvalidProcedureCall) + QStringLiteral(": ") + detail);
}

QString configFile() { return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini"); }

// Null for an empty text, so the library applies its own default.
const char* orNull(const QByteArray& b) { return b.isEmpty() ? nullptr : b.constData(); }

// The character sets whose texts the program converts (platform/textcodec).
// On any other, a statement's bytes would not say what the program means, and
// quotes escaped for one set could end a literal in the other.
bool knownCharset(const char* name) {
    const QByteArray n = QByteArray(name).toLower();
    return n == "utf8mb4" || n == "utf8mb3" || n == "utf8" || n == "latin1" || n == "euckr";
}

// A memory failure inside `body` reaches the caller like every other failure
// of the call: as error 7 of `source`. `release` drops what did not fit.
template <class Body, class Release>
auto memoryAsError(const char* source, Body&& body, Release&& release) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        release();
        throw Error(core::err::OutOfMemory, QString::fromLatin1(source),
                    core::ErrorDescription(core::err::OutOfMemory));
    }
}

}  // namespace

struct cMySQL::Impl {
    MYSQL* mysql = nullptr;
    MYSQL_RES* result = nullptr;  // the current result
    bool connected = false;

    QString user, password, host, db, unixSocket, charset;
    int clientFlags = 0;
    int port = 0;
    bool noErrMsg = false;
    bool doMemFree = false;
    core::TlsTrust tls = core::DbTlsSetting();
    // Atomic because the one thing allowed during real_query is a ping from
    // elsewhere, which must see the flag.
    std::atomic<bool> busy{false};

    const char* charsetName() const {
        if (connected) {
            const char* n = mysql_character_set_name(mysql);
            if (n && *n) return n;
        }
        return kHandshakeCharset;
    }
    QByteArray toConn(const QString& text) const { return platform::ToCharset(text, charsetName()); }
    // The connection's character set, when the program can convert its
    // texts; raises 2019 of `source` otherwise.
    const char* checkedCharset(const char* source) const {
        const char* n = charsetName();
        if (!knownCharset(n))
            throw Error(kErrCharset, QString::fromLatin1(source),
                        QStringLiteral("Can't initialize character set %1").arg(QString::fromLatin1(n)));
        return n;
    }

    void setResult(MYSQL_RES* r) {
        // Nothing reads a replaced result, so it is released at once.
        if (result) mysql_free_result(result);
        result = r;
    }
    void dropResult() { setResult(nullptr); }
};

// ---------------------------------------------------------------------------
// Creation and settings

cMySQL::cMySQL() : d(std::make_unique<Impl>()) {
    d->mysql = newHandle();
    if (!d->mysql) throw initError();
}

cMySQL::~cMySQL() {
    d->dropResult();
    mysql_close(d->mysql);
}

void cMySQL::DoMemFree(bool bTF) { d->doMemFree = bTF; }

void cMySQL::tls(const core::TlsTrust& trust) { d->tls = trust; }

bool cMySQL::real_connect(const QString& host, const QString& user, const QString& passwd,
                          const QString& db, int port, const QString& unix_socket, int clientflag,
                          bool NoErrMsg, const QString& sCharSet) {
    try {
        if (!host.isEmpty()) d->host = host;
        if (!user.isEmpty()) d->user = user;
        if (!passwd.isEmpty()) d->password = passwd;
        if (!db.isEmpty()) d->db = db;
        if (!unix_socket.isEmpty()) d->unixSocket = unix_socket;
        if (port != 3306) d->port = port;
        if (clientflag != 0) d->clientFlags = clientflag;
        if (!sCharSet.isEmpty()) d->charset = sCharSet;
        d->noErrMsg = NoErrMsg;

        // Before the connection exists texts go out in the handshake set.
        const QByteArray h = platform::ToCharset(d->host, kHandshakeCharset);
        const QByteArray u = platform::ToCharset(d->user, kHandshakeCharset);
        const QByteArray p = platform::ToCharset(d->password, kHandshakeCharset);
        const QByteArray b = platform::ToCharset(d->db, kHandshakeCharset);
        const QByteArray s = platform::ToCharset(d->unixSocket, kHandshakeCharset);
        platform::SealedFile caFile;  // read while connecting only
        QString tlsProblem;
        if (d->tls.required && !requireTls(d->mysql, d->tls, caFile, tlsProblem)) {
            qCWarning(core::lcDb, "connect to %s: TLS required, not connecting: %s", qUtf8Printable(d->host),
                      qUtf8Printable(tlsProblem));
            throw Error(kErrHostUnreachable, QStringLiteral("cMysql::real_connect"),
                        unreachableLibraryText(d->host) + kCrLf + kCrLf + connectMessage(kErrHostUnreachable));
        }
        if (!mysql_real_connect(d->mysql, orNull(h), orNull(u), orNull(p), orNull(b),
                                static_cast<unsigned>(port), orNull(s),
                                static_cast<unsigned long>(static_cast<std::uint32_t>(d->clientFlags)))) {
            unsigned n = mysql_errno(d->mysql);
            QString libraryText = PtrToStr(mysql_error(d->mysql));
            qCWarning(core::lcDb, "connect to %s as %s failed: error %u: %s", qUtf8Printable(d->host),
                      qUtf8Printable(d->user), n, qUtf8Printable(libraryText));
            // The library reports a TCP connection that nobody accepts with
            // the same number as a failed local socket; callers tell the
            // user to check the network only for the former.
            const bool tcp = !d->host.isEmpty() && d->host != QLatin1String("localhost");
            if (n == kErrConnection && tcp && d->unixSocket.isEmpty()) n = kErrHostUnreachable;
            // A server that cannot give the required TLS is, to the user, a
            // server that cannot be reached; the log above keeps the cause.
            if (d->tls.required && n == kErrTls) {
                n = kErrHostUnreachable;
                libraryText = unreachableLibraryText(d->host);
            }
            throw Error(n, QStringLiteral("cMysql::real_connect"), libraryText + kCrLf + kCrLf + connectMessage(n));
        }
        d->connected = true;

        // Which server thread each user had last; the results of the file
        // calls do not matter to the connection.
        const QString file = configFile();
        const QString previous =
            formats::GetPrivateProfileString(QStringLiteral("LPID"), user, QString(), 100, file).trimmed();
        formats::WritePrivateProfileString(QStringLiteral("LPID2"), user, previous, file);
        formats::WritePrivateProfileString(QStringLiteral("LPID"), user,
                                            QString::number(mysql_thread_id(d->mysql)), file);

        if (d->charset.isEmpty()) return true;

        RecordsetPtr rs;
        QString version;
        if (RunQuery(rs, QStringLiteral("SHOW VARIABLES LIKE 'version'")) >= 1 && rs)
            version = rs->Fields(1).Value();
        CloseRecordset(rs);
        if (!version.startsWith(QLatin1String("5."))) return true;

        if (RunQuery(rs, QStringLiteral("SHOW VARIABLES like 'character_set_client'")) >= 1 && rs &&
            rs->Fields(1).Value() != d->charset)
            ExecuteSQL(QStringLiteral("set names ") + d->charset);
        CloseRecordset(rs);
        return true;
    } catch (const std::exception&) {
        // Memory running out counts like any other failure of the call.
        const Error e = core::CurrentError();
        if (!d->noErrMsg)
            core::MsgBox(QStringLiteral("Error ") + QString::number(e.number()) + QLatin1Char(' ') +
                                 e.description(),
                             core::MsgButtons::Ok, core::MsgIcon::None, core::AppTitle());
        return false;
    }
}

int cMySQL::affected_rows() { return LowLong(mysql_affected_rows(d->mysql)); }

// ---------------------------------------------------------------------------
// Information and administration. Each raising call reports the
// connection's own error number and text.

void cMySQL::RaiseFromConnection(const char* source) const {
    throw Error(static_cast<long>(mysql_errno(d->mysql)), QString::fromLatin1(source),
                PtrToStr(mysql_error(d->mysql)));
}

void cMySQL::create_db(const QString& db) {
    // The library no longer has a call for this; the statement is what that
    // call used to do on the server.
    QString name = db;
    name.replace(QLatin1Char('`'), QStringLiteral("``"));
    const QByteArray sql = d->toConn(QStringLiteral("CREATE DATABASE `") + name + QLatin1Char('`'));
    if (mysql_real_query(d->mysql, sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        RaiseFromConnection("cMysql::create_db");
}

void cMySQL::debug_push(const QString& DBUG_PUSH) {
    const QByteArray b = d->toConn(DBUG_PUSH);
    mysql_debug(b.constData());
}

void cMySQL::dump_debug_info() {
    if (mysql_dump_debug_info(d->mysql) != 0) RaiseFromConnection("cMysql::dump_debug_info");
}

bool cMySQL::eof() { return d->result && mysql_eof(d->result) != 0; }

int cMySQL::err_no() { return static_cast<int>(mysql_errno(d->mysql)); }

QString cMySQL::err_description() { return PtrToStr(mysql_error(d->mysql)); }

QString cMySQL::escape_string(const QString& /*to_*/, const QString& from_, int from_length) {
    const qsizetype n = std::clamp<qsizetype>(from_length, 0, from_.size());
    return real_escape_string(from_.left(n));
}

QString cMySQL::real_escape_string(const QString& text) {
    const char* cs = d->checkedCharset("cMysql::real_escape_string");
    const QByteArray from = platform::ToCharset(text, cs);
    // Without a connection (none yet, or the last reconnect failed) the
    // server's quoting mode is unknown, and the next statement may reach a
    // server that reads backslashes literally. Doubling both quotes and
    // backslashes gives one literal in either mode. The text goes through the
    // character set first so that it says what the connected form would.
    if (!d->connected) return formats::QuoteSqlText(platform::FromCharset(from.constData(), from.size(), cs));
    // Escaping must know the connection's character set, so that no byte of
    // a double-byte character is taken for a quote or a backslash, and the
    // server's quoting mode (without backslash escapes, quotes are doubled).
    std::vector<char> to(static_cast<std::size_t>(from.size()) * 2 + 1);
    const unsigned long len = mysql_real_escape_string(d->mysql, to.data(), from.constData(),
                                                       static_cast<unsigned long>(from.size()));
    if (len == static_cast<unsigned long>(-1))
        throw Error(core::err::InvalidProcedureCall, QStringLiteral("cMysql::real_escape_string"),
                    core::ErrorDescription(core::err::InvalidProcedureCall));
    return platform::FromCharset(to.data(), static_cast<qsizetype>(len), cs);
}

void cMySQL::free_result() {
    if (d->doMemFree) d->dropResult();
}

QString cMySQL::get_client_info() {
    const char* p = mysql_get_client_info();
    if (!p) RaiseFromConnection("cMysql::get_client_info");
    return PtrToStr(p);
}

QString cMySQL::get_host_info() {
    const char* p = mysql_get_host_info(d->mysql);
    if (!p) RaiseFromConnection("cMysql::get_host_info");
    return PtrToStr(p);
}

QString cMySQL::get_proto_info() {
    const unsigned v = mysql_get_proto_info(d->mysql);
    if (v == 0) RaiseFromConnection("cMysql::get_proto_info");
    return QString::number(v);
}

QString cMySQL::get_server_info() {
    const char* p = mysql_get_server_info(d->mysql);
    if (!p) RaiseFromConnection("cMysql::get_server_info");
    return PtrToStr(p);
}

QString cMySQL::info() {
    const char* p = mysql_info(d->mysql);
    if (!p) RaiseFromConnection("cMysql::info");
    return PtrToStr(p);
}

int cMySQL::insert_id() { return LowLong(mysql_insert_id(d->mysql)); }

void cMySQL::Kill(int PID) {
    mysql_kill(d->mysql, static_cast<unsigned long>(static_cast<std::uint32_t>(PID)));
}

RecordsetPtr cMySQL::listing(const char* source, const std::function<MYSQL_RES*()>& call) {
    return memoryAsError(
        source,
        [&]() -> RecordsetPtr {
            MYSQL_RES* r = call();
            if (!r) return {};
            d->setResult(r);
            return MakeRecordset();
        },
        [&] { d->dropResult(); });
}

RecordsetPtr cMySQL::list_dbs(const QString& wild) {
    return listing("cMysql::list_dbs", [&] {
        const QByteArray w = d->toConn(wild);
        return mysql_list_dbs(d->mysql, orNull(w));
    });
}

RecordsetPtr cMySQL::list_fields(const QString& table, const QString& wild) {
    return listing("cMysql::list_fields", [&] {
        const QByteArray t = d->toConn(table);
        const QByteArray w = d->toConn(wild);
        return mysql_list_fields(d->mysql, t.constData(), orNull(w));
    });
}

RecordsetPtr cMySQL::list_processes() {
    return listing("cMysql::list_processes", [&] { return mysql_list_processes(d->mysql); });
}

RecordsetPtr cMySQL::list_tables(const QString& wild) {
    return listing("cMysql::list_tables", [&] {
        const QByteArray w = d->toConn(wild);
        return mysql_list_tables(d->mysql, orNull(w));
    });
}

int cMySQL::num_fields() { return d->result ? static_cast<int>(mysql_num_fields(d->result)) : 0; }

int cMySQL::num_rows() { return d->result ? LowLong(mysql_num_rows(d->result)) : 0; }

void cMySQL::ping() {
    if (d->busy) return;
    if (mysql_ping(d->mysql) != 0) RaiseFromConnection("cMysql::ping");
}

// ---------------------------------------------------------------------------
// Statements

RecordsetPtr cMySQL::query(const QString& SQL, bool Silent) {
    bool reconnected = false;
    int deadlockRetries = 0;
    for (;;) {
        try {
            // The whole converted statement is sent with its length: a NUL
            // inside the text must not cut it short (a cut-off DELETE would
            // lose its WHERE clause).
            const QByteArray bytes = platform::ToCharset(SQL, d->checkedCharset("cMysql::query"));
            if (mysql_real_query(d->mysql, bytes.constData(), static_cast<unsigned long>(bytes.size())) != 0)
                RaiseFromConnection("cMysql::query");
            return StoreResult("cMysql::query");
        } catch (const std::exception&) {
            // Also a memory failure while the rows are copied: reported like
            // a server's error, never passed on to the caller.
            const Error e = core::CurrentError();
            const long n = e.number();
            // The result that did not fit is of no use to anyone.
            if (n == core::err::OutOfMemory) d->dropResult();
            auto reopen = [this]() {
                // A fresh handle first: when even that fails, the old one
                // stays, and the failure is reported like a failed connect.
                const unsigned long oldThread = d->connected ? mysql_thread_id(d->mysql) : 0;
                MYSQL* fresh = newHandle();
                if (!fresh) {
                    if (!d->noErrMsg) {
                        const Error ie = initError();
                        core::MsgBox(QStringLiteral("Error ") + QString::number(ie.number()) +
                                             QLatin1Char(' ') + ie.description(),
                                         core::MsgButtons::Ok, core::MsgIcon::None,
                                         core::AppTitle());
                    }
                    return false;
                }
                d->dropResult();
                mysql_close(d->mysql);
                d->mysql = fresh;
                d->connected = false;
                if (!real_connect(d->host, d->user, d->password, d->db, d->port, QString(), 0, d->noErrMsg,
                                  d->charset))
                    return false;
                if (oldThread != 0) mysql_kill(d->mysql, oldThread);
                return true;
            };
            // Over TLS a connection the server dropped ends in a TLS error.
            const bool lost = n == kErrServerLost || n == kErrServerGone || (d->tls.required && n == kErrTls);
            if (lost && !reconnected) {
                qCInfo(core::lcDb, "connection lost (error %ld): reconnecting once", n);
                if (!reopen()) return {};
                reconnected = true;
                continue;
            }
            if (d->user == kDeadlockRetryUser && n == kErrDeadlock && deadlockRetries < kMaxDeadlockRetries) {
                qCInfo(core::lcDb, "deadlock (error %ld): retry %d after a reconnect", n, deadlockRetries + 1);
                std::this_thread::sleep_for(kDeadlockWait);
                if (!reopen()) return {};
                ++deadlockRetries;
                continue;
            }
            // The error only: the statement may hold a typed password.
            if (Silent)
                qCInfo(core::lcDb, "statement failed (not shown): error %ld: %s", n,
                       qUtf8Printable(core::MaskSecrets(e.description())));
            else
                qCWarning(core::lcDb, "statement failed: error %ld: %s", n,
                          qUtf8Printable(core::MaskSecrets(e.description())));
            if (!Silent)
                core::MsgBox(core::ErrorText(n, e.description(), QStringLiteral("query"),
                                                     QStringLiteral("cMySQL")) +
                                     kCrLf + kCrLf + SQL,
                                 core::MsgButtons::Ok, core::MsgIcon::None, core::AppTitle());
            return {};
        }
    }
}

RecordsetPtr cMySQL::real_query(const QString& query, int Length) {
    struct Busy {
        std::atomic<bool>& flag;
        explicit Busy(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(d->busy);

    return memoryAsError(
        "cMysql::real_query",
        [&]() -> RecordsetPtr {
            const QByteArray bytes = platform::ToCharset(query, d->checkedCharset("cMysql::real_query"));
            // Sending more bytes than the statement has would read past its end.
            if (Length < 0 || Length > bytes.size())
                throw badArgument(QStringLiteral("cMysql::real_query"),
                                  QStringLiteral("Length %1 for a statement of %2 bytes").arg(Length).arg(bytes.size()));
            if (mysql_real_query(d->mysql, bytes.constData(), static_cast<unsigned long>(Length)) != 0)
                RaiseFromConnection("cMysql::real_query");
            return StoreResult("cMysql::real_query");
        },
        [&] { d->dropResult(); });
}

void cMySQL::Refresh(int refresh_options) {
    if (mysql_refresh(d->mysql, static_cast<unsigned>(refresh_options)) != 0)
        RaiseFromConnection("cMysql::refresh");
}

void cMySQL::select_db(const QString& db) {
    d->db = db;
    const QByteArray b = d->toConn(db);
    if (mysql_select_db(d->mysql, b.constData()) != 0) RaiseFromConnection("cMysql::select_db");
}

void cMySQL::shutdown() {
    if (mysql_shutdown(d->mysql, SHUTDOWN_DEFAULT) != 0) RaiseFromConnection("cMysql::shutdown");
}

QString cMySQL::stat() {
    const char* p = mysql_stat(d->mysql);
    if (!p) RaiseFromConnection("cMysql::stat");
    return PtrToStr(p);
}

int cMySQL::thread_id() {
    const unsigned long id = mysql_thread_id(d->mysql);
    if (id == 0) RaiseFromConnection("cMysql::thread_id");
    return static_cast<int>(static_cast<std::uint32_t>(id));
}

int cMySQL::thread_safe() { return static_cast<int>(mysql_thread_safe()); }

// ---------------------------------------------------------------------------
// Properties

QString cMySQL::user() const { return d->user; }
void cMySQL::user(const QString& sUserName) { d->user = sUserName; }
QString cMySQL::password() const { return d->password; }
void cMySQL::password(const QString& sPassword) { d->password = sPassword; }
QString cMySQL::host() const { return d->host; }
void cMySQL::host(const QString& sHost) { d->host = sHost; }
int cMySQL::port() const { return d->port; }
void cMySQL::port(int sPORT) { d->port = sPORT; }
QString cMySQL::db() const { return d->db; }
void cMySQL::db(const QString& sDB) { d->db = sDB; }
int cMySQL::ClientFlags() const { return d->clientFlags; }
void cMySQL::ClientFlags(int sClientFlags) { d->clientFlags = sClientFlags; }
QString cMySQL::unix_socket() const { return d->unixSocket; }
void cMySQL::unix_socket(const QString& sUnix_socket) { d->unixSocket = sUnix_socket; }

// ---------------------------------------------------------------------------
// Private helpers

int cMySQL::RunQuery(RecordsetPtr& rs, const QString& SQL) {
    rs = query(SQL, false);
    return affected_rows();
}

int cMySQL::ExecuteSQL(const QString& SQL) {
    RecordsetPtr rs = query(SQL, false);
    const int n = affected_rows();
    CloseRecordset(rs);
    return n;
}

void cMySQL::CloseRecordset(RecordsetPtr& rs) { ::CloseRecordset(rs); }

RecordsetPtr cMySQL::StoreResult(const char* source) {
    MYSQL_RES* r = mysql_store_result(d->mysql);
    if (!r) {
        // No result set is normal for INSERT, UPDATE and the like; for a
        // statement that has columns it means the rows were lost on the way,
        // which must not pass for an empty answer.
        if (mysql_field_count(d->mysql) != 0 && mysql_errno(d->mysql) != 0) RaiseFromConnection(source);
        return {};
    }
    d->setResult(r);
    return MakeRecordset();
}

RecordsetPtr cMySQL::MakeRecordset() {
    MYSQL_RES* res = d->result;
    auto rs = std::make_shared<Recordset>();
    const unsigned n = mysql_num_fields(res);
    const int rows = LowLong(mysql_num_rows(res));
    const MYSQL_FIELD* f = mysql_fetch_fields(res);

    struct Column {
        QString name;
        bool qualified = false;
        int width = 0;
        QString table;
    };
    std::vector<Column> cols(n);
    for (unsigned i = 0; i < n; ++i) {
        Column& c = cols[i];
        c.name = PtrToStr(f[i].name);
        c.width = static_cast<int>(static_cast<std::uint32_t>(f[i].length));
        c.table = PtrToStr(f[i].table);
        // Columns sharing a name are told apart by their table names; a
        // third one of the same name meets only qualified names and stays
        // plain.
        int matches = 0;
        for (unsigned j = 0; j < i; ++j) {
            if (cols[j].name != c.name) continue;
            if (!cols[j].qualified) {
                cols[j].name = cols[j].table + QLatin1Char('.') + cols[j].name;
                cols[j].qualified = true;
            }
            ++matches;
        }
        if (matches > 0) {
            c.name = c.table + QLatin1Char('.') + c.name;
            c.qualified = true;
        }
    }
    for (const Column& c : cols) rs->AppendField(c.name, c.width);
    rs->Open();
    for (int r = 0; r < rows; ++r) {
        MYSQL_ROW row = mysql_fetch_row(res);
        if (!row) continue;
        rs->AddNew();
        for (unsigned j = 0; j < n; ++j) rs->SetValue(static_cast<int>(j), PtrToStr(row[j]));
    }
    rs->Update();
    if (rs->RecordCount() > 1) rs->MoveFirst();
    return rs;
}

QString cMySQL::PtrToStr(const char* p) const {
    if (!p) return QString();
    const std::size_t k = std::strlen(p);
    if (k == 0) return QString();
    QString s = platform::FromCharset(p, static_cast<qsizetype>(k), d->charsetName());
    qsizetype end = s.size();
    while (end > 0 && s.at(end - 1) == QLatin1Char(' ')) --end;
    s.truncate(end);
    return s;
}

int cMySQL::LowLong(unsigned long long count) {
    return static_cast<int>(static_cast<std::uint32_t>(count & 0xFFFFFFFFull));
}
