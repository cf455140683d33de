#pragma once
// Whether a file name that came from the server may become the name of a
// local file as it is: one that the system stores unchanged, that names no
// device, leaves no folder and shows what it is.
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace formats {

// Which system's naming rules apply.
enum class NameRules {
    Windows,  // what Win32 would change or misread is refused as well
    Posix,    // only what would leave the folder or hide the real name
};

#ifdef Q_OS_WIN
inline constexpr NameRules kHostNameRules = NameRules::Windows;
#else
inline constexpr NameRules kHostNameRules = NameRules::Posix;
#endif

// The longest name one folder entry holds: UTF-16 units on Windows, bytes
// of its UTF-8 form elsewhere.
inline constexpr qsizetype kMaxNameLength = 255;

// True when `name` may be written as one entry of a local folder under the
// given rules. Refused everywhere: empty, "." and "..", a separator ('/' or
// '\'), a control character, an unpaired surrogate, a bidirectional control
// character (it makes "inv\u202Efdp.exe" read as "invexe.pdf"), a name too
// long for one entry. Refused on Windows too: the characters <>:"|?*, a
// trailing dot or blank (the system drops them: "a.pdf." would be "a.pdf"),
// and a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an
// extension, in any case).
bool IsWritableLocalName(const QString& name, NameRules rules = kHostNameRules);

// True when another entry of `listed` equals `name` except for case: on a
// system that ignores case, both would be written to one file.
bool HasCaseTwin(const QString& name, const QStringList& listed);

// `name` with every character that the rules refuse because it cannot be
// seen (controls, bidirectional controls, unpaired surrogates) written as
// "<U+XXXX>", so that a message shows the name as it really is.
QString VisibleName(const QString& name);

}  // namespace formats
