#include "platform/errors.h"

#include "buildconfig.h"
#include "platform/msgbox.h"

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

void ShowTrappedError(const Error& e, const QString& procedure, const QString& module,
                      ModuleKind kind) {
    ShowTrappedError(e.number(), e.description(), procedure, module, kind);
}

}  // namespace platform
