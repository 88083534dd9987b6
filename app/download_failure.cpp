#include "app/download_failure.h"

#include "http/http_cli.h"
#include "http/url.h"
#include "log/qtx_logger.h"
#include "platform/winsock.h"
#include "socket/socks_messages.h"

namespace app {
namespace {

// url without the "user:password@" before its host.
std::string WithoutCredentials(std::string url) {
    const std::size_t scheme = url.find("://");
    const std::size_t authority = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = url.substr(0, url.find_first_of("/?#", authority)).rfind('@');
    if (at != std::string::npos && at >= authority) url.erase(authority, at + 1 - authority);
    return url;
}

std::string HostOf(const std::string& url) {
    std::string proto, user, password, host, port, path;
    SplitUrl(url, proto, user, password, host, port, path);
    return host;
}

// The address the relocations led to.
const std::string& CurrentAddress(const THttpCli& client) {
    return client.Location().empty() ? client.URL : client.Location();
}

std::string RequestedHost(const THttpCli& client) {
    return HostOf(CurrentAddress(client));
}

DownloadFailure DescribeEnd(THttpCli& client, std::uint16_t clientError,
                            std::uint16_t connectionError) {
    DownloadFailure failure;
    failure.status = client.StatusCode();
    failure.statusReason = client.StatusReason();
    failure.answered = !client.ResponseHeaderLines().empty();
    failure.clientError = clientError;
    // The event carries the client's own failure codes too, which say nothing of the connection.
    failure.connectionError = connectionError >= platform::WSAEINTR ? connectionError : 0;
    // The socket keeps the text of an earlier session's failure until the next handshake.
    if (LowerCase(CurrentAddress(client)).starts_with("https:"))
        failure.tlsText = client.CtrlSocket().SslErrorText();
    const bool tlsFailure = IsTlsError(failure.connectionError) && !failure.answered;
    if (tlsFailure && !client.CtrlSocket().SslServerName().empty())
        failure.host = client.CtrlSocket().SslServerName();
    else if (failure.connectionError >= socks::errProtocol &&
             failure.connectionError <= socks::errHostResolution)
        failure.host = RequestedHost(client);
    else
        failure.host = ConnectedHost(client);
    return failure;
}

}  // namespace

std::string ConnectedHost(const THttpCli& client) {
    // The proxy text may carry credentials, which no message repeats.
    if (!client.Proxy.empty())
        return HostOf(client.Proxy.find("://") == std::string::npos ? "http://" + client.Proxy
                                                                    : client.Proxy);
    if (!client.SocksServer.empty()) return client.SocksServer;
    return RequestedHost(client);
}

std::optional<DownloadFailure> RequestEndFailure(THttpCli& client, std::uint16_t requestDoneError) {
    std::uint16_t clientError = 0;
    if (std::optional<EHttpException> failure = client.RequestFailure()) {
        if (failure->ErrorNumber == httpErrLocalFailure) throw *failure;
        // A failed status carries its code as the number.
        if (failure->ErrorNumber != client.StatusCode()) clientError = failure->ErrorNumber;
    }
    if (clientError == 0 && client.StatusCode() >= 200 && client.StatusCode() <= 299)
        return std::nullopt;
    return DescribeEnd(client, clientError, requestDoneError);
}

void TraceFailure(THttpCli& client, const std::string& url, const DownloadFailure& failure) {
    TQtxLogger* log = client.QtxLogger();
    if (log && log->LogOptions().Contains(loProtSpecErr))
        log->Log(&client, loProtSpecErr,
                 "Download of " + WithoutCredentials(url) + " failed: " + FailureDetail(failure));
}

}  // namespace app
