// Code page 949 through the system's own conversion, named explicitly: the
// ANSI code page of the machine may be another.
#include "platform/textcodec.h"

#include <windows.h>

#include <climits>

namespace platform {
namespace {

constexpr UINT kCp949 = 949;

bool isAscii(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80) return false;
    return true;
}

bool isAscii(const QByteArray& bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

QByteArray ToCp949(const QString& text) {
    if (isAscii(text)) return text.toLatin1();
    if (text.size() > INT_MAX / 2) return {};
    const auto* src = reinterpret_cast<const wchar_t*>(text.utf16());
    const int len = static_cast<int>(text.size());
    // No best fit: a character the code page lacks becomes '?', never a
    // look-alike that would name another file.
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int n = ::WideCharToMultiByte(kCp949, flags, src, len, nullptr, 0, "?", nullptr);
    if (n <= 0) return {};
    QByteArray out(n, Qt::Uninitialized);
    ::WideCharToMultiByte(kCp949, flags, src, len, out.data(), n, "?", nullptr);
    return out;
}

QString FromCp949(const QByteArray& bytes) {
    if (isAscii(bytes)) return QString::fromLatin1(bytes);
    if (bytes.size() > INT_MAX) return {};
    const char* src = bytes.constData();
    const int len = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(kCp949, MB_ERR_INVALID_CHARS, src, len, nullptr, 0);
    if (n > 0) {
        QString out(n, Qt::Uninitialized);
        ::MultiByteToWideChar(kCp949, MB_ERR_INVALID_CHARS, src, len, reinterpret_cast<wchar_t*>(out.data()), n);
        return out;
    }
    // A stray byte: the system would put its own default character in its
    // place (which one depends on the version). Here, as everywhere in the
    // program, it becomes one U+FFFD and the rest of the text is kept.
    QString out;
    out.reserve(len);
    for (int i = 0; i < len;) {
        const auto b = static_cast<unsigned char>(src[i]);
        if (b < 0x80) {
            out += QLatin1Char(static_cast<char>(b));
            ++i;
            continue;
        }
        wchar_t w = 0;
        if (i + 1 < len && ::MultiByteToWideChar(kCp949, MB_ERR_INVALID_CHARS, src + i, 2, &w, 1) == 1) {
            out += QChar(static_cast<char16_t>(w));
            i += 2;
        } else {
            out += QChar(0xFFFD);
            ++i;
        }
    }
    return out;
}

}  // namespace platform
