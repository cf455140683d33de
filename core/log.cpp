#include "core/log.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QStandardPaths>
#include <atomic>

#include "buildconfig.h"

namespace core {

Q_LOGGING_CATEGORY(lcNet, "orvel.net", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDb, "orvel.db", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdate, "orvel.update", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLogin, "orvel.login", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBrowser, "orvel.browser", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "orvel.app", QtInfoMsg)

namespace {

const QString kMask = QStringLiteral("***");

// End of the SQL or shell literal that opens at `open` (a quote): '' and a
// backslash escape stay inside. The text's end when it never closes.
qsizetype literalEnd(const QString& s, qsizetype open) {
    const QChar q = s[open];
    qsizetype i = open + 1;
    while (i < s.size()) {
        if (s[i] == u'\\') {
            i += 2;
        } else if (s[i] == q) {
            if (i + 1 < s.size() && s[i + 1] == q) i += 2;
            else return i;
        } else {
            ++i;
        }
    }
    return s.size();
}

bool isQuote(QChar c) { return c == u'\'' || c == u'"'; }

// Replaces, after each match of `re`, the value that starts there: a quoted
// literal's contents, or (when `bareToo`) an unquoted word that is no
// function call. `toLineEnd` takes the rest of the line instead.
void maskAfter(QString& s, const QRegularExpression& re, bool bareToo, bool toLineEnd = false) {
    qsizetype pos = 0;
    for (auto m = re.match(s, pos); m.hasMatch(); m = re.match(s, pos)) {
        const qsizetype at = m.capturedEnd(0);
        qsizetype from = at, to = at;
        if (toLineEnd) {
            while (to < s.size() && s[to] != u'\r' && s[to] != u'\n') ++to;
        } else if (at < s.size() && isQuote(s[at])) {
            from = at + 1;
            to = literalEnd(s, at);
        } else if (bareToo) {
            while (to < s.size() && !s[to].isSpace() && !isQuote(s[to]) &&
                   !QStringView(u"&;,()").contains(s[to]))
                ++to;
            if (to < s.size() && s[to] == u'(') to = from;  // SHA1(...): its own rule
        }
        if (to > from) {
            s.replace(from, to - from, kMask);
            pos = from + kMask.size();
        } else {
            pos = std::max(at, m.capturedStart(0) + 1);
        }
        if (pos > s.size()) break;
    }
}

struct LogState {
    QMutex mutex;
    QFile file;
    qint64 maxBytes = kLogMaxBytes;
    std::atomic<QtMessageHandler> previous{nullptr};
    bool installed = false;
};

// Never destroyed: messages may arrive from threads and static destructors
// until the process is gone.
LogState& state() {
    static auto* s = new LogState;
    return *s;
}

// Set while this thread holds the log's mutex: a message Qt raises meanwhile
// (a file operation's warning) goes only to the previous handler instead of
// waiting for the mutex this thread holds.
thread_local bool tInside = false;

struct InsideLog {
    InsideLog() { tInside = true; }
    ~InsideLog() { tInside = false; }
    InsideLog(const InsideLog&) = delete;
    InsideLog& operator=(const InsideLog&) = delete;
};

char levelLetter(QtMsgType type) {
    switch (type) {
    case QtDebugMsg: return 'D';
    case QtInfoMsg: return 'I';
    case QtWarningMsg: return 'W';
    case QtCriticalMsg: return 'E';
    case QtFatalMsg: return 'F';
    }
    return '?';
}

bool wanted(QtMsgType type, const char* category) {
    const QByteArrayView cat(category ? category : "default");
    if (cat.startsWith("orvel.")) return true;  // the category's own filter has decided
    const int level = type == QtDebugMsg ? 0 : type == QtInfoMsg ? 1 : 2;
    return level >= (cat == "default" ? 1 : 2);
}

QByteArray formatLine(QtMsgType type, const char* category, const QString& message) {
    QString text = MaskSecrets(message);
    // Continuation lines are indented so that every entry starts with its time.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\n    "));
    // Local time with its offset from UTC, so that lines from PCs in other
    // zones, and from both sides of a clock change, can be set side by side.
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
    return stamp.toUtf8() + ' ' + levelLetter(type) + ' ' +
           (category ? category : "default") + ": " + text.toUtf8() + '\n';
}

// With the mutex held.
bool openFile(LogState& st) {
    QDir().mkpath(QFileInfo(st.file.fileName()).absolutePath());
    return st.file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

// With the mutex held. The old file is replaced, so there are at most two.
void writeLine(LogState& st, const QByteArray& line) {
    if (!st.file.isOpen()) return;
    if (st.file.size() > 0 && st.file.size() + line.size() > st.maxBytes) {
        const QString path = st.file.fileName();
        st.file.close();
        const QString old = OldLogPath(path);
        QFile::remove(old);
        if (!QFile::rename(path, old)) QFile::remove(path);
        if (!openFile(st)) return;
    }
    // The companions add their lines to the same file while the program
    // waits for them. Qt appends on Windows only by going to the end when
    // the file opens, so each line goes to the end as the file stands now.
    st.file.seek(st.file.size());
    st.file.write(line);
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) noexcept {
    LogState& st = state();
    if (!tInside && wanted(type, context.category)) {
        try {
            const QByteArray line = formatLine(type, context.category, message);
            const InsideLog inside;
            QMutexLocker lock(&st.mutex);
            writeLine(st, line);
        } catch (...) {
            // A log that fails must not take the program with it.
        }
    }
    if (QtMessageHandler previous = st.previous.load()) previous(type, context, message);
}

}  // namespace

QString DefaultLogPath() {
#if defined(Q_OS_WIN)
    // config.ini lives in the program's folder; the log sits beside it.
    const QString folder = QCoreApplication::applicationDirPath();
#else
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
    return folder + QLatin1Char('/') + QLatin1String(kLogFileName);
}

QString OldLogPath(const QString& logPath) {
    const QFileInfo info(logPath);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + QStringLiteral(".old") + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix));
}

bool InstallLog(const QString& path, qint64 maxBytes) {
    try {
        LogState& st = state();
        bool ok;
        {
            const InsideLog inside;
            QMutexLocker lock(&st.mutex);
            if (st.file.isOpen()) st.file.close();
            st.file.setFileName(path);
            st.maxBytes = maxBytes > 0 ? maxBytes : kLogMaxBytes;
            ok = openFile(st);
            if (!st.installed) {
                st.previous = qInstallMessageHandler(handler);
                st.installed = true;
            }
        }
        if (ok) {
            // The program and its companions share the file: the line names which one started.
            const QString program = QCoreApplication::instance()
                                        ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                                        : QString();
            qCInfo(lcApp, "started: %s version %s, revision %d, process %lld", qUtf8Printable(program),
                   buildconfig::kVersion, buildconfig::kRevision,
                   static_cast<long long>(QCoreApplication::applicationPid()));
        }
        return ok;
    } catch (...) {
        return false;
    }
}

void RemoveLog() {
    LogState& st = state();
    const InsideLog inside;
    QMutexLocker lock(&st.mutex);
    if (st.installed) {
#if defined(__GNUC__) && !defined(__clang__)
// mingw's g++ 12 takes the atomic here for an object of size 0 and warns
// that loading it overflows; the object is whole.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
        qInstallMessageHandler(st.previous.exchange(nullptr));
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
        st.installed = false;
    }
    st.file.close();
}

QString MaskSecrets(const QString& text) {
#if defined(Q_OS_WIN)
    // Worker threads mask their lines too. With the pattern compiler's JIT
    // each such thread gets a stack of its own, which the static Windows
    // build frees wrongly when a std::thread ends: about every other run of
    // four logging threads crashed at thread exit. Log lines are short, so
    // matching without JIT costs nothing that shows. Qt reads the setting
    // once, at the first match in the process; the log's first line is masked
    // before any other pattern runs.
    static const bool noJit = [] {
        if (!qEnvironmentVariableIsSet("QT_ENABLE_REGEXP_JIT")) qputenv("QT_ENABLE_REGEXP_JIT", "0");
        return true;
    }();
    Q_UNUSED(noJit);
#endif
    using RE = QRegularExpression;
    static const RE hashCall(QStringLiteral(R"(\b(?:SHA1|SHA2|SHA|MD5|OLD_PASSWORD|PASSWORD|ENCRYPT|)"
                                            R"(AES_ENCRYPT|DES_ENCRYPT)\s*\(\s*)"),
                             RE::CaseInsensitiveOption);
    static const RE identifiedBy(QStringLiteral(R"(\bIDENTIFIED\s+(?:WITH\s+\w+\s+)?(?:BY|AS)\s+(?:PASSWORD\s+)?)"),
                                 RE::CaseInsensitiveOption);
    // key=value takes a bare value too; "key": only a quoted one, so that the
    // server's "(using password: YES)" keeps its meaning.
    static const RE namedAssign(QStringLiteral(R"(\w*(?:passw|pwd)\w*['"]?\s*=\s*)"), RE::CaseInsensitiveOption);
    static const RE namedColon(QStringLiteral(R"(\w*(?:passw|pwd)\w*['"]?\s*:\s*)"), RE::CaseInsensitiveOption);
    static const RE ftpPass(QStringLiteral(R"(\bPASS )"));
    static const RE authHeader(QStringLiteral(R"(\b(?:Proxy-)?Authorization:\s*)"), RE::CaseInsensitiveOption);
    static const RE urlPassword(QStringLiteral(R"(\b[A-Za-z][A-Za-z0-9+.-]*://[^/\s:@]*:)"));
    QString s = text;
    maskAfter(s, hashCall, false);
    maskAfter(s, identifiedBy, false);
    maskAfter(s, namedAssign, true);
    maskAfter(s, namedColon, false);
    maskAfter(s, ftpPass, false, true);
    maskAfter(s, authHeader, false, true);
    // user:password@host: up to the '@' that ends the authority's user part.
    qsizetype pos = 0;
    for (auto m = urlPassword.match(s, pos); m.hasMatch(); m = urlPassword.match(s, pos)) {
        const qsizetype from = m.capturedEnd(0);
        qsizetype to = from;
        while (to < s.size() && s[to] != u'@' && s[to] != u'/' && !s[to].isSpace()) ++to;
        if (to < s.size() && s[to] == u'@' && to > from) {
            s.replace(from, to - from, kMask);
            pos = from + kMask.size();
        } else {
            pos = from;
        }
    }
    return s;
}

}  // namespace core
