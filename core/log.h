#pragma once
// The program's log: Qt's logging categories, written to one small file so
// that a failure on a PC leaves its cause behind, not only a message box.
//
//   qCWarning(core::lcNet) << "RETR failed:" << curlCode << replyLine;
//
// Categories: orvel.net, orvel.db, orvel.update, orvel.login, orvel.browser,
// orvel.app. Each writes info and above by default (QT_LOGGING_RULES may
// switch on debug lines, e.g. "orvel.net.debug=true"). Messages of the
// default category are written from info up too (every message box is traced
// there), Qt's own categories from warning up.
//
// Every line goes through MaskSecrets before it is written, but a caller
// still never logs the sign-in statement or a password on purpose: log what
// failed and the server's answer, not what was sent.
#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>

namespace core {

Q_DECLARE_LOGGING_CATEGORY(lcNet)
Q_DECLARE_LOGGING_CATEGORY(lcDb)
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
Q_DECLARE_LOGGING_CATEGORY(lcLogin)
Q_DECLARE_LOGGING_CATEGORY(lcBrowser)
Q_DECLARE_LOGGING_CATEGORY(lcApp)

inline constexpr char kLogFileName[] = "orvel-as.log";
// When a line would take the file past this size, the file becomes the one
// old file (orvel-as.old.log, replacing the previous one) and a new one starts.
inline constexpr qint64 kLogMaxBytes = qint64{1} << 20;

// Where the log is kept: beside config.ini, i.e. in the program's folder, on
// Windows; in the user's settings folder (~/.config) elsewhere.
QString DefaultLogPath();
// The old file that rotation keeps beside `logPath`.
QString OldLogPath(const QString& logPath);

// Sends Qt's messages to the file at `path` (created with its folder when
// missing) and on to the handler that was installed before, so that a
// terminal still shows them. Writes a first line with the program's file
// name, version and process id (the companions write to the same file). Returns false when the file cannot be opened; the program then
// runs on without a log file. Never throws; safe from any thread.
bool InstallLog(const QString& path = DefaultLogPath(), qint64 maxBytes = kLogMaxBytes);
// Closes the file and puts the previous handler back (tests).
void RemoveLog();

// `text` with every password removed: the quoted argument of SHA1(),
// SHA2(), MD5(), PASSWORD(), ... and of IDENTIFIED BY; the value after
// "=" of a column or key whose name holds "passw" or "pwd" (after ":" only a
// quoted one); the rest of an FTP PASS line and of an Authorization header;
// the password of a URL's user:password@. Each becomes "***".
QString MaskSecrets(const QString& text);

}  // namespace core
