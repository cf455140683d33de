#include "core/tls.h"

#include "tlsconfig.h"

namespace core {
namespace {

TlsTrust fromSetting(const tlsconfig::Setting& s) {
    TlsTrust t;
    t.required = s.required;
    t.caPem = QByteArray(s.caPem);
    t.pin = QByteArray(s.pin);
    t.systemStore = s.systemStore;
    return t;
}

}  // namespace

TlsTrust DbTlsSetting() { return fromSetting(tlsconfig::kDb); }
TlsTrust FtpTlsSetting() { return fromSetting(tlsconfig::kFtp); }
TlsTrust UpdateTlsSetting() { return fromSetting(tlsconfig::kUpdate); }

}  // namespace core
