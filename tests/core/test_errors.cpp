#include <gtest/gtest.h>

#include <QFileDevice>
#include <cerrno>
#include <new>
#include <stdexcept>
#include <tuple>
#ifdef _WIN32
#include <windows.h>
#endif

#include "core/errors.h"
#include "testsupport.h"

namespace err = core::err;

// Each trapped failure keeps its own number and text; only a memory failure
// is "Out of memory".
TEST(Errors, TrappedExceptionsKeepTheirKind) {
    testsupport::ScriptedMsgBoxes boxes;
    auto trap = [](auto body) {
        return core::TrapErrors(QStringLiteral("LPad"), QStringLiteral("CKoreanString"),
                                    core::ModuleKind::ClassModule, body);
    };
    EXPECT_TRUE(trap([] {}));
    EXPECT_FALSE(trap([] { throw core::RuntimeError(err::Overflow); }));
    EXPECT_FALSE(trap([] { throw std::bad_alloc(); }));
    EXPECT_FALSE(trap([] { throw std::out_of_range("index 3 of 2"); }));
    const QString tail = QStringLiteral(" in procedure LPad of Class Module CKoreanString");
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{QStringLiteral("Error 6 (Overflow)") + tail,
                                                   QStringLiteral("Error 7 (Out of memory)") + tail,
                                                   QStringLiteral("Error 5 (index 3 of 2)") + tail}));
    EXPECT_EQ(boxes.shown()[0].icon, core::MsgIcon::None);
    EXPECT_EQ(boxes.shown()[0].title, core::AppTitle());

    // The tests' intercepted program end is no error of the program.
    struct Ended {};
    EXPECT_THROW(trap([] { throw Ended{}; }), Ended);
    EXPECT_EQ(boxes.shown().size(), 3u);
}

// What the download reports for its local file, among others: the system's
// own codes, errno here and the last-error code on Windows.
TEST(Errors, FileFailuresMapToOneRuntimeErrorEach) {
    using F = QFileDevice;
#ifdef _WIN32
    const std::tuple<F::FileError, int, long> cases[] = {
        {F::OpenError, ERROR_FILE_NOT_FOUND, 53},   {F::OpenError, ERROR_PATH_NOT_FOUND, 53},
        {F::OpenError, ERROR_ACCESS_DENIED, 70},    {F::OpenError, ERROR_SHARING_VIOLATION, 70},
        {F::OpenError, ERROR_WRITE_PROTECT, 70},    {F::ResourceError, ERROR_DISK_FULL, 61},
        {F::WriteError, ERROR_HANDLE_DISK_FULL, 61}, {F::WriteError, ERROR_OUTOFMEMORY, 7},
        {F::WriteError, ERROR_CRC, 75},             {F::PermissionsError, 0, 70},
        {F::RenameError, 0, 75}};
#else
    const std::tuple<F::FileError, int, long> cases[] = {
        {F::OpenError, ENOENT, 53},  {F::OpenError, EACCES, 70},    {F::OpenError, EROFS, 70},
        {F::OpenError, ENOTDIR, 75}, {F::ResourceError, ENOSPC, 61}, {F::WriteError, EDQUOT, 61},
        {F::WriteError, ENOMEM, 7},  {F::WriteError, EIO, 75},       {F::PermissionsError, 0, 70},
        {F::RenameError, 0, 75}};
#endif
    for (const auto& [qt, code, number] : cases)
        EXPECT_EQ(core::FileErrorNumber(qt, code), number) << "code " << code;
}
