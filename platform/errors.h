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

// The application title as built in; message boxes titled "with the
// application title" use it even before the session globals are set.
QString AppTitle();

}  // namespace platform
