#pragma once
// The program's runtime error: a number, the source that raised it and a
// description, as the database client and the trapping procedures carry them.
#include <QString>
#include <stdexcept>

namespace platform {

class Error : public std::runtime_error {
public:
    Error(long number, QString source, QString description)
        : std::runtime_error(description.toStdString()),
          number_(number), source_(std::move(source)), description_(std::move(description)) {}
    long number() const { return number_; }
    const QString& source() const { return source_; }
    const QString& description() const { return description_; }

private:
    long number_;
    QString source_;
    QString description_;
};

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

// "Error <n> (<description>) in procedure <proc> of Module <module>", with
// "of Form" / "of Class Module" for the other kinds.
QString ErrorText(long number, const QString& description, const QString& procedure,
                  const QString& module, ModuleKind kind = ModuleKind::Module);

// Reports a trapped error the way every procedure does: OK button, no icon,
// titled with the application title.
void ShowTrappedError(long number, const QString& description, const QString& procedure,
                      const QString& module, ModuleKind kind = ModuleKind::Module);
void ShowTrappedError(const Error& e, const QString& procedure, const QString& module,
                      ModuleKind kind = ModuleKind::Module);

// Reports the exception in flight (call only inside a catch block) as a
// trapped error of `procedure`: a platform::Error with its own number and
// text, std::bad_alloc as 7 "Out of memory", any other std::exception as 5
// with its text.
void ReportCurrentException(const QString& procedure, const QString& module,
                            ModuleKind kind = ModuleKind::Module);

// The trap-and-report block of every procedure: runs `body`; when it throws,
// the error is reported as above and false returned.
template <class Body>
bool TrapErrors(const QString& procedure, const QString& module, ModuleKind kind, Body&& body) {
    try {
        body();
        return true;
    } catch (...) {
        ReportCurrentException(procedure, module, kind);
        return false;
    }
}

// The application title as built in; message boxes titled "with the
// application title" use it even before the session globals are set.
QString AppTitle();

}  // namespace platform
