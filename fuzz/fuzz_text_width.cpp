// Column widths of list lines over arbitrary UTF-16 (names come from the FTP
// server). Input: two bytes of width, one byte choosing the fill, then the
// text as raw UTF-16 code units.
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/koreanstring.h"
#include "fuzz/fuzzcheck.h"
#include "core/msgbox.h"

namespace {

int g_boxes = 0;

// Never draws anything: LPad reports a bad fill with a box.
void InstallQuietBoxes() {
    core::SetMsgBoxHandler([](const core::MsgBoxRecord&) {
        ++g_boxes;
        return core::MsgAnswer::Ok;
    });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InstallQuietBoxes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    qint16 raw = 0;
    std::memcpy(&raw, data, 2);
    // Mostly list-sized widths, sometimes anything a short can hold.
    const short width = (data[2] & 0x80) ? raw : static_cast<short>(raw % 64);
    static const QString kFills[] = {QStringLiteral(" "), QStringLiteral("0"), QString(), QStringLiteral("가")};
    const QString& fill = kFills[data[2] & 3];
    QString text;
    text.resize(static_cast<qsizetype>((size - 3) / 2));
    std::memcpy(text.data(), data + 3, static_cast<size_t>(text.size()) * 2);

    const short len = CKoreanString::ByteLen(text);
    FUZZ_CHECK(len >= 0);

    const QString tight = CKoreanString::LeftBytes(text, width, true);
    const QString filled = CKoreanString::LeftBytes(text, width, false);
    FUZZ_CHECK(text.startsWith(tight));
    FUZZ_CHECK(CKoreanString::ByteLen(tight) <= std::max<short>(width, 0));
    FUZZ_CHECK(CKoreanString::ByteLen(filled) <= std::max<short>(width, 0));
    if (width > 0 && len >= width) {
        // A split double-byte character is made up by one blank.
        FUZZ_CHECK(CKoreanString::ByteLen(filled) == width);
    }
    if (len <= width && width > 0) FUZZ_CHECK(tight == text && filled == text);

    const int boxesBefore = g_boxes;
    const QString padded = CKoreanString::LPad(text, width, fill);
    if (fill.isEmpty() && len <= width) {
        FUZZ_CHECK(padded.isEmpty() && g_boxes == boxesBefore + 1);
    } else {
        FUZZ_CHECK(g_boxes == boxesBefore);
        if (width >= 0 && (len > width || CKoreanString::ByteLen(fill) == 1))
            FUZZ_CHECK(CKoreanString::ByteLen(padded) == width);
        if (len <= width) FUZZ_CHECK(padded.endsWith(text));
    }
    return 0;
}
