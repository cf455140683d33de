#pragma once
// The file-version block of an executable, as the system's version-info
// calls hand it out; formats/versioninfo.h reads its texts.
#include <QByteArray>
#include <QString>

// The raw version block of a file: for a PE file the first RT_VERSION
// resource (type 16, first name, first language); for an ELF file the
// contents of the section ".orvel_version", where the build stamps our own
// executables. Empty when there is none or the file is truncated or
// malformed; every offset and size is checked against the bytes at hand.
QByteArray ExtractVersionBlock(const QByteArray& fileBytes);

// Reads the file (at most its first 256 MiB) and extracts its block. Empty
// when the file cannot be read.
QByteArray ReadVersionBlock(const QString& path);
