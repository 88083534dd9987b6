// THttpCli: one HTTP/1.0 or HTTP/1.1 request at a time (GET, POST, PUT, HEAD) over its own
// TWSocket, directly or through an HTTP proxy, with relocation, chunked bodies and connection
// reuse. Event-driven on the creating thread's message loop; Get runs a request to its end while
// that loop keeps running.
//
// The implementation is spread by role: http_cli.cpp (the object, its events and private
// messages), http_target.cpp (target and reuse), http_request.cpp (request text and body sender),
// http_lifecycle.cpp (start, connection, end, abort, wait), http_response.cpp (reception and the
// header), http_body.cpp (the body), http_relocation.cpp, http_auth.cpp (answers to 401 and 407)
// and http_tunnel.cpp (CONNECT for https through the proxy).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "auth/ntlm_message.h"
#include "http/bandwidth_throttle.h"
#include "http/chunk_decoder.h"
#include "http/content_coding.h"
#include "http/http_types.h"
#include "log/log_options.h"
#include "platform/component.h"
#include "platform/message_loop.h"
#include "platform/streams.h"
#include "socket/twsocket.h"

class THttpCli;

using THttpNotifyEvent = std::function<void(THttpCli* Sender)>;
using TOnCommand = std::function<void(THttpCli* Sender, std::string& S)>;
// Buffer lies in the client's own storage and is valid only during the call.
using TDocDataEvent = std::function<void(THttpCli* Sender, const char* Buffer, int Len)>;
using THttpRequestDone =
    std::function<void(THttpCli* Sender, THttpRequest RqType, std::uint16_t ErrCode)>;
using TCookieRcvdEvent =
    std::function<void(THttpCli* Sender, const std::string& Data, bool& Accept)>;
using THttpDataAvailable = std::function<void(THttpCli* Sender, std::uint16_t ErrCode)>;
using THttpSessionConnected = std::function<void(THttpCli* Sender, std::uint16_t ErrCode)>;
using THttpSocksErrorEvent =
    std::function<void(THttpCli* Sender, int Error, const std::string& Msg)>;
using TBeforeHeaderSendEvent = std::function<void(THttpCli* Sender, const std::string& Method,
                                                  std::vector<std::string>& Headers)>;
using TLocationChangeExceeded =
    std::function<void(THttpCli* Sender, const int RelocationCount, bool& AllowMoreRelocations)>;

class THttpCli : public platform::TComponent {
  public:
    explicit THttpCli(platform::TComponent* owner = nullptr);
    ~THttpCli() override;

    // Published properties.
    std::string URL;
    std::string LocalAddr = "0.0.0.0";
    std::string Proxy;
    std::string ProxyPort = "80";
    std::string Sender;  // "From: "
    std::string Agent = "Mozilla/4.0 (compatible; QTX)";
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string AcceptLanguage;
    std::string Reference;  // "Referer: "
    std::string Connection;
    std::string ProxyConnection;
    std::string Username;
    std::string Password;
    std::string ProxyUsername;
    std::string ProxyPassword;
    bool NoCache = false;
    double ModifiedSince = 0;  // days since 30 December 1899; 0 sends no If-Modified-Since
    std::string Cookie;
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    std::string ContentRangeBegin;  // both cleared once a request carried them
    std::string ContentRangeEnd;
    const std::string& AcceptRanges() const { return acceptRanges_; }
    bool MultiThreaded() const { return multiThreaded_; }
    virtual void SetMultiThreaded(bool value);
    const std::string& RequestVer() const { return requestVer_; }
    void SetRequestVer(const std::string& value);  // "1.0" or "1.1"
    bool FollowRelocation = true;
    int LocationChangeMaxCount = 5;
    int LocationChangeCurCount() const { return locationChangeCurCount_; }
    int BandwidthLimit = 10000;    // bytes per second
    int BandwidthSampling = 1000;  // milliseconds
    // Content coding and its quality values are the content-coding handler's own settings.
    THttpCliOptions Options() const;
    void SetOptions(THttpCliOptions value);
    // The control socket's logger, read and written through.
    TQtxLogger* QtxLogger() const { return ctrlSocket_->QtxLogger(); }
    void SetQtxLogger(TQtxLogger* value) { ctrlSocket_->SetQtxLogger(value); }
    // A file of CA certificates trusted besides the system's trust store, for https.
    std::string SslExtraCaFile;
    std::string SocksServer;
    std::string SocksLevel;
    std::string SocksPort;
    std::string SocksUsercode;
    std::string SocksPassword;
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;

    // Published events.
    THttpNotifyEvent OnTrace;  // kept for the form description; never raised
    THttpNotifyEvent OnSessionConnected;
    THttpNotifyEvent OnSessionClosed;
    THttpNotifyEvent OnHeaderData;
    TOnCommand OnCommand;
    THttpNotifyEvent OnHeaderBegin;
    THttpNotifyEvent OnHeaderEnd;
    THttpNotifyEvent OnRequestHeaderBegin;
    THttpNotifyEvent OnRequestHeaderEnd;
    THttpNotifyEvent OnDocBegin;
    THttpNotifyEvent OnDocEnd;
    TDocDataEvent OnDocData;
    THttpNotifyEvent OnSendBegin;
    THttpNotifyEvent OnSendEnd;
    TDocDataEvent OnSendData;
    THttpNotifyEvent OnStateChange;
    THttpRequestDone OnRequestDone;
    THttpNotifyEvent OnLocationChange;
    TCookieRcvdEvent OnCookie;
    THttpDataAvailable OnDataPush;
    THttpNotifyEvent OnDataPush2;
    THttpSessionConnected OnSocksConnected;
    THttpSocksErrorEvent OnSocksError;
    std::function<void(THttpCli* Sender, TSocksAuthState AuthState)>
        OnSocksAuthState;  // never raised
    THttpNotifyEvent OnSocketError;
    TBeforeHeaderSendEvent OnBeforeHeaderSend;
    TLocationChangeExceeded OnLocationChangeExceeded;

    // Public state.
    THttpCliState State() const { return state_; }
    int StatusCode() const { return response_.statusCode; }
    const std::string& StatusReason() const { return response_.statusReason; }
    std::int64_t DocumentLength() const {
        return response_.documentLength;
    }  // -1 when not announced
    const std::string& ContentType() const { return response_.contentType; }
    std::int64_t BodyReceivedCount() const { return response_.bodyReceivedCount; }
    const std::vector<std::string>& ResponseHeaderLines() const { return response_.headerLines; }
    const std::string& Location() const { return location_; }
    const std::string& DocumentName() const { return documentName_; }
    // The scheme sent before any challenge, for the server and for the proxy.
    THttpAuthScheme ServerAuthScheme = httpSchemeNone;
    THttpAuthScheme ProxyAuthScheme = httpSchemeNone;
    platform::Stream* BodyStream = nullptr;    // not owned
    platform::Stream* UploadStream = nullptr;  // not owned; read from its position

    // Operations.
    void Get();
    // Get without the wait: the request runs on the message loop and ends with OnRequestDone.
    void StartGet();
    void RunRequest(THttpRequest Rq);
    void StartRequest(THttpRequest Rq);
    void Abort();
    // What RunRequest raises once the last request has ended: its failed status, or a failure the
    // client found itself; nothing when it succeeded.
    std::optional<EHttpException> RequestFailure() const;

    TWSocket& CtrlSocket() { return *ctrlSocket_; }

  protected:
    // With the control socket given (a test's or fuzzer's stand-in); nullptr makes the real one.
    THttpCli(platform::TComponent* owner, std::unique_ptr<TWSocket> controlSocket);

    // Bytes held in the receive buffer and not yet taken as lines or body.
    int ReceiveFill() const { return receiveFill_; }

    // Trace hooks: the lines go to the control socket's logger, when one is attached.
    virtual void LogLine(TLogOption Option, const std::string& Msg);
    virtual bool LogEnabled(TLogOption Option);

    virtual void ApplyConnectSettings();
    virtual void SendRequest(const std::string& Method, const std::string& Version);
    virtual void HandleHeaderLine();
    virtual void GetBodyLineNext();
    virtual void WriteRequestLine(const std::string& Line);
    virtual void Login();
    virtual void DropConnection();
    virtual void ResetResponseState();
    virtual void BeginRelocation();
    // Answers to a challenge, one step of each exchange per call; entered in a state they do not
    // expect they raise EHttpException with httpErrAuthState.
    virtual void BeginServerNtlm();
    virtual void BeginProxyNtlm();
    virtual void BeginServerBasic();
    virtual void BeginProxyBasic();
    virtual void ControlLookupDone(std::uint16_t ErrCode);
    virtual void ControlSessionClosed(std::uint16_t ErrCode);
    virtual void ControlSessionConnected(std::uint16_t ErrCode);
    virtual void ControlDataSent(std::uint16_t ErrCode);
    virtual void ControlDataAvailable(std::uint16_t ErrCode);
    virtual void RelocationSessionClosed(std::uint16_t ErrCode);
    virtual void EnterState(THttpCliState NewState);
    virtual void RaiseStateChange();
    virtual void RaiseCookie(const std::string& Data, bool& Accept);
    virtual void RaiseSessionConnected();
    virtual void RaiseSessionClosed();
    virtual void RaiseBeforeHeaderSend(const std::string& Method,
                                       std::vector<std::string>& Headers);
    virtual void RaiseRequestHeaderBegin();
    virtual void RaiseRequestHeaderEnd();
    virtual void RaiseHeaderBegin();
    virtual void RaiseHeaderEnd();
    virtual void RaiseDocBegin();
    virtual void RaiseDocData(const char* Buffer, int Len);
    virtual void RaiseDocEnd();
    virtual void RaiseSendBegin();
    virtual void RaiseSendData(const char* Buffer, int Len);
    virtual void RaiseSendEnd();
    virtual void PostRequestDone();
    virtual platform::LRESULT HandleWindowMessage(platform::UINT Msg, platform::WPARAM WParam,
                                                  platform::LPARAM LParam);
    virtual void BecomeReady();
    virtual void NormaliseDocumentName();

    THttpNtlmAuthState AuthNtlmState() const { return serverAuth_.ntlm; }
    THttpNtlmAuthState ProxyAuthNtlmState() const { return proxyAuth_.ntlm; }
    THttpBasicAuthState AuthBasicState() const { return serverAuth_.basic; }
    THttpBasicAuthState ProxyAuthBasicState() const { return proxyAuth_.basic; }

  private:
    static constexpr int kReceiveBufferSize = 8194;
    static constexpr int kReceiveRoom = 8190;  // held at most; the rest keeps the zero byte
    static constexpr int kSendBlockSize = 8193;

    // The line is only put together when it is wanted: most lines are written per received block.
    template <typename... Parts>
    void Trace(TLogOption option, const Parts&... parts) {
        if (!LogEnabled(option)) return;
        std::string line;
        (AppendTracePart(line, parts), ...);
        LogLine(option, line);
    }
    static void AppendTracePart(std::string& line, std::string_view part) { line += part; }
    static void AppendTracePart(std::string& line, std::int64_t number) {
        line += std::to_string(number);
    }
    void HookSocketEvents();
    void HookControlSessionClosed();
    void PostToSelf(platform::UINT message);
    void RaiseRequestDone();

    // Target and reuse (http_target.cpp).
    void ComputeTarget();
    bool SameAsLastConnection() const;

    // The end of a request (http_cli.cpp). A response has ended: it is answered for
    // authentication, or the request ends. EndRequest is the only way back to ready; it reports
    // the outcome once, from the message loop unless reportAtOnce.
    void ResponseEnded();
    void EndRequest(bool reportAtOnce = false);

    // Lifecycle helpers (http_lifecycle.cpp).
    bool RequestInProgress() const { return state_ != httpReady; }
    void WaitUntilReady();
    bool SocksServerLooksUpHost() const;
    void ConnectAfterLookup(const std::string& address);
    void ConnectResolved();
    void ConnectFailedAtOnce();
    void LookupRefused(const std::string& reason, std::uint16_t errCode);
    bool ResponseIncomplete(std::uint16_t closeError) const;
    // A failure of the connection: OnRequestDone's ErrCode, and the status that tells it.
    void NoteConnectionFailure(std::uint16_t errCode, int status, const std::string& reason);
    void FailRequest(std::uint16_t code, const std::string& message);

    // Reception (http_response.cpp).
    bool ReceiveIntoBuffer(int& count);  // false when nothing is to be processed
    void ProcessHeldData(std::uint16_t ErrCode);
    bool TakeLine();
    void ConsumeHeld(int count);
    void OfferHeldDataToBody();
    void FinishOfferedBody();
    void ParseStatusLine(const std::string& line);
    void ParseHeaderField(const std::string& line);
    void TakeTransferCodings(const std::string& value);
    void EndOfHeader();
    void StartHeaderlessDocument(const std::string& line);
    void FailProtocol(const std::string& reason);

    // Bandwidth control (http_bandwidth.cpp).
    void CheckBandwidthSettings() const;  // throws when the option is on with unusable values
    void PrepareBandwidthControl();
    void CountReceivedBytes(int count);
    void BandwidthTick();
    void StopBandwidthTimer();
    void LiftBandwidthPause();
    bool IsBandwidthTick(platform::UINT Msg, platform::WPARAM WParam) const;

    // Body (http_body.cpp).
    void DeliverBody(const char* data, int length);
    void ReadChunkedBlock();
    void EndOfDocument();
    bool AbortedDuringEvent() const { return state_ == httpReady; }

    // The CONNECT tunnel through the proxy for https (http_tunnel.cpp).
    bool TunnelNeeded() const { return !Proxy.empty() && urlScheme_ == "https"; }
    std::string TunnelOrigin() const;      // "host:port" of the origin server
    std::string TargetPathToSend() const;  // inside a tunnel, the path alone
    void OpenTunnel();
    void ReadTunnelAnswer();
    void TakeTunnelRefusal();

    // Relocation (http_relocation.cpp).
    std::string RequestAddress() const;  // the absolute address the request asks for
    void HandleLocationHeader(const std::string& value);
    void SetRelocationTarget(const std::string& target);
    bool RelocationAllowed();
    void CutBodyStreamBack();
    void PostLogin();
    void RewindUploadStream();

    // Authentication (http_auth.cpp).
    // One side's exchanges: the server's (answering 401) or the proxy's (answering 407).
    struct AuthSide {
        THttpNtlmAuthState ntlm = ntlmIdle;
        THttpBasicAuthState basic = basicIdle;
        NtlmChallengeInfo challenge;
    };
    // The server a request goes to, as far as credentials are concerned.
    struct Origin {
        std::string scheme, host, port;
        bool operator==(const Origin&) const = default;
    };
    Origin RequestOrigin() const;
    void PrearmAuthentication();
    bool KeepAliveNeededForNtlm() const;
    bool NtlmNegotiateOutstanding() const;
    bool BasicRefusedOverPlainRelocation() const;
    void GuardCredentialsOnRelocation(const Origin& previous, const std::string& location);
    void FinishNtlmOnRelocation();
    std::string ServerAuthorizationLine();
    std::string ProxyAuthorizationLine();
    bool AnswerChallenge();  // true when a retry is posted
    bool SchemeAllowed(THttpCliOption forbidding, THttpAuthScheme scheme) const;
    bool CanAnswer(const char* scheme, bool otherSchemeIdle) const;
    bool PrepareNTLMAuth(bool& FlushFlag);
    bool ComposeBasicCredentials(bool& FlushFlag);
    void StepNtlm(AuthSide& side, std::string& connection, const char* startTrace,
                  const char* unexpected);
    void StepBasic(AuthSide& side, const char* startTrace, const char* unexpected);
    void DiscardRefusedResponse();

    std::unique_ptr<TWSocket> ctrlSocket_;
    platform::HWND window_ = 0;

    // Property storage.
    std::string acceptRanges_;
    bool multiThreaded_ = false;
    std::string requestVer_ = "1.0";
    int locationChangeCurCount_ = 0;
    THttpCliOptions options_;

    // Connection target and the memory of the last connection.
    std::string connectHost_, connectPort_, urlHost_, urlPort_, urlScheme_, targetPath_;
    std::string proxyConnectPort_;  // the proxy's port, kept for relocations through it
    std::string previousHost_, previousPort_, previousScheme_;
    std::string effectiveUser_, effectivePassword_, effectiveConnection_, effectiveProxyConnection_;
    std::string resolvedAddress_;
    std::string userScheme_;    // the scheme of URL, kept while relocations change the target
    std::string tunnelOrigin_;  // where the open tunnel leads

    // Authentication.
    AuthSide serverAuth_, proxyAuth_;

    // The current request.
    THttpRequest currentRequest_ = httpRqNone;
    // How the request ends: set where it fails, reported by the one exit (EndRequest).
    struct RequestOutcome {
        std::uint16_t errCode = 0;  // the ErrCode of OnRequestDone
        std::uint16_t failure = 0;  // a failure the client found itself, raised by Get
        std::string message;        // the failure's text
    };
    RequestOutcome outcome_;
    bool requestDonePosted_ = false;  // the request has ended; its OnRequestDone is on its way
    THttpCliState state_ = httpReady;
    void (THttpCli::*nextStep_)() = nullptr;
    bool closeReq_ = false;  // the server closes the connection after this response
    bool relocationPending_ = false;
    bool loginPosted_ = false;          // a login message is on its way; an abort cancels it
    bool socketErrorReported_ = false;  // the socket raised OnError since this was cleared
    bool headerInProgress_ = false;
    bool sendPermitted_ = false;
    std::int64_t bodyBytesSent_ = 0;
    std::string requestHeaderBuffer_;
    char sendBlock_[kSendBlockSize];

    // The response.
    char receiveBuffer_[kReceiveBufferSize];
    int receiveFill_ = 0;
    std::string lastResponseLine_;
    const char* bodyBlock_ = nullptr;
    int bodyDataLen_ = 0;
    // What one response said, cleared as a whole for each new one.
    struct ResponseFields {
        std::vector<std::string> headerLines;
        int headerLinesSeen = 0;  // -1 after an interim answer: its end raises no event
        int bodyLinesSeen = 0;    // body blocks read; 0 until the document begins
        int statusCode = 0;
        std::string statusReason;
        std::int64_t documentLength = -1;
        std::int64_t bodyReceivedCount = 0;
        std::string contentType, contentCodingHeader;
        bool chunked = false;  // the last transfer coding is chunked: the chunks frame the body
        std::vector<std::string> authChallenges;  // both headers' values, in arrival order
        std::optional<std::string> location;      // acted on once the status is known to mean it
    };
    ResponseFields response_;
    std::string responseVersion_;  // kept across requests: NTLM asks what the peer spoke last
    std::string location_;
    std::string documentName_;
    TChunkDecoder chunkDecoder_;
    std::int64_t streamStartSize_ = 0;

    TBandwidthThrottle throttle_;
    THttpContCodHandler contentCoding_;
};
