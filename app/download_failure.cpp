#include "app/download_failure.h"

#include <cstdlib>

#include "http/http_cli.h"
#include "http/url.h"
#include "log/qtx_logger.h"
#include "platform/winsock.h"
#include "socket/socks_messages.h"

namespace app {
namespace {

// Hears the client's end of a request while it lives: the error number of its request-done event
// is the only word on what broke a connection (a reset, a refusal, a TLS alert).
class RequestEndWatch {
  public:
    explicit RequestEndWatch(THttpCli& client) : client_(client), previous_(client.OnRequestDone) {
        client_.OnRequestDone = [this](THttpCli* sender, THttpRequest request,
                                       std::uint16_t error) {
            error_ = error;
            if (previous_) previous_(sender, request, error);
        };
    }
    ~RequestEndWatch() { client_.OnRequestDone = previous_; }
    RequestEndWatch(const RequestEndWatch&) = delete;
    RequestEndWatch& operator=(const RequestEndWatch&) = delete;

    std::optional<std::uint16_t> Error() const { return error_; }

  private:
    THttpCli& client_;
    THttpRequestDone previous_;
    std::optional<std::uint16_t> error_;
};

// The number in the client's "... (Error #10054)", for an end whose event has not come yet.
std::uint16_t ErrorNumberIn(const std::string& reason) {
    const std::size_t at = reason.rfind("(Error #");
    if (at == std::string::npos) return 0;
    return static_cast<std::uint16_t>(std::strtoul(reason.c_str() + at + 8, nullptr, 10));
}

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
                            std::optional<std::uint16_t> connectionError) {
    DownloadFailure failure;
    failure.status = client.StatusCode();
    failure.statusReason = client.StatusReason();
    failure.answered = !client.ResponseHeaderLines().empty();
    failure.clientError = clientError;
    // The event carries the client's own failure codes too, which say nothing of the connection.
    const std::uint16_t error = connectionError.value_or(ErrorNumberIn(client.StatusReason()));
    failure.connectionError = error >= platform::WSAEINTR ? error : 0;
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

std::optional<DownloadFailure> GetFailure(THttpCli& client) {
    RequestEndWatch end(client);
    std::uint16_t clientError = 0;
    try {
        client.Get();
    } catch (const EHttpException& error) {
        if (error.ErrorNumber == httpErrLocalFailure) throw;
        // A failed status carries its code as the number.
        if (error.ErrorNumber != client.StatusCode()) clientError = error.ErrorNumber;
    }
    if (clientError == 0 && client.StatusCode() >= 200 && client.StatusCode() <= 299)
        return std::nullopt;
    return DescribeEnd(client, clientError, end.Error());
}

void TraceFailure(THttpCli& client, const std::string& url, const DownloadFailure& failure) {
    TQtxLogger* log = client.QtxLogger();
    if (log && log->LogOptions().Contains(loProtSpecErr))
        log->Log(&client, loProtSpecErr,
                 "Download of " + WithoutCredentials(url) + " failed: " + FailureDetail(failure));
}

}  // namespace app
