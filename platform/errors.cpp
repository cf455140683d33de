#include "platform/errors.h"

#include "buildconfig.h"
#include "platform/msgbox.h"

#include <new>

namespace platform {

QString AppTitle() { return QString::fromUtf8(buildconfig::kAppTitle); }

QString ErrorText(long number, const QString& description, const QString& procedure,
                  const QString& module, ModuleKind kind) {
    const char* of = kind == ModuleKind::Form          ? " of Form "
                     : kind == ModuleKind::ClassModule ? " of Class Module "
                                                       : " of Module ";
    return QStringLiteral("Error ") + QString::number(number) + QStringLiteral(" (") + description +
           QStringLiteral(") in procedure ") + procedure + QLatin1String(of) + module;
}

void ShowTrappedError(long number, const QString& description, const QString& procedure,
                      const QString& module, ModuleKind kind) {
    MsgBox(ErrorText(number, description, procedure, module, kind), MsgButtons::Ok, MsgIcon::None,
           AppTitle());
}

QString ErrorDescription(long number) {
    switch (number) {
    case err::InvalidProcedureCall: return QStringLiteral("Invalid procedure call or argument");
    case err::Overflow: return QStringLiteral("Overflow");
    case err::OutOfMemory: return QStringLiteral("Out of memory");
    case err::SubscriptOutOfRange: return QStringLiteral("Subscript out of range");
    case err::FileNotFound: return QStringLiteral("File not found");
    case err::DiskFull: return QStringLiteral("Disk full");
    case err::PermissionDenied: return QStringLiteral("Permission denied");
    case err::PathFileAccessError: return QStringLiteral("Path/File access error");
    case err::ObjectVariableNotSet: return QStringLiteral("Object variable or With block variable not set");
    default: return QString();
    }
}

void ReportCurrentException(const QString& procedure, const QString& module, ModuleKind kind) {
    try {
        throw;
    } catch (const Error& e) {
        ShowTrappedError(e, procedure, module, kind);
    } catch (const std::bad_alloc&) {
        ShowTrappedError(err::OutOfMemory, ErrorDescription(err::OutOfMemory), procedure, module, kind);
    } catch (const std::exception& e) {
        ShowTrappedError(err::InvalidProcedureCall, QString::fromLocal8Bit(e.what()), procedure, module, kind);
    } catch (...) {
        ShowTrappedError(err::InvalidProcedureCall, ErrorDescription(err::InvalidProcedureCall), procedure,
                         module, kind);
    }
}

void ShowTrappedError(const Error& e, const QString& procedure, const QString& module,
                      ModuleKind kind) {
    ShowTrappedError(e.number(), e.description(), procedure, module, kind);
}

}  // namespace platform
