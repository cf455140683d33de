#pragma once
// Whom a connection to one of the company's servers trusts, and whether it
// must be encrypted at all. The build settings decide (docs/tls.md); tests
// hand other values to the connection objects.
#include <QByteArray>

namespace core {

struct TlsTrust {
    // Plain text is refused: a server that does not offer TLS, or whose
    // certificate does not pass, is treated as unreachable.
    bool required = false;
    QByteArray caPem;       // PEM certificates the server's chain must end in
    // The database: the server certificate's SHA-1 fingerprint (hex), the
    // one form its client library compares.
    // FTP and HTTPS: the server's public key, "sha256//BASE64".
    QByteArray pin;
    bool systemStore = false;  // the system's certificate store (Windows)
};

TlsTrust DbTlsSetting();
TlsTrust FtpTlsSetting();
TlsTrust UpdateTlsSetting();

}  // namespace core
