// The client object: construction, properties, event raisers, the state change and the three
// private messages of its hidden window, and the one exit by which a request ends.
#include "http/http_cli.h"
#include "socket/resolve.h"

namespace {

// The private messages, handled from the message loop in the order posted.
constexpr platform::UINT kRequestDoneMessage = platform::WM_USER + 1;
constexpr platform::UINT kSetReadyMessage = platform::WM_USER + 2;
constexpr platform::UINT kLoginMessage = platform::WM_USER + 3;

}  // namespace

const char* HttpCliStateName(THttpCliState state) {
    static const char* const names[] = {
        "httpReady",       "httpNotConnected",  "httpConnected",
        "httpDnsLookup",   "httpDnsLookupDone", "httpWaitingHeader",
        "httpWaitingBody", "httpBodyReceived",  "httpWaitingProxyConnect",
        "httpClosing",     "httpAborting",
    };
    return state <= httpAborting ? names[state] : "INVALID STATE";
}

THttpCli::THttpCli(platform::TComponent* owner) : THttpCli(owner, nullptr) {}

THttpCli::THttpCli(platform::TComponent* owner, std::unique_ptr<TWSocket> controlSocket)
    : platform::TComponent(owner),
      ctrlSocket_(controlSocket ? std::move(controlSocket) : std::make_unique<TWSocket>(this)),
      contentCoding_(&BodyStream,
                     [this](const char* Buffer, int Len) { RaiseDocData(Buffer, Len); }) {
    window_ = platform::AllocateHWnd(
        [this](platform::HWND, platform::UINT msg, platform::WPARAM wParam,
               platform::LPARAM lParam) { return HandleWindowMessage(msg, wParam, lParam); });
    HookSocketEvents();
}

THttpCli::~THttpCli() {
    BeginDestroying();
    // The socket raises nothing while it is destroyed; unhooking makes sure of it.
    ctrlSocket_->OnSessionClosed = nullptr;
    ctrlSocket_->OnDataAvailable = nullptr;
    ctrlSocket_->OnSessionConnected = nullptr;
    ctrlSocket_->OnDataSent = nullptr;
    ctrlSocket_->OnDnsLookupDone = nullptr;
    ctrlSocket_.reset();
    platform::DestroyWindow(window_);
}

void THttpCli::HookSocketEvents() {
    TWSocket& socket = *ctrlSocket_;
    HookControlSessionClosed();
    socket.OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { ControlDataAvailable(e); };
    socket.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
        ControlSessionConnected(e);
    };
    socket.OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { ControlDataSent(e); };
    socket.OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) { ControlLookupDone(e); };
    socket.OnSocksError = [this](TCustomWSocket*, int error, const std::string& msg) {
        if (OnSocksError) OnSocksError(this, error, msg);
    };
    socket.OnSocksConnected = [this](TCustomWSocket*, std::uint16_t e) {
        if (OnSocksConnected) OnSocksConnected(this, e);
    };
    socket.OnError = [this](TCustomWSocket*) {
        socketErrorReported_ = true;
        if (OnSocketError) OnSocketError(this);
    };
}

void THttpCli::HookControlSessionClosed() {
    ctrlSocket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
        ControlSessionClosed(e);
    };
}

void THttpCli::LogLine(TLogOption Option, const std::string& Msg) {
    ctrlSocket_->LogLine(Option, Msg);
}

bool THttpCli::LogEnabled(TLogOption Option) {
    return ctrlSocket_->LogEnabled(Option);
}

THttpCliOptions THttpCli::Options() const {
    THttpCliOptions options = options_;
    auto reflect = [&options](THttpCliOption option, bool on) {
        if (on)
            options.Include(option);
        else
            options.Exclude(option);
    };
    reflect(httpoEnableContentCoding, contentCoding_.Enabled());
    reflect(httpoUseQuality, contentCoding_.UseQuality());
    return options;
}

void THttpCli::SetOptions(THttpCliOptions value) {
    options_ = value;
    contentCoding_.SetEnabled(value.Contains(httpoEnableContentCoding));
    contentCoding_.SetUseQuality(value.Contains(httpoUseQuality));
}

void THttpCli::SetMultiThreaded(bool value) {
    multiThreaded_ = value;
    ctrlSocket_->SetMultiThreaded(value);
}

void THttpCli::SetRequestVer(const std::string& value) {
    if (value == requestVer_) return;
    if (value != "1.0" && value != "1.1")
        throw EHttpException("Insupported HTTP version", httpErrVersion);
    requestVer_ = value;
}

void THttpCli::ApplyConnectSettings() {
    TWSocket& socket = *ctrlSocket_;
    // Directly, the socket takes every address its lookup found, and tries them in turn; a SOCKS
    // server is given the one address (or the name) it is asked for.
    socket.SetAddr(TrimBlanks(SocksServer).empty() ? connectHost_ : resolvedAddress_);
    socket.SetLocalAddr(LocalAddr);
    socket.SetPort(connectPort_);
    socket.SetProto("tcp");
    // Through a proxy, TLS starts inside the tunnel once the proxy has opened it.
    socket.SetSslEnable(urlScheme_ == "https" && !TunnelNeeded());
    socket.SetSslServerName(urlHost_);
    socket.SetSslExtraCaFile(SslExtraCaFile);
    socket.SetSocksServer(SocksServer);
    // The socket refuses an empty level; left unset it keeps its own, "5".
    if (!SocksLevel.empty()) socket.SetSocksLevel(SocksLevel);
    socket.SetSocksPort(SocksPort);
    socket.SetSocksUsercode(SocksUsercode);
    socket.SetSocksPassword(SocksPassword);
    socket.SetSocksAuthentication(SocksAuthentication);
}

void THttpCli::DropConnection() {
    ctrlSocket_->Close();
}

void THttpCli::EnterState(THttpCliState NewState) {
    if (state_ == NewState) return;
    state_ = NewState;
    RaiseStateChange();
}

void THttpCli::ResponseEnded() {
    // A second post for the same end, or a retry already on its way, finds nothing to do.
    if (!RequestInProgress() || loginPosted_) return;
    if (AnswerChallenge()) return;
    EndRequest();
}

void THttpCli::EndRequest(bool reportAtOnce) {
    // Marked before the state changes: an abort from the state's event finds the request ended.
    requestDonePosted_ = true;
    EnterState(httpReady);
    if (reportAtOnce)
        RaiseRequestDone();
    else
        PostRequestDone();
}

void THttpCli::BecomeReady() {
    PostToSelf(kSetReadyMessage);
}

void THttpCli::PostRequestDone() {
    PostToSelf(kRequestDoneMessage);
}

void THttpCli::PostLogin() {
    loginPosted_ = true;
    PostToSelf(kLoginMessage);
}

void THttpCli::PostToSelf(platform::UINT message) {
    platform::PostMessage(window_, message, 0, 0);
}

platform::LRESULT THttpCli::HandleWindowMessage(platform::UINT Msg, platform::WPARAM WParam,
                                                platform::LPARAM LParam) {
    if (IsBandwidthTick(Msg, WParam)) {
        BandwidthTick();
        return 0;
    }
    switch (Msg) {
        case kRequestDoneMessage:
            RaiseRequestDone();
            return 0;
        case kSetReadyMessage:
            ResponseEnded();
            return 0;
        case kLoginMessage:
            if (loginPosted_) {
                loginPosted_ = false;
                Login();
            }
            return 0;
        default:
            return platform::DefWindowProc(window_, Msg, WParam, LParam);
    }
}

void THttpCli::RaiseRequestDone() {
    requestDonePosted_ = false;
    Trace(loProtSpecInfo, "RequestDone");
    if (OnRequestDone) OnRequestDone(this, currentRequest_, outcome_.errCode);
}

void THttpCli::RaiseStateChange() {
    Trace(loProtSpecInfo, "State = ", HttpCliStateName(state_));
    if (OnStateChange) OnStateChange(this);
}

void THttpCli::RaiseCookie(const std::string& Data, bool& Accept) {
    if (OnCookie) OnCookie(this, Data, Accept);
}

void THttpCli::RaiseSessionConnected() {
    if (OnSessionConnected) OnSessionConnected(this);
}

void THttpCli::RaiseSessionClosed() {
    if (OnSessionClosed) OnSessionClosed(this);
}

void THttpCli::RaiseBeforeHeaderSend(const std::string& Method, std::vector<std::string>& Headers) {
    if (OnBeforeHeaderSend) OnBeforeHeaderSend(this, Method, Headers);
}

void THttpCli::RaiseRequestHeaderBegin() {
    if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
}

void THttpCli::RaiseRequestHeaderEnd() {
    if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
}

void THttpCli::RaiseHeaderBegin() {
    headerInProgress_ = true;
    if (OnHeaderBegin) OnHeaderBegin(this);
}

void THttpCli::RaiseHeaderEnd() {
    headerInProgress_ = false;
    if (OnHeaderEnd) OnHeaderEnd(this);
}

void THttpCli::RaiseDocBegin() {
    Trace(loProtSpecInfo, "DocBegin");
    if (OnDocBegin) OnDocBegin(this);
}

void THttpCli::RaiseDocData(const char* Buffer, int Len) {
    if (OnDocData) OnDocData(this, Buffer, Len);
}

void THttpCli::RaiseDocEnd() {
    Trace(loProtSpecInfo, "DocEnd");
    if (OnDocEnd) OnDocEnd(this);
}

void THttpCli::RaiseSendBegin() {
    if (OnSendBegin) OnSendBegin(this);
}

void THttpCli::RaiseSendData(const char* Buffer, int Len) {
    if (OnSendData) OnSendData(this, Buffer, Len);
}

void THttpCli::RaiseSendEnd() {
    if (OnSendEnd) OnSendEnd(this);
}
