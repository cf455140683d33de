#include <gtest/gtest.h>

#include <QFileDevice>
#include <cerrno>
#include <new>
#include <stdexcept>

#include "platform/errors.h"
#include "testsupport.h"

namespace err = platform::err;

// Each trapped failure keeps its own number and text; only a memory failure
// is "Out of memory".
TEST(Errors, TrappedExceptionsKeepTheirKind) {
    testsupport::ScriptedMsgBoxes boxes;
    auto trap = [](auto body) {
        return platform::TrapErrors(QStringLiteral("LPad"), QStringLiteral("CKoreanString"),
                                    platform::ModuleKind::ClassModule, body);
    };
    EXPECT_TRUE(trap([] {}));
    EXPECT_FALSE(trap([] { throw platform::RuntimeError(err::Overflow); }));
    EXPECT_FALSE(trap([] { throw std::bad_alloc(); }));
    EXPECT_FALSE(trap([] { throw std::out_of_range("index 3 of 2"); }));
    const QString tail = QStringLiteral(" in procedure LPad of Class Module CKoreanString");
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{QStringLiteral("Error 6 (Overflow)") + tail,
                                                   QStringLiteral("Error 7 (Out of memory)") + tail,
                                                   QStringLiteral("Error 5 (index 3 of 2)") + tail}));
    EXPECT_EQ(boxes.shown()[0].icon, platform::MsgIcon::None);
    EXPECT_EQ(boxes.shown()[0].title, platform::AppTitle());

    // The tests' intercepted program end is no error of the program.
    struct Ended {};
    EXPECT_THROW(trap([] { throw Ended{}; }), Ended);
    EXPECT_EQ(boxes.shown().size(), 3u);
}

TEST(Errors, SystemFailuresMapToOneRuntimeErrorEach) {
    struct Case {
        QFileDevice::FileError qt;
        int code;
        long number;
    };
    for (const Case& c : {Case{QFileDevice::OpenError, ENOENT, err::FileNotFound},
                          Case{QFileDevice::OpenError, EACCES, err::PermissionDenied},
                          Case{QFileDevice::OpenError, EROFS, err::PermissionDenied},
                          Case{QFileDevice::OpenError, ENOTDIR, err::PathFileAccessError},
                          Case{QFileDevice::ResourceError, ENOSPC, err::DiskFull},
                          Case{QFileDevice::WriteError, EDQUOT, err::DiskFull},
                          Case{QFileDevice::WriteError, ENOMEM, err::OutOfMemory},
                          Case{QFileDevice::WriteError, EIO, err::PathFileAccessError},
                          Case{QFileDevice::PermissionsError, 0, err::PermissionDenied},
                          Case{QFileDevice::RenameError, 0, err::PathFileAccessError}})
        EXPECT_EQ(platform::FileErrorNumber(c.qt, c.code), c.number) << "code " << c.code;

    // A program that is there but cannot be run is no file error.
    auto start = [](int code) {
        return platform::RuntimeErrorNumber(platform::ClassifySystemError(code), err::InvalidProcedureCall);
    };
    EXPECT_EQ(start(ENOENT), err::FileNotFound);
    EXPECT_EQ(start(EACCES), err::PermissionDenied);
    EXPECT_EQ(start(ENOEXEC), err::InvalidProcedureCall);
}
