#include "core/msgbox.h"

#include "core/log.h"

namespace core {
namespace {
MsgBoxHandler& handlerSlot() {
    static MsgBoxHandler h;
    return h;
}
MsgBoxDisplay& displaySlot() {
    static MsgBoxDisplay d;
    return d;
}
}  // namespace

void SetMsgBoxHandler(MsgBoxHandler handler) { handlerSlot() = std::move(handler); }
void SetMsgBoxDisplay(MsgBoxDisplay display) { displaySlot() = std::move(display); }

std::function<void()> RememberFocus() {
    if (displaySlot().rememberFocus) return displaySlot().rememberFocus();
    return [] {};
}

MsgAnswer MsgBox(const QString& text, MsgButtons buttons, MsgIcon icon, const QString& title) {
    const MsgBoxRecord rec{text, title, buttons, icon};
    // A trace on stderr (the debug output on Windows) and in the log: what
    // the user was told stays visible after the box is gone. A failed
    // statement's box holds the statement, and the sign-in statement holds
    // the typed password: the trace never does.
    qInfo("message box [%s]: %s", qUtf8Printable(core::MaskSecrets(title)),
          qUtf8Printable(core::MaskSecrets(text)));
    if (handlerSlot()) return handlerSlot()(rec);
    if (displaySlot().show) return displaySlot().show(rec);
    return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

}  // namespace core
