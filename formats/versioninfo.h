#pragma once
// The version block of an executable: building one and reading its
// labelled texts (the raw block comes from formats/fileversion.h).
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "formats/fileversion.h"

// A version block in the Windows layout (UTF-16LE, 32-bit aligned): fixed
// file info, one string table "<langId><codePage>" in hex ("041204B0") with
// the given texts in order, and the translation. The numeric file and
// product versions come from the "FileVersion"/"ProductVersion" texts.
QByteArray BuildVersionBlock(const std::vector<std::pair<QString, QString>>& strings,
                             quint16 langId = 0x0412, quint16 codePage = 1200);

// The 13 texts "Key: value" (or "Key: Not specified") of CompanyName,
// FileDescription, FileVersion, InternalName, LegalCopyright,
// OriginalFilename, ProductName, ProductVersion, Comments, LegalTrademarks,
// PrivateBuild, SpecialBuild and Language, in that order. Each value is the
// first text of its key anywhere in the block, so the first string table
// wins. "Language: " names the language of the first string table
// ("Korean", "English (United States)", ...; else its 4-digit hex id), or is
// the bare "Language" when the block has no string table. An empty block
// gives an empty list.
QStringList GetFileVerInfoFromBlock(const QByteArray& block);

// GetFileVerInfoFromBlock over the file's block; empty list when the file
// has none.
QStringList GetFileVerInfo(const QString& Path);

// The file version with its last component written as a whole number
// ("1.00.0015" -> "1.00.15"; a component that is no number stays) when
// `KeepLast`, or without its last component ("1.00") otherwise. "Not
// specified" when the block has no FileVersion. Errors (no version block;
// no "." to cut at) are reported as "Error n (desc) in procedure GetFileVer
// of Module mdlFile" unless `Silent`, and give what was computed so far.
QString GetFileVer(const QString& Path, bool KeepLast, bool Silent);
