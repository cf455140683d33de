#pragma once
// Parsers of FTP listings: MLSD facts, the Unix "ls -l" form and the DOS/IIS
// form of LIST. Server text is untrusted: a line not understood is skipped.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

struct FtpEntry {
    QString name;
    QDateTime mtimeUtc;  // invalid when the line carried no time
    qint64 size = 0;
    bool isDir = false;
};

bool ParseMlsdLine(const QByteArray& line, FtpEntry& out);
// Unix times are UTC; a date without a year takes the latest year that puts
// it no more than a day after `nowUtc`.
bool ParseUnixListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out);
bool ParseDosListLine(const QByteArray& line, FtpEntry& out);
bool ParseListLine(const QByteArray& line, const QDateTime& nowUtc, FtpEntry& out);
// Splits at CR LF or LF; MLSD's entries for the folder itself and its parent
// are left out.
std::vector<FtpEntry> ParseListing(const QByteArray& body, bool mlsd, const QDateTime& nowUtc);
