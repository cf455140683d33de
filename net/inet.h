#pragma once
// Internet transfer calls for the FTP browser and the web fetch: an FTP
// session on one fixed account and plain HTTP(S) requests, with the
// operation names and arguments the callers were written against.
//
// Handles are owned objects; a null handle is a failure. Every call blocks
// until the server has answered or the attempt has failed; while it waits it
// calls the wait callback (SetWaitCallback) about every 50 ms.
//
// Time limits (a silent server must not hang the window for ever):
//   FTP   connect and login 15 s, each server reply 30 s, a transfer that
//         moves less than 1 byte/s for 30 s is given up.
//   HTTP  connect 10 s, a response that moves less than 1 KiB/s for 20 s
//         (including a server that accepts and never answers) is given up;
//         on a root handle for small resources (LimitToSmallResources) a
//         request is given up after 30 s in all, however it trickles.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

#include "core/tls.h"

namespace net {

// Values of the arguments, as the callers pass them.
inline constexpr quint32 INTERNET_OPEN_TYPE_PRECONFIG = 0;  // the system's proxy settings
inline constexpr quint32 INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr quint32 INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr quint32 INTERNET_SERVICE_FTP = 1;
inline constexpr int INTERNET_DEFAULT_FTP_PORT = 21;
inline constexpr quint32 INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr quint32 INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000u;  // a redirect is the answer, not followed
inline constexpr quint32 INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;
inline constexpr quint32 INTERNET_FLAG_PASSIVE = 0x08000000u;
// Windows headers (libcurl's pull them in) define the next four as macros.
#ifdef _WIN32
#undef GENERIC_READ
#undef FILE_ATTRIBUTE_DIRECTORY
#undef FILE_ATTRIBUTE_NORMAL
#undef INVALID_FILE_SIZE
#endif
inline constexpr quint32 GENERIC_READ = 0x80000000u;
inline constexpr quint32 FTP_TRANSFER_TYPE_ASCII = 1;
inline constexpr quint32 FTP_TRANSFER_TYPE_BINARY = 2;
inline constexpr quint32 FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr quint32 FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr quint32 INVALID_FILE_SIZE = 0xFFFFFFFFu;

// One entry of a remote folder.
struct FindData {
    quint32 dwFileAttributes = 0;  // FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL
    QDateTime ftLastWriteTime;     // UTC; invalid when the server gave none
    quint32 nFileSizeHigh = 0;
    quint32 nFileSizeLow = 0;
    qint64 nFileSize = 0;          // the whole size; high and low are its halves
    QString cFileName;             // the name as text; may hold U+FFFD where the bytes made no sense
    QByteArray rawName;            // the name's bytes as the server sent them: what names the entry
    bool isDirectory() const { return (dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// Base of every handle. Closing a handle is destroying it; a handle may be
// closed in any order (a file or listing keeps its session alive).
class Handle {
public:
    virtual ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

protected:
    Handle() = default;
};
using HInternet = std::unique_ptr<Handle>;

// Root handle: the agent text and the proxy choice for everything opened on it.
// accessType PRECONFIG honours the proxy environment variables, DIRECT uses
// no proxy, PROXY uses `proxy` (bypass list: names separated by ';', ',' or blanks).
HInternet InternetOpenA(const QString& agent, quint32 accessType, const QString& proxy,
                        const QString& proxyBypass, quint32 flags);

// Logs in to the FTP server (the connection stays open for later calls).
// Null when the server cannot be reached, does not answer in time or refuses
// the login. INTERNET_FLAG_PASSIVE in flags selects passive transfers;
// without it transfers use active mode.
//
// Names: a server that offers the UTF8 feature is switched to UTF-8 and its
// names are UTF-8 both ways (a listed name that is not valid UTF-8 is read
// as code page 949). Otherwise a listing's names are read as UTF-8 when all
// of them are valid UTF-8, else all as code page 949 (a listing whose first
// 65,536 names or 8 MiB of names are all valid UTF-8 is read from there on
// as on a server with the feature), and a text path is sent in code page
// 949. The raw calls below send a path's bytes unchanged.
HInternet InternetConnectA(Handle* hInternet, const QString& server, int port, const QString& user,
                           const QString& password, quint32 service, quint32 flags, quintptr context);

// Lists a remote folder: `searchFile` is the folder's path ("as_files/"),
// not a wildcard pattern. Always a fresh request to the server. Returns the
// listing handle with its first entry in `out`, or null when the folder is
// empty or the listing failed. "." and ".." are never delivered.
HInternet FtpFindFirstFileA(Handle* hConnect, const QString& searchFile, FindData& out, quint32 flags,
                            quintptr context);
bool InternetFindNextFileA(Handle* hFind, FindData& out);
// Lists a remote folder as FtpFindFirstFileA does, handing each entry to
// `onEntry` (on the calling thread) as soon as its line has arrived. True
// when the whole listing came in, an empty one too; false when it failed,
// and the entries handed over so far are then not the whole folder.
bool FtpListFolder(Handle* hConnect, const QString& searchFile, const std::function<void(const FindData&)>& onEntry);
// The same; *truncated tells whether the server, while reporting success,
// said it cut the listing short (some servers stop at a fixed count).
bool FtpListFolder(Handle* hConnect, const QString& searchFile, const std::function<void(const FindData&)>& onEntry,
                   bool* truncated);

// Opens a remote file for reading (binary; FTP_TRANSFER_TYPE_ASCII asks for
// an ASCII transfer). Null when the server will not send it: missing, a
// folder, no rights, connection lost. Only one file can be open on a
// connection at a time; other calls on the connection fail meanwhile.
HInternet FtpOpenFileA(Handle* hConnect, const QString& fileName, quint32 access, quint32 flags,
                       quintptr context);
HInternet FtpOpenFileRaw(Handle* hConnect, const QByteArray& remotePath, quint32 access, quint32 flags,
                         quintptr context);
// The bytes a text path goes to the server as on this connection; empty when
// it cannot be sent (a character the server's encoding lacks, a line break).
QByteArray FtpPathBytes(Handle* hConnect, const QString& path);
// Size of an open file: the low 32 bits, the high ones in *high.
// INVALID_FILE_SIZE (with *high also all ones) when the server did not say.
quint32 FtpGetFileSize(Handle* hFile, quint32* high);
// The whole size, or -1 when unknown.
qint64 FtpGetFileSize64(Handle* hFile);

// Reads the next bytes of an open file or HTTP request. Delivers exactly
// `toRead` bytes unless the resource ends first (then fewer, and 0 at its
// end, with true). False when the transfer failed before `toRead` bytes were
// there; *read then tells how many bytes were copied all the same.
bool InternetReadFile(Handle* hFile, void* buffer, quint32 toRead, quint32* read);

// Deletes a remote file (path relative to the login folder). True only when
// the server confirmed the deletion.
bool FtpDeleteFileA(Handle* hConnect, const QString& fileName);
bool FtpDeleteFileRaw(Handle* hConnect, const QByteArray& remotePath);

// Sends a GET request (http or https) and waits for the response's head.
// Redirects are followed unless flags hold INTERNET_FLAG_NO_AUTO_REDIRECT
// (then the redirect is the response). `headers`: extra header lines
// separated by CR LF; headersLength in characters, or -1 (all ones) for the whole text.
// INTERNET_FLAG_RELOAD asks every cache on the way for a fresh copy.
// Null when no response arrived; an error page is a response.
HInternet InternetOpenUrlA(Handle* hInternet, const QString& url, const QString& headers,
                           quint32 headersLength, quint32 flags, quintptr context);
// Makes every request opened on the root handle one for a small resource
// (a version text, a signature): it must be complete within the small-fetch
// limit, so a server that sends a byte now and then cannot hold the caller
// for long. False for any other handle.
bool LimitToSmallResources(Handle* hInternet);

// HTTP status of a request handle (0 when none).
int HttpStatus(Handle* hRequest);

// Closes (destroys) the handle and leaves it null.
bool InternetCloseHandle(HInternet& handle);

// Called about every 50 ms while a call waits; nullptr for none. The
// callback must not call back into these functions.
void SetWaitCallback(std::function<void()> callback);

// Time limits in seconds, and what a listing may hold back until it knows
// its names' encoding; to be changed only by tests.
struct Limits {
    int ftpConnect = 15;
    int ftpResponse = 30;
    int ftpLowSpeedTime = 30;
    int httpConnect = 10;
    int httpLowSpeedTime = 20;
    int httpLowSpeedRate = 1024;  // bytes per second
    int httpSmallTotal = 30;
    int listingHeldNames = 65536;
    qint64 listingHeldBytes = qint64{8} << 20;
};
Limits CurrentLimits();
void SetLimits(const Limits& limits);

// What TLS the FTP session and HTTPS requests demand: the build's settings
// until changed (tests). With `ftp.required` a session is explicit TLS on
// the control and every data connection (AUTH TLS, PROT P) and transfers in
// passive mode; with `https.required` a plain http:// address is refused.
// Either way a failed check makes the call fail as an unreachable server
// does, with the cause in the log, and an https request is never redirected
// to plain http.
struct TlsSettings {
    core::TlsTrust ftp = core::FtpTlsSetting();
    core::TlsTrust https = core::UpdateTlsSetting();
};
TlsSettings CurrentTls();
void SetTls(const TlsSettings& settings);

}  // namespace net
