// TCustomTlsWSocket: the TLS layer of the socket chain. With SslEnable set, the handshake starts
// when the connected notification reaches this layer (after the TCP connect and, through a SOCKS
// server, after its negotiation), and the user hears OnSessionConnected only once the handshake
// has ended: with 0, or with the handshake's error number (SslErrorText says why) followed by
// OnSessionClosed. From then on Send, Receive, RcvdCount, OnDataAvailable and OnDataSent carry
// the plain text; the send chain below holds the encrypted records. Everything runs from the
// loop's notifications. With no TLS session in progress every step passes straight through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "socket/tls_session.h"
#include "socket/socks_wsocket.h"

// Error numbers of the TLS layer, passed as ErrCode like the socket errors.
constexpr std::uint16_t tlsErrHandshake = 20101;    // the handshake failed or the peer broke it off
constexpr std::uint16_t tlsErrCertificate = 20102;  // the peer's certificate was not accepted
constexpr std::uint16_t tlsErrSetup = 20103;        // no session could be prepared (CA file)
constexpr std::uint16_t tlsErrUncleanClose = 20104;  // the peer closed without close_notify
constexpr std::uint16_t tlsErrProtocol = 20105;      // a broken record or alert after the handshake

constexpr bool IsTlsError(std::uint16_t code) {
    return code >= tlsErrHandshake && code <= tlsErrProtocol;
}

class TCustomTlsWSocket : public TCustomSocksWSocket {
    using Inherited = TCustomSocksWSocket;

  public:
    using Inherited::Inherited;
    ~TCustomTlsWSocket() override;

    // Settings, read when a handshake starts.
    bool SslEnable() const { return FSslEnable; }
    void SetSslEnable(bool value) { FSslEnable = value; }
    // The name the certificate must carry (and the SNI sent); Addr when empty.
    const std::string& SslServerName() const { return FSslServerName; }
    void SetSslServerName(const std::string& value) { FSslServerName = value; }
    // A file of CA certificates trusted besides the system's trust store.
    const std::string& SslExtraCaFile() const { return FSslExtraCaFile; }
    void SetSslExtraCaFile(const std::string& value) { FSslExtraCaFile = value; }

    // Why the last TLS session failed ("certificate verify failed: host name mismatch"); empty
    // while none has.
    const std::string& SslErrorText() const { return FSslErrorText; }
    bool SslEstablished() const { return FTlsPhase == tlsEstablished; }
    // Starts TLS on a connection that is already up (a tunnel through a proxy): the handshake
    // ends in OnSessionConnected as after a connect.
    void StartSslHandshake();

    void Connect() override;
    void Dup(platform::SOCKET newHandle) override;
    void CloseWithError(bool shutdown, std::uint16_t errCode) override;
    int GetRcvdCount() override;
    bool HandleDataAvailable(std::uint16_t errCode) override;
    void HandleSessionConnected(std::uint16_t errCode) override;
    void HandleSessionClosed(std::uint16_t errCode) override;
    void TriggerDataSent(std::uint16_t errCode) override;
    int ReceiveLowLevel(void* buffer, int size, int flags) override;
    void ProcessCloseEvent(const TMessage& msg) override;
    void Shutdown(int how) override;
    int Resume() override;
    void QueueSendData(const void* data, int len) override;

  protected:
    // Received records wait in the session: reading on takes them without a notification.
    bool HoldsUnreadRecords() const;

  private:
    // The phase and the flags that may hold in it (all are cleared when a handshake starts):
    //   tlsOff          no session; no flag means anything
    //   tlsHandshaking  FInputEnded (the peer closed), FDataSentHeld (a write event came)
    //   tlsEstablished  FInputEnded, FCloseNotifySent (our Shutdown), FDataSentHeld until posted
    //   tlsEnded        FCloseNotifyReceived (only here), FInputEnded, FCloseNotifySent
    enum TTlsPhase : std::uint8_t {
        tlsOff,          // no session: every step passes through
        tlsHandshaking,  // waiting for the peer's handshake messages
        tlsEstablished,  // plain text flows both ways
        tlsEnded,        // failed, or closed by the peer's close_notify; the close follows
    };
    // The one way the phase changes.
    void EnterPhase(TTlsPhase phase);
    enum class TPull { Fed, WouldBlock, Failed };

    bool SessionIs(unsigned generation) const { return FTlsGeneration == generation && FSession; }
    std::string PeerName() const { return FSslServerName.empty() ? FAddrSpec : FSslServerName; }
    void EndSession();
    void DriveHandshake();
    void HandshakeDone();
    void FailHandshake(std::uint16_t code, const std::string& text);
    // Reads what the connection holds into the session; Failed leaves the error in LastError.
    TPull PullInput();
    int ReadPlain(char* buffer, int size);
    void DrainPlain();
    void Encrypt(const char* data, int len);
    // Hands the session's records to the send chain and sends what the connection takes.
    void SendSessionOutput();
    void MoveOutputToChain();
    // Offers the plain text held in the session again from the loop, as a new read event.
    void OfferLater();
    void PostCloseEvent(std::uint16_t errCode);
    void LogSsl(TLogOption option, const std::string& text);

    bool FSslEnable = false;
    std::string FSslServerName;
    std::string FSslExtraCaFile;
    std::string FSslErrorText;

    std::unique_ptr<TlsSession> FSession;
    TTlsPhase FTlsPhase = tlsOff;
    // Counts sessions, so that code below an event can tell whether its session is still there.
    unsigned FTlsGeneration = 0;
    std::string FPlainBeforeHandshake;
    long long FPlainReadCount = 0;
    bool FInputEnded = false;
    bool FCloseNotifyReceived = false;
    bool FCloseNotifySent = false;
    bool FDataSentHeld = false;  // a write event came during the handshake
    bool FOffering = false;
    bool FOfferPosted = false;
    bool FClosingLocally = false;
    bool FDrainingForClose = false;
};
