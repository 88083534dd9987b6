// The request text (request line and header lines in their fixed order), its hand-over to the
// socket, and the sender of a POST or PUT body.
#include "http/http_cli.h"
#include "http/http_date.h"
#include "http/url.h"

void THttpCli::SendRequest(const std::string& Method, const std::string& Version) {
    const bool hasBody = currentRequest_ == httpRqPost || currentRequest_ == httpRqPut;
    PrepareBandwidthControl();
    std::vector<std::string> lines;
    requestHeaderBuffer_.clear();
    RaiseRequestHeaderBegin();
    // An abort from any of the events below has closed the connection: nothing more is sent.
    if (AbortedDuringEvent()) return;

    auto addIf = [&lines](bool condition, std::string line) {
        if (condition) lines.push_back(std::move(line));
    };
    lines.push_back(Method + " " + RequestTarget(TargetPathToSend()) + " HTTP/" + Version);
    addIf(!Sender.empty(), "From: " + Sender);
    addIf(!Accept.empty(), "Accept: " + Accept);
    addIf(!Reference.empty(), "Referer: " + Reference);
    addIf(!effectiveConnection_.empty(), "Connection: " + effectiveConnection_);
    addIf(!AcceptLanguage.empty(), "Accept-Language: " + AcceptLanguage);
    const std::string& acceptEncoding = contentCoding_.HeaderText();
    addIf(!acceptEncoding.empty() && currentRequest_ != httpRqHead,
          "Accept-Encoding: " + acceptEncoding);
    addIf(hasBody && !ContentTypePost.empty(), "Content-Type: " + ContentTypePost);
    addIf(!Agent.empty(), "User-Agent: " + Agent);
    lines.push_back(
        "Host: " + UrlHost(urlHost_) +
        (urlPort_.empty() || urlPort_ == DefaultPort(urlScheme_) ? "" : ":" + urlPort_));
    addIf(NoCache, "Pragma: no-cache");
    // Inside a tunnel the origin server reads the request: nothing meant for the proxy goes there.
    const bool tunnelled = TunnelNeeded();
    addIf(!tunnelled && !effectiveProxyConnection_.empty(),
          "Proxy-Connection: " + effectiveProxyConnection_);
    if (hasBody) {
        // The body waits until the NTLM exchange has reached its type-3 message.
        std::int64_t length =
            NtlmNegotiateOutstanding() ? 0 : UploadStream->Size() - UploadStream->Position();
        lines.push_back("Content-Length: " + std::to_string(length));
    }
    addIf(ModifiedSince != 0, "If-Modified-Since: " + HttpDateText(ModifiedSince) + " GMT");
    const std::string authorization = ServerAuthorizationLine();
    addIf(!authorization.empty(), authorization);
    const std::string proxyAuthorization = ProxyAuthorizationLine();
    addIf(!tunnelled && !proxyAuthorization.empty(), proxyAuthorization);
    addIf(!Cookie.empty(), "Cookie: " + Cookie);
    if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
        lines.push_back("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
        ContentRangeBegin.clear();
        ContentRangeEnd.clear();
    }
    acceptRanges_.clear();

    if (LogEnabled(loProtSpecInfo)) {
        std::string dump = std::to_string(lines.size()) + " header lines to send\r\n";
        for (const auto& line : lines)
            dump += line + "\r\n";
        LogLine(loProtSpecInfo, dump);
    }
    RaiseBeforeHeaderSend(Method, lines);
    if (AbortedDuringEvent()) return;
    for (const auto& line : lines) {
        WriteRequestLine(line);
        if (AbortedDuringEvent()) return;
    }
    RaiseRequestHeaderEnd();
    if (AbortedDuringEvent()) return;
    WriteRequestLine("");
    if (AbortedDuringEvent()) return;

    ctrlSocket_->QueueSendData(requestHeaderBuffer_.data(),
                               static_cast<int>(requestHeaderBuffer_.size()));
    requestHeaderBuffer_.clear();
    ctrlSocket_->Send(nullptr, 0);
    Trace(loProtSpecInfo, "SendRequest Done");
}

void THttpCli::WriteRequestLine(const std::string& Line) {
    std::string text = Line;
    if (OnCommand) OnCommand(this, text);
    requestHeaderBuffer_ += text;
    requestHeaderBuffer_ += "\r\n";
}

void THttpCli::ControlDataSent(std::uint16_t) {
    if (!sendPermitted_) return;
    try {
        auto count = static_cast<int>(UploadStream->Read(sendBlock_, kSendBlockSize));
        if (count > 0) {
            bodyBytesSent_ += count;
            RaiseSendData(sendBlock_, count);
            if (AbortedDuringEvent()) return;
            ctrlSocket_->Send(sendBlock_, count);
        } else {
            sendPermitted_ = false;
            RaiseSendEnd();
        }
    } catch (const std::exception& error) {
        FailRequest(httpErrLocalFailure, error.what());
    }
}
