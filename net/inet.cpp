// The calls every handle kind shares: the root handle, reading, closing, the
// wait callback and the time limits. The FTP calls live in inet_ftp.cpp, the
// HTTP ones in inet_http.cpp, the libcurl engine in curlengine.cpp.
#include "net/inet.h"

#include <QElapsedTimer>
#include <thread>

#include "net/curlengine.h"

namespace net {

Handle::~Handle() = default;

namespace detail {
namespace {

constexpr int kWaitTickMs = 50;

std::function<void()>& waitCallback() {
    static std::function<void()> callback;
    return callback;
}

// The callback belongs to the thread that installed it (the window thread);
// a transfer on a worker thread must not run it.
std::thread::id& waitCallbackThread() {
    static std::thread::id owner;
    return owner;
}

Limits& limits() {
    static Limits current;
    return current;
}

TlsSettings& tls() {
    static TlsSettings current;
    return current;
}

}  // namespace

const Limits& ActiveLimits() { return limits(); }
const TlsSettings& ActiveTls() { return tls(); }

// The clock spans calls: a download made of many short reads still lets the
// caller repaint.
void TickWait() {
    static QElapsedTimer sinceLast;
    static bool inside = false;
    auto& callback = waitCallback();
    if (!callback || inside || std::this_thread::get_id() != waitCallbackThread()) return;
    if (sinceLast.isValid() && sinceLast.elapsed() < kWaitTickMs) return;
    inside = true;
    callback();
    inside = false;
    sinceLast.start();
}

bool HasLineBreakOrNul(const QString& text) {
    return text.contains(QChar(u'\r')) || text.contains(QChar(u'\n')) || text.contains(QChar(u'\0'));
}

bool HasLineBreakOrNul(const QByteArray& bytes) {
    return bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0');
}

}  // namespace detail

HInternet InternetOpenA(const QString& agent, quint32 accessType, const QString& proxy,
                        const QString& proxyBypass, quint32 /*flags: nothing is cached anyway*/) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY)
        return nullptr;
    if (accessType == INTERNET_OPEN_TYPE_PROXY && proxy.trimmed().isEmpty()) return nullptr;
    detail::EnsureCurl();
    auto root = std::make_shared<detail::Root>();
    root->agent = agent;
    root->accessType = accessType;
    root->proxy = proxy.trimmed().toUtf8();
    QString bypass = proxyBypass;
    bypass.replace(QLatin1Char(';'), QLatin1Char(','));
    root->bypass = bypass.simplified().replace(QLatin1Char(' '), QLatin1Char(',')).toUtf8();
    auto handle = std::make_unique<detail::RootHandle>();
    handle->root = std::move(root);
    return handle;
}

bool InternetReadFile(Handle* hFile, void* buffer, quint32 toRead, quint32* read) {
    quint32 dummy = 0;
    if (!read) read = &dummy;
    *read = 0;
    auto* stream = dynamic_cast<detail::Stream*>(hFile);
    if (!stream || (!buffer && toRead > 0)) return false;
    return stream->read(buffer, toRead, read);
}

bool InternetCloseHandle(HInternet& handle) {
    const bool had = handle != nullptr;
    handle.reset();
    return had;
}

void SetWaitCallback(std::function<void()> callback) {
    detail::waitCallbackThread() = std::this_thread::get_id();
    detail::waitCallback() = std::move(callback);
}

Limits CurrentLimits() { return detail::limits(); }
void SetLimits(const Limits& l) { detail::limits() = l; }

TlsSettings CurrentTls() { return detail::tls(); }
void SetTls(const TlsSettings& settings) { detail::tls() = settings; }

}  // namespace net
