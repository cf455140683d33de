#include "core/errors.h"

#include "buildconfig.h"
#include "core/msgbox.h"

#include <new>

namespace core {

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

platform::Error RuntimeError(long number) { return platform::Error(number, QString(), ErrorDescription(number)); }

long RuntimeErrorNumber(platform::SystemFailure failure, long otherwise) {
    switch (failure) {
    case platform::SystemFailure::NotFound: return err::FileNotFound;
    case platform::SystemFailure::AccessDenied: return err::PermissionDenied;
    case platform::SystemFailure::DiskFull: return err::DiskFull;
    case platform::SystemFailure::OutOfMemory: return err::OutOfMemory;
    case platform::SystemFailure::None:
    case platform::SystemFailure::Other: break;
    }
    return otherwise;
}

long FileErrorNumber(QFileDevice::FileError qtError, int systemError) {
    return RuntimeErrorNumber(platform::ClassifySystemError(systemError), qtError == QFileDevice::PermissionsError
                                                                    ? err::PermissionDenied
                                                                    : err::PathFileAccessError);
}

platform::Error CurrentError() {
    try {
        throw;
    } catch (const platform::Error& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return RuntimeError(err::OutOfMemory);
    } catch (const std::exception& e) {
        return platform::Error(err::InvalidProcedureCall, QString(), QString::fromLocal8Bit(e.what()));
    }
}

void ReportCurrentException(const QString& procedure, const QString& module, ModuleKind kind) {
    ShowTrappedError(CurrentError(), procedure, module, kind);
}

void ShowTrappedError(const platform::Error& e, const QString& procedure, const QString& module,
                      ModuleKind kind) {
    ShowTrappedError(e.number(), e.description(), procedure, module, kind);
}

}  // namespace core
