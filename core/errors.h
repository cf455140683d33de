#pragma once
// The program's error table, its texts and the trap-and-report block every
// procedure uses.
#include <QFileDevice>
#include <QString>

#include "platform/syserror.h"

namespace core {

enum class ModuleKind { Module, Form, ClassModule };

// The runtime error numbers the program reports, with their descriptions.
namespace err {
inline constexpr long InvalidProcedureCall = 5;
inline constexpr long Overflow = 6;
inline constexpr long OutOfMemory = 7;
inline constexpr long SubscriptOutOfRange = 9;
inline constexpr long FileNotFound = 53;
inline constexpr long DiskFull = 61;
inline constexpr long PermissionDenied = 70;
inline constexpr long PathFileAccessError = 75;
inline constexpr long ObjectVariableNotSet = 91;
}  // namespace err
// "Out of memory" for 7, ... ; empty for a number outside the table.
QString ErrorDescription(long number);

// The runtime error `number` of the table, with its own description.
platform::Error RuntimeError(long number);

// The runtime error number of a classified failure: 53, 70, 61 or 7;
// `otherwise` for None and Other, whose meaning depends on the operation.
long RuntimeErrorNumber(platform::SystemFailure failure, long otherwise);

// The runtime error number of a failed local file operation (open, write,
// rename, delete). `systemError` must be taken right after the failing call,
// before anything else can change it (0 when unknown); when it says nothing
// more specific, Qt's own report decides: 70 for a permissions error, else
// 75.
long FileErrorNumber(QFileDevice::FileError qtError, int systemError);

// "Error <n> (<description>) in procedure <proc> of Module <module>", with
// "of Form" / "of Class Module" for the other kinds.
QString ErrorText(long number, const QString& description, const QString& procedure,
                  const QString& module, ModuleKind kind = ModuleKind::Module);

// Reports a trapped error the way every procedure does: OK button, no icon,
// titled with the application title.
void ShowTrappedError(long number, const QString& description, const QString& procedure,
                      const QString& module, ModuleKind kind = ModuleKind::Module);
void ShowTrappedError(const platform::Error& e, const QString& procedure, const QString& module,
                      ModuleKind kind = ModuleKind::Module);

// The exception in flight (call only inside a catch block) as a runtime
// error: a platform::Error as it is, std::bad_alloc as 7 "Out of memory",
// any other std::exception as 5 with its own text. Anything else is no error
// of the program (the tests' intercepted program end) and goes on through
// this call.
platform::Error CurrentError();

// Reports CurrentError() as a trapped error of `procedure`.
void ReportCurrentException(const QString& procedure, const QString& module,
                            ModuleKind kind = ModuleKind::Module);

// The trap-and-report block of every procedure: runs `body`; when it throws
// a std::exception, the error is reported as above and false returned.
template <class Body>
bool TrapErrors(const QString& procedure, const QString& module, ModuleKind kind, Body&& body) {
    try {
        body();
        return true;
    } catch (const std::exception&) {
        ReportCurrentException(procedure, module, kind);
        return false;
    }
}

// The application title as built in; message boxes titled "with the
// application title" use it even before the session globals are set.
QString AppTitle();

}  // namespace core
