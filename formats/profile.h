#pragma once
// Reader and writer of profile files (sections in square brackets, one
// "key=value" line per key), such as config.ini beside the program.
//
// Sections and keys match without regard to letter case; the file's bytes
// are code page 949. Lines we write end in CR LF; lines already in the file
// keep their own endings.
#include <QByteArray>
#include <QString>
#include <optional>

namespace formats {

// The value of `key` in `section`, trimmed of blanks at both ends, or `def`
// when the file, the section or the key is missing. At most bufferChars - 1
// characters are returned (nothing when bufferChars < 1).
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                int bufferChars, const QString& file);

// Sets `key` in `section` to `value`. A missing file, section or key is
// created; an existing value is replaced in its own line, all other bytes of
// the file stay as they were. The file is replaced atomically, so a crash
// leaves either the old or the new file. Returns false when the file cannot
// be written, and for a section, key or value that cannot be stored in a
// profile line (empty key, line breaks, "=" in the key, "]" in the section);
// the file is then left untouched.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file);

// The same two on a profile's bytes, for callers that hold them already.
// ProfileValue: the trimmed value, or nothing when the key is missing.
// ProfileWithValue: the bytes with the value set, or nothing when the
// section, key or value cannot be stored.
std::optional<QString> ProfileValue(const QByteArray& data, const QString& section, const QString& key);
std::optional<QByteArray> ProfileWithValue(const QByteArray& data, const QString& section,
                                           const QString& key, const QString& value);

}  // namespace formats
