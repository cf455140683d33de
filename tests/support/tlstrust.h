#pragma once
// Trust settings made from the test certificates of the TLS twins
// (scripts/lib/testca.sh writes them into testenv::tls::kDir).
#include <QFile>
#ifdef _WIN32
#include <windows.h>
#endif

#include "core/tls.h"
#include "testendpoints.h"

namespace testsupport {

// A file of the test CA's folder, trimmed; empty when it is missing.
inline QByteArray TlsFile(const char* name) {
    QFile f(QString::fromUtf8(testenv::tls::kDir) + QLatin1Char('/') + QString::fromLatin1(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

// TLS required, the server checked against the CA in `caFile`.
inline core::TlsTrust TrustCa(const char* caFile) {
    core::TlsTrust t;
    t.required = true;
    t.caPem = TlsFile(caFile);
    return t;
}

// TLS required, the server checked against `pin` alone.
inline core::TlsTrust TrustPin(const QByteArray& pin) {
    core::TlsTrust t;
    t.required = true;
    t.pin = pin;
    return t;
}

// Under wine, Schannel and its certificate chains are wine's own (over
// GnuTLS), not Windows'.
inline bool UnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

}  // namespace testsupport
