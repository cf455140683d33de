#pragma once
// The program's runtime error: a number, the source that raised it and a
// description, as the database client and the trapping procedures carry
// them; and what a failed system call comes down to. The seams below core/
// raise and classify errors with these; core/errors.h turns them into texts.
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

// What a failed system call comes down to, in the same terms on every
// system.
enum class SystemFailure { None, NotFound, AccessDenied, DiskFull, OutOfMemory, Other };

// The system's own error code (errno here, the last-error code on Windows)
// classified; 0 is None. Lives with the system calls (posix/, win/).
SystemFailure ClassifySystemError(int code);

// The system's error code of the call that just failed: errno here, the
// last-error code on Windows (where Qt's file calls leave errno alone).
int LastSystemError();

// The system's own text for such a code.
QString SystemErrorText(int code);

}  // namespace platform
