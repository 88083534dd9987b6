// Why an episode download failed, in words a user can act on: what the client, its socket and the
// TLS session reported is sorted into one reason, shown in the interface language; the technical
// detail (error numbers, the TLS library's text) is kept for the trace log only.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// What was known when the download's request ended.
struct DownloadFailure {
    std::string host;               // the host the connection went to (a proxy's, through one)
    bool answered = false;          // a response header arrived
    int status = 0;                 // the final status code; the client's 404 for its own failures
    std::string statusReason;       // the server's reason phrase, or the client's own text
    std::uint16_t clientError = 0;  // the client's failure: a body cut short, an unreadable answer
    std::uint16_t connectionError = 0;  // socket, SOCKS or TLS error number; 0 when none
    std::string tlsText;                // why the TLS session failed; empty when none did
};

enum class FailureKind {
    HttpStatus,   // a server answered with a failed status: "%1 %2"
    NotHttp,      // the answer had no HTTP status line
    HostUnknown,  // %1 the host
    Refused,      // %1 the host
    Unreachable,  // %1 the host
    Reset,
    ClosedEarly,           // the connection ended inside the answer
    NoAnswer,              // %1 the host; the connect or the answer timed out
    CertificateOtherName,  // %1 the host expected
    CertificateExpired,
    CertificateNotYetValid,
    CertificateUntrusted,
    CertificateRejected,
    OutdatedTls,
    NotTls,  // plain text where TLS was expected
    ClientCertificate,
    TlsRefused,  // the server broke the handshake off
    TlsFailed,
    Socks,  // %1 the host behind the SOCKS server
    UnreadableAnswer,
    UnsupportedAddress,
    Unknown,
};

FailureKind ClassifyFailure(const DownloadFailure& failure);

// The reason in the language (0 German, 1 English).
std::string FailureReasonText(std::uint8_t language, const DownloadFailure& failure);

// Everything technical that was reported, for the trace log.
std::string FailureDetail(const DownloadFailure& failure);

}  // namespace app
