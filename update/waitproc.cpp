#include "update/waitproc.h"

#include "platform/process.h"

namespace modWaitProc {

void RunAndWait(const QString& File, qint32 /*OwnerWindow*/, const QString& Parameters, const QString& Directory,
                bool Hidden, bool MinimizedNoActivate) {
    using platform::ShowState;
    const ShowState show = Hidden ? ShowState::Hide
                           : MinimizedNoActivate ? ShowState::MinimizedNoActivate
                                                 : ShowState::Show;
    QStringList args;
    if (!Parameters.isEmpty()) args << Parameters;
    // A start that fails is not reported here: the system may show its own
    // error dialog, and the caller goes on as after a run.
    platform::RunProcessAndWait(File, args, Directory, show, platform::StartErrors::SystemDialog);
}

}  // namespace modWaitProc
