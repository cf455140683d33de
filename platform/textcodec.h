#pragma once
// Text crosses to libraries as bytes. Code page 949 is the ANSI code page of
// the target systems; the database connection may use another character set.
#include <QByteArray>
#include <QString>

namespace platform {

// Code page 949 (Unified Hangul Code). Characters the code page cannot hold
// become '?', as the Windows conversion does.
QByteArray ToCp949(const QString& text);
QString FromCp949(const QByteArray& bytes);

// Conversion for a MySQL connection character set name ("utf8mb4",
// "euckr", "latin1", ...). Unknown names fall back to UTF-8.
QByteArray ToCharset(const QString& text, const char* mysqlCharset);
QString FromCharset(const char* data, qsizetype len, const char* mysqlCharset);

}  // namespace platform
