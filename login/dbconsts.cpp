#include "login/dbconsts.h"

#include "buildconfig.h"

namespace modOrvelDBConsts {
namespace {
QString& overrideSlot() {
    static QString h;
    return h;
}
}  // namespace

QString GetDBHostAddr() {
    if (!overrideSlot().isEmpty()) return overrideSlot();
    return QString::fromUtf8(buildconfig::kDbHost);
}

void SetDBHostAddrForTests(const QString& host) { overrideSlot() = host; }

}  // namespace modOrvelDBConsts
