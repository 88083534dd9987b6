// One request from its start to its end: the checks, connection reuse, name lookup and connect,
// sending, the reaction to the connection closing, the synchronous wait, and Abort.
#include "http/http_cli.h"
#include "platform/application.h"
#include "platform/system.h"
#include "socket/resolve.h"
#include "socket/socket_errors.h"

namespace {

const char* const kCutShortMessage = "Connection closed before the end of the document";

std::string ErrorNumberText(int number) {
    return SocketErrorText(number) + " (Error #" + std::to_string(number) + ")";
}

}  // namespace

void THttpCli::Get() {
    locationChangeCurCount_ = 0;
    RunRequest(httpRqGet);
}

void THttpCli::StartGet() {
    locationChangeCurCount_ = 0;
    StartRequest(httpRqGet);
}

void THttpCli::RunRequest(THttpRequest Rq) {
    StartRequest(Rq);
    WaitUntilReady();
    if (std::optional<EHttpException> failure = RequestFailure()) throw *failure;
}

void THttpCli::WaitUntilReady() {
    platform::Application& app = platform::App();
    while (RequestInProgress()) {
        if (multiThreaded_) {
            ctrlSocket_->PumpMessages();
            platform::YieldThread();
            continue;
        }
        app.WaitForInput(1000);
        app.ProcessMessages();
        if (app.Terminated()) {
            // A request that ended while the messages were processed is not aborted again: an
            // abort in the ready state would turn its failure into "200 OK".
            if (RequestInProgress()) Abort();
            break;
        }
    }
}

std::optional<EHttpException> THttpCli::RequestFailure() const {
    if (response_.statusCode >= 400 && response_.statusCode != 401 && response_.statusCode != 407)
        return EHttpException(response_.statusReason,
                              static_cast<std::uint16_t>(response_.statusCode));
    if (outcome_.failure != 0) return EHttpException(outcome_.message, outcome_.failure);
    return std::nullopt;
}

void THttpCli::StartRequest(THttpRequest Rq) {
    if (Rq != httpRqClose && state_ != httpReady)
        throw EHttpException("HTTP component " + Name() + " is busy", httpErrBusy);
    if ((Rq == httpRqPost || Rq == httpRqPut) && !UploadStream)
        throw EHttpException("HTTP component has nothing to post or put", httpErrNothingToSend);
    // Get returns on the state, before the last request's end is raised from the loop: that one
    // has ended, this one can be aborted.
    requestDonePosted_ = false;
    if (Rq == httpRqClose) {
        // The close ends as its own request, not with the failure of the one before it.
        outcome_ = {};
        response_.statusCode = 200;
        response_.statusReason = "OK";
        EnterState(httpClosing);
        if (ctrlSocket_->State() == wsClosed)
            BecomeReady();
        else
            ctrlSocket_->CloseLater();
        return;
    }

    CheckBandwidthSettings();
    currentRequest_ = Rq;
    ResetResponseState();
    // Nothing received before this request belongs to its response: bytes left after the last
    // document on a kept connection would otherwise be read as the status line.
    nextStep_ = nullptr;
    receiveFill_ = 0;
    // A relocation or a retry never cuts the stream below what it held before this request.
    streamStartSize_ = BodyStream ? BodyStream->Size() : 0;
    effectiveUser_ = Username;
    effectivePassword_ = Password;
    effectiveConnection_ = Connection;
    effectiveProxyConnection_ = ProxyConnection;
    ComputeTarget();
    PrearmAuthentication();

    if (ctrlSocket_->State() == wsConnected) {
        if (SameAsLastConnection()) {
            ControlSessionConnected(0);
            return;
        }
        ctrlSocket_->Abort();
    }
    EnterState(httpNotConnected);
    if (AbortedDuringEvent()) return;
    Login();
}

void THttpCli::Login() {
    Trace(loProtSpecInfo, "Login ", connectHost_);
    HookControlSessionClosed();
    // Whatever is held came before the request about to be sent, so it is not its response.
    receiveFill_ = 0;
    if (ctrlSocket_->State() == wsConnected) {
        ControlSessionConnected(0);
        return;
    }
    resolvedAddress_.clear();
    EnterState(httpDnsLookup);
    if (AbortedDuringEvent()) return;
    ctrlSocket_->SetLocalAddr(LocalAddr);
    socketErrorReported_ = false;
    if (SocksServerLooksUpHost()) {
        // The SOCKS server looks the name up: the local resolver may not know it, and need not
        // learn every host visited.
        ConnectAfterLookup(connectHost_);
        return;
    }
    try {
        ctrlSocket_->StartLookup(connectHost_);
    } catch (const std::exception& error) {
        return LookupRefused(error.what(), 0);
    }
    // The socket reports a lookup it cannot start to its OnError instead of raising; no answer
    // will come for it.
    if (socketErrorReported_ && state_ == httpDnsLookup) {
        int number = ctrlSocket_->LastError();
        LookupRefused("can't start DNS lookup: " + ErrorNumberText(number),
                      static_cast<std::uint16_t>(number));
    }
}

void THttpCli::LookupRefused(const std::string& reason, std::uint16_t errCode) {
    NoteConnectionFailure(errCode, 404, reason);
    EndRequest();
}

void THttpCli::NoteConnectionFailure(std::uint16_t errCode, int status, const std::string& reason) {
    outcome_.errCode = errCode;
    response_.statusCode = status;
    response_.statusReason = reason;
}

void THttpCli::ControlLookupDone(std::uint16_t ErrCode) {
    // A lookup that ends after the request was aborted (or ended from an event) is not wanted.
    if (state_ != httpDnsLookup) return;
    if (ErrCode != 0) {
        NoteConnectionFailure(ErrCode, 404, "can't resolve hostname to IP address");
        ControlSessionClosed(ErrCode);
        return;
    }
    ConnectAfterLookup(ctrlSocket_->DnsResult());
}

bool THttpCli::SocksServerLooksUpHost() const {
    // Any level but "4" is SOCKS 5 or 4A at the socket, which sends the name as it stands.
    return !TrimBlanks(SocksServer).empty() && SocksLevel != "4";
}

void THttpCli::ConnectAfterLookup(const std::string& address) {
    resolvedAddress_ = address;
    EnterState(httpDnsLookupDone);
    if (state_ != httpDnsLookupDone) return;
    ApplyConnectSettings();
    previousHost_ = connectHost_;
    previousPort_ = connectPort_;
    previousScheme_ = urlScheme_;
    if (urlScheme_ != "http" && urlScheme_ != "https") {
        auto lastError = static_cast<std::uint16_t>(ctrlSocket_->LastError());
        NoteConnectionFailure(lastError, 501, "Protocol \"" + urlScheme_ + "\" not implemented");
        ctrlSocket_->Close();
        ControlSessionClosed(lastError);
        return;
    }
    ConnectResolved();
}

void THttpCli::ConnectResolved() {
    Trace(loProtSpecInfo, "connect to ", resolvedAddress_, "/", connectPort_);
    bool started;
    try {
        ctrlSocket_->Connect();
        // The socket reports failures to its OnError instead of raising them; a connect that
        // failed at once leaves it neither connecting nor connected, and nothing more will come.
        started = ctrlSocket_->State() == wsConnecting || ctrlSocket_->State() == wsConnected;
    } catch (const std::exception&) {
        started = false;
    }
    if (!started) ConnectFailedAtOnce();
}

void THttpCli::ConnectFailedAtOnce() {
    // Settings the socket refuses before any platform call (a port text that is no port) leave
    // no error number behind.
    int number = ctrlSocket_->LastError() != 0 ? ctrlSocket_->LastError() : platform::WSAEINVAL;
    NoteConnectionFailure(static_cast<std::uint16_t>(number), 404,
                          "can't connect: " + ErrorNumberText(number));
    ctrlSocket_->Close();
    ControlSessionClosed(static_cast<std::uint16_t>(number));
}

void THttpCli::ControlSessionConnected(std::uint16_t ErrCode) {
    Trace(loProtSpecInfo, "SessionConnected");
    if (ErrCode != 0) {
        // The socket closes itself after a failed connect; its session-closed ends the request.
        NoteConnectionFailure(
            ErrCode, 404,
            IsTlsError(ErrCode) ? ctrlSocket_->SslErrorText() : ErrorNumberText(ErrCode));
        RaiseSessionConnected();
        return;
    }
    relocationPending_ = false;
    if (TunnelNeeded() && !ctrlSocket_->SslEstablished()) {
        // The request follows once TLS runs through the tunnel; its handshake connects again.
        OpenTunnel();
        return;
    }
    EnterState(httpConnected);
    RaiseSessionConnected();
    if (AbortedDuringEvent()) return;
    nextStep_ = &THttpCli::HandleHeaderLine;
    EnterState(httpWaitingHeader);
    if (AbortedDuringEvent()) return;
    try {
        switch (currentRequest_) {
            case httpRqPost:
                SendRequest("POST", requestVer_);
                break;
            case httpRqPut:
                SendRequest("PUT", requestVer_);
                break;
            case httpRqHead:
                SendRequest("HEAD", requestVer_);
                break;
            default:
                SendRequest("GET", requestVer_);
                break;
        }
        if (AbortedDuringEvent()) return;
        if ((currentRequest_ == httpRqPost || currentRequest_ == httpRqPut) &&
            !NtlmNegotiateOutstanding()) {
            RaiseSendBegin();
            if (AbortedDuringEvent()) return;
            sendPermitted_ = true;
            ControlDataSent(0);
        }
    } catch (const std::exception& error) {
        FailRequest(httpErrLocalFailure, error.what());
    }
}

bool THttpCli::ResponseIncomplete(std::uint16_t closeError) const {
    if (nextStep_ == &THttpCli::HandleHeaderLine || nextStep_ == &THttpCli::ReadTunnelAnswer)
        return true;
    if (nextStep_ != &THttpCli::GetBodyLineNext) return false;
    // Without a length and without chunks the body ends with the connection, when it closes in
    // order; a reset leaves the end unknown.
    return response_.documentLength != -1 || response_.chunked ||
           closeError != 0;
}

void THttpCli::ControlSessionClosed(std::uint16_t ErrCode) {
    Trace(loProtSpecInfo, "SessionClosed Error: ", ErrCode);
    if (ErrCode != 0) outcome_.errCode = ErrCode;
    const bool endedOnRequest = state_ == httpAborting || state_ == httpClosing;
    if (!endedOnRequest && !relocationPending_ && ResponseIncomplete(ErrCode)) {
        outcome_.failure = httpErrDocumentCutShort;
        outcome_.message = kCutShortMessage;
        if (outcome_.errCode == 0) outcome_.errCode = httpErrDocumentCutShort;
    }
    if (headerInProgress_) {
        RaiseHeaderEnd();
    } else if (response_.bodyLinesSeen > 0) {
        StopBandwidthTimer();
        RaiseDocEnd();
    }
    nextStep_ = nullptr;
    if (relocationPending_) {
        // The server has closed: the relocation needs a new connection, and the socket reports
        // no second close to continue from, so it is closed here before the relocation looks.
        closeReq_ = true;
        ctrlSocket_->Close();
        // A relocation already under way on the kept connection has posted its login, which
        // connects anew; beginning it again would count and announce it twice. Nothing held from
        // the closed connection belongs to the next response.
        if (loginPosted_)
            receiveFill_ = 0;
        else
            BeginRelocation();
        return;
    }
    RaiseSessionClosed();
    // A retry for authentication already posted goes on from the closed connection on a new one.
    if (state_ != httpReady && !loginPosted_) BecomeReady();
}

void THttpCli::FailRequest(std::uint16_t code, const std::string& message) {
    outcome_.failure = code;
    outcome_.message = message;
    outcome_.errCode = code;
    nextStep_ = nullptr;
    relocationPending_ = false;
    receiveFill_ = 0;
    if (ctrlSocket_->State() != wsClosed)
        DropConnection();  // its session-closed ends the request
    else
        BecomeReady();
}

void THttpCli::Abort() {
    // A request that has ended keeps its outcome: an abort from the events of its end (the
    // state's change to ready) must not turn it into a success or report it twice.
    if (requestDonePosted_) return;
    // An abort ends the whole chain: no relocation goes on from the closing connection, and a
    // login already posted for one (or for an authentication retry) finds nothing to do.
    const bool idle = !RequestInProgress();
    relocationPending_ = false;
    loginPosted_ = false;
    HookControlSessionClosed();
    if (idle) {
        // Without an event: the state leaves ready only so that the socket's close ends nothing.
        state_ = httpAborting;
        if (ctrlSocket_->State() != wsClosed) ctrlSocket_->Abort();
        outcome_ = {};
        response_.statusCode = 200;
        response_.statusReason = "OK";
        EndRequest(true);
        return;
    }
    const bool wasLookup = state_ == httpDnsLookup;
    EnterState(httpAborting);
    if (wasLookup) {
        try {
            ctrlSocket_->CancelLookup();
        } catch (...) {
            // The request ends the same whether or not the lookup could be cancelled.
        }
    }
    NoteConnectionFailure(httpErrAborted, 404, "Connection aborted on request");
    if (wasLookup)
        ControlSessionClosed(0);
    else
        ctrlSocket_->Close();
    EndRequest();
}
