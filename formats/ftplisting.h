#pragma once
// Parsers of FTP listings: MLSD facts, and the Unix "ls -l" and DOS/IIS
// forms of LIST. Server text is untrusted: a line that is not understood is
// skipped, never guessed at.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

struct FtpEntry {
    QString name;        // the name as text (see NameDecoder)
    QByteArray rawName;  // the name's bytes as the server sent them
    QDateTime mtimeUtc;  // invalid when the line carried no usable time
    qint64 size = 0;
    bool isDir = false;
};

// Turns a name's bytes into text. The listing's structure is ASCII, so the
// parsers work on bytes and decode only the name.
using NameDecoder = QString (*)(const QByteArray& raw);
QString DecodeUtf8Name(const QByteArray& raw);

// "type=file;size=12;modify=20240307000530; name". The folder's own entries
// (type=cdir, type=pdir) count as not understood.
bool ParseMlsdLine(const QByteArray& line, FtpEntry& out, NameDecoder decode = DecodeUtf8Name);
// Unix times are UTC. A date without a year takes the latest year that puts
// it no more than a day after `nowUtc`; a date with a year and no time is
// midnight.
bool ParseUnixListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out,
                       NameDecoder decode = DecodeUtf8Name);
// "03-07-24  09:05AM       <DIR>          name"; times taken as UTC. A 12-hour
// time runs 12:00AM (midnight) to 11:59PM; a two-digit year below 70 is 20xx.
bool ParseDosListLine(const QByteArray& line, FtpEntry& out, NameDecoder decode = DecodeUtf8Name);
// The Unix form first, then the DOS form.
bool ParseListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out,
                   NameDecoder decode = DecodeUtf8Name);
// Splits at CR LF or LF and keeps the entries understood, in server order,
// leaving out "." and "..".
std::vector<FtpEntry> ParseListing(const QByteArray& body, bool mlsd, const QDateTime& nowUtc,
                                   NameDecoder decode = DecodeUtf8Name);

// Parses a listing while it arrives: each line as soon as its end is in, the
// last one (which may lack a line end) at finish(). Hands over the entries
// ParseListing keeps, in the same order. A line longer than kMaxLine is no
// entry of a folder: it is skipped without being kept, however long it runs.
class ListingStream {
public:
    using OnEntry = std::function<void(FtpEntry& entry)>;
    ListingStream(bool mlsd, const QDateTime& nowUtc, NameDecoder decode, OnEntry onEntry);
    void feed(const char* data, qsizetype len);
    void finish();

    static constexpr qsizetype kMaxLine = 64 * 1024;

private:
    void line(const char* data, qsizetype len);

    bool mlsd_;
    QDateTime nowUtc_;
    NameDecoder decode_;
    OnEntry onEntry_;
    QByteArray partial_;  // a line whose end has not come yet
    QByteArray line_;     // the line at hand; its buffer is reused
    bool skipping_ = false;  // inside a line past kMaxLine
};
