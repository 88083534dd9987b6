// https through an HTTP proxy: the connection to the proxy first carries "CONNECT host:port",
// and once the proxy answers 2xx, TLS to the origin server runs through it and the request is
// sent inside as to the server itself. Any other answer is the request's response, read like one:
// a 407 is answered with the proxy credentials (Basic, or NTLM on the kept connection) by another
// CONNECT, and any other refusal ends the request with its status.
#include "http/http_cli.h"
#include "http/url.h"

namespace {

// The host and port of an absolute address; the scheme's port when it names none.
void OriginOf(const std::string& address, std::string& host, std::string& port) {
    std::string proto, user, pass, path;
    SplitUrl(address, proto, user, pass, host, port, path);
    if (port.empty()) port = DefaultPort(proto);
}

}  // namespace

std::string THttpCli::TunnelOrigin() const {
    std::string host, port;
    OriginOf(targetPath_, host, port);
    return UrlHost(host) + ":" + port;
}

std::string THttpCli::TargetPathToSend() const {
    if (!TunnelNeeded()) return targetPath_;
    // Inside the tunnel the origin server is asked for its own path.
    std::string proto, user, pass, host, port, path;
    SplitUrl(targetPath_, proto, user, pass, host, port, path);
    return path.empty() ? "/" : path;
}

void THttpCli::OpenTunnel() {
    tunnelOrigin_ = TunnelOrigin();
    // The proxy's answer is read under the limit too: counted against a period never started it
    // would pause reading for good.
    PrepareBandwidthControl();
    EnterState(httpWaitingProxyConnect);
    if (AbortedDuringEvent()) return;
    nextStep_ = &THttpCli::ReadTunnelAnswer;
    response_.headerLinesSeen = 0;
    std::string request =
        "CONNECT " + tunnelOrigin_ + " HTTP/1.1\r\nHost: " + tunnelOrigin_ + "\r\n";
    if (!Agent.empty()) request += "User-Agent: " + Agent + "\r\n";
    // NTLM authenticates the connection: the proxy must keep it for the next CONNECT.
    if (proxyAuth_.ntlm == ntlmNegotiateSent || proxyAuth_.ntlm == ntlmAuthenticateSent)
        request += "Proxy-Connection: Keep-Alive\r\n";
    const std::string authorization = ProxyAuthorizationLine();
    if (!authorization.empty()) request += authorization + "\r\n";
    request += "\r\n";
    Trace(loProtSpecInfo, "CONNECT ", tunnelOrigin_);
    try {
        ctrlSocket_->SendText(request);
    } catch (const std::exception& error) {
        FailRequest(httpErrLocalFailure, error.what());
    }
}

void THttpCli::ReadTunnelAnswer() {
    const std::string line = lastResponseLine_;
    if (!line.empty()) {
        response_.headerLines.push_back(line);
        if (response_.headerLinesSeen++ == 0) {
            ParseStatusLine(line);
            // The CONNECT went as HTTP/1.1: the proxy keeps the connection unless it says not.
            closeReq_ = responseVersion_ == "1.0";
        }
        return;
    }
    if (response_.headerLinesSeen == 0) return;  // blank lines before the status line
    if (response_.statusCode >= 100 && response_.statusCode < 200) {
        // An interim answer: the real one follows.
        response_.headerLinesSeen = 0;
        response_.headerLines.clear();
        return;
    }
    nextStep_ = nullptr;
    if (response_.statusCode >= 200 && response_.statusCode < 300) {
        response_.headerLinesSeen = 0;
        // The origin server speaks only after the ClientHello; nothing else may follow the answer.
        receiveFill_ = 0;
        response_.headerLines.clear();
        response_.statusCode = 0;
        response_.statusReason.clear();
        if (proxyAuth_.ntlm != ntlmIdle) proxyAuth_.ntlm = ntlmFinished;
        if (proxyAuth_.basic != basicIdle) proxyAuth_.basic = basicFinished;
        ctrlSocket_->StartSslHandshake();
        return;
    }
    if (response_.statusCode == 0) {
        FailProtocol("Invalid answer from the proxy to CONNECT: " + response_.headerLines.front());
        return;
    }
    Trace(loProtSpecInfo, "CONNECT refused: ", response_.statusCode);
    TakeTunnelRefusal();
}

// The refusal is read as the response: its fields, then its body as the document, after which the
// connection is free for another CONNECT. A relocation is not followed: the proxy does not choose
// where a secure request goes.
void THttpCli::TakeTunnelRefusal() {
    for (std::size_t i = 1; i < response_.headerLines.size(); ++i) {
        if (LowerCase(response_.headerLines[i].substr(0, 9)) != "location:")
            ParseHeaderField(response_.headerLines[i]);
        if (outcome_.failure != 0) return;
    }
    RaiseHeaderBegin();
    if (AbortedDuringEvent()) return;
    EndOfHeader();
}
