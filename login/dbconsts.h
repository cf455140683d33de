#pragma once
// modOrvelDBConsts: where the in-house database lives, and which workstation
// may sign in (admission.h).
#include <QString>

namespace modOrvelDBConsts {

// The fixed address of the in-house database server (a build setting).
QString GetDBHostAddr();

// Tests point the program at another server; the program itself never calls it.
void SetDBHostAddrForTests(const QString& host);

}  // namespace modOrvelDBConsts
