#include "app/failure_reason.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "app/message_table.h"
#include "http/http_types.h"
#include "platform/winsock.h"
#include "socket/socket_errors.h"
#include "socket/socks_messages.h"
#include "socket/tls_wsocket.h"

namespace app {
namespace {

constexpr int kKinds = static_cast<int>(FailureKind::Unknown) + 1;

// German, then English, in the order of FailureKind; "%1", "%2" as FillIn fills them.
const std::array<std::string_view, 2 * kKinds> kReasonTexts = {
    "%1 %2",
    "Der Server hat nicht mit HTTP geantwortet",
    "Der Servername %1 ist unbekannt (prüfen Sie die Adresse und die Internetverbindung)",
    "%1 nimmt keine Verbindung an (prüfen Sie die Adresse)",
    "%1 ist nicht erreichbar (prüfen Sie die Internetverbindung)",
    "Der Server hat die Verbindung zurückgesetzt",
    "Der Server hat die Verbindung vor dem Ende der Datei beendet",
    "Keine Antwort von %1",
    "Das Zertifikat des Servers gilt für einen anderen Namen (erwartet: %1)",
    "Das Zertifikat des Servers ist abgelaufen",
    "Das Zertifikat des Servers ist noch nicht gültig (prüfen Sie die Uhr des Rechners)",
    "Das Zertifikat des Servers stammt von keiner vertrauenswürdigen Stelle",
    "Das Zertifikat des Servers wurde nicht angenommen",
    "Der Server beherrscht nur eine veraltete TLS-Version",
    "Der Server antwortet nicht mit TLS (versuchen Sie die Adresse mit http://)",
    "Der Server verlangt ein Client-Zertifikat",
    "Der Server hat die sichere Verbindung abgelehnt",
    "Die sichere Verbindung zum Server ist fehlgeschlagen",
    "Der SOCKS-Proxy konnte keine Verbindung zu %1 herstellen",
    "Die Antwort des Servers ist nicht lesbar",
    "Nur http- und https-Adressen können geladen werden",
    "Der Download ist fehlgeschlagen",

    "%1 %2",
    "The server did not answer in HTTP",
    "The server name %1 is unknown (check the address and the Internet connection)",
    "%1 refuses the connection (check the address)",
    "%1 cannot be reached (check the Internet connection)",
    "The connection was reset by the server",
    "The server closed the connection before the end of the file",
    "No answer from %1",
    "The server's certificate is for another name (expected %1)",
    "The server's certificate has expired",
    "The server's certificate is not valid yet (check the computer's clock)",
    "The server's certificate is not from a trusted authority",
    "The server's certificate was not accepted",
    "The server only speaks an outdated TLS version",
    "The server does not answer in TLS (try the address with http://)",
    "The server asks for a client certificate",
    "The server refused the secure connection",
    "The secure connection to the server failed",
    "The SOCKS proxy could not connect to %1",
    "The server's answer cannot be read",
    "Only http and https addresses can be downloaded",
    "The download failed",
};

bool Holds(std::string_view text, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts)
        if (text.find(part) != std::string_view::npos) return true;
    return false;
}

// The TLS library's words sorted; a certificate's verdict comes first, then the alerts.
FailureKind TlsKind(std::uint16_t error, std::string_view text) {
    if (error == tlsErrUncleanClose) return FailureKind::ClosedEarly;
    if (Holds(text, {"host name mismatch", "IP address mismatch"}))
        return FailureKind::CertificateOtherName;
    if (Holds(text, {"certificate has expired"})) return FailureKind::CertificateExpired;
    if (Holds(text, {"not yet valid"})) return FailureKind::CertificateNotYetValid;
    if (Holds(text, {"local issuer", "issuer certificate", "self-signed", "self signed",
                     "verify the first certificate"}))
        return FailureKind::CertificateUntrusted;
    if (error == tlsErrCertificate) return FailureKind::CertificateRejected;
    if (Holds(text, {"certificate required", "alert bad certificate"}))
        return FailureKind::ClientCertificate;
    if (Holds(text, {"protocol version", "unsupported protocol", "no protocols available"}))
        return FailureKind::OutdatedTls;
    if (Holds(text, {"wrong version number", "packet length too long", "http request"}))
        return FailureKind::NotTls;
    if (Holds(text, {"handshake failure", "insufficient security", "no shared cipher",
                     "during the TLS handshake"}))
        return FailureKind::TlsRefused;
    return FailureKind::TlsFailed;
}

std::optional<FailureKind> SocketKind(std::uint16_t error) {
    switch (error) {
        case platform::WSAECONNRESET:
        case platform::WSAECONNABORTED:
            return FailureKind::Reset;
        case platform::WSAECONNREFUSED:
            return FailureKind::Refused;
        case platform::WSAETIMEDOUT:
            return FailureKind::NoAnswer;
        case platform::WSAENETUNREACH:
        case platform::WSAEHOSTUNREACH:
            return FailureKind::Unreachable;
        case platform::WSAHOST_NOT_FOUND:
        case platform::WSATRY_AGAIN:
        case platform::WSANO_RECOVERY:
        case platform::WSANO_DATA:
            return FailureKind::HostUnknown;
        default:
            return std::nullopt;
    }
}

bool IsSocksError(std::uint16_t error) {
    return error >= socks::errProtocol && error <= socks::errHostResolution;
}

}  // namespace

FailureKind ClassifyFailure(const DownloadFailure& failure) {
    // A complete answer is what the server said, whatever became of the connection after it.
    if (failure.answered && failure.clientError == 0 && failure.status != 0)
        return FailureKind::HttpStatus;
    const std::uint16_t error = failure.connectionError;
    if (IsTlsError(error) || (error == 0 && !failure.tlsText.empty() && !failure.answered))
        return TlsKind(error, failure.tlsText);
    if (IsSocksError(error)) return FailureKind::Socks;
    if (std::optional<FailureKind> kind = SocketKind(error)) return *kind;
    if (failure.clientError == httpErrDocumentCutShort) return FailureKind::ClosedEarly;
    if (failure.clientError == httpErrProtocol) return FailureKind::UnreadableAnswer;
    if (failure.status == 0) return FailureKind::NotHttp;
    // The client names a scheme it does not speak with a 501 of its own.
    if (failure.status == 501) return FailureKind::UnsupportedAddress;
    if (Holds(failure.statusReason, {"resolve"})) return FailureKind::HostUnknown;
    return FailureKind::Unknown;
}

std::string FailureReasonText(std::uint8_t language, const DownloadFailure& failure) {
    const FailureKind kind = ClassifyFailure(failure);
    const std::string_view text = kReasonTexts.at(language * kKinds + static_cast<int>(kind));
    if (kind == FailureKind::HttpStatus)
        return FillIn(text, {std::to_string(failure.status), failure.statusReason});
    return FillIn(text, {failure.host});
}

std::string FailureDetail(const DownloadFailure& failure) {
    std::string detail = "host " + failure.host + ", status " + std::to_string(failure.status);
    if (!failure.statusReason.empty()) detail += " \"" + failure.statusReason + "\"";
    detail += failure.answered ? ", answered" : ", no answer";
    if (failure.clientError != 0) detail += ", client error " + std::to_string(failure.clientError);
    if (failure.connectionError != 0) {
        detail += ", error #" + std::to_string(failure.connectionError);
        if (!IsTlsError(failure.connectionError) && !IsSocksError(failure.connectionError))
            detail += " (" + SocketErrorText(failure.connectionError) + ")";
    }
    if (!failure.tlsText.empty()) detail += ", TLS: " + failure.tlsText;
    return detail;
}

}  // namespace app
