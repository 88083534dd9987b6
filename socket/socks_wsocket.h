// TCustomSocksWSocket: the SOCKS layer of the socket chain. With a SOCKS server set, Connect
// opens the connection to that server, the negotiation (SOCKS 5 with optional user code and
// password, SOCKS 4 or 4A) runs inside the socket, and only then does the session count as
// connected: OnSessionConnected, and so every layer above that waits for HandleSessionConnected,
// comes after the final SOCKS answer. Negotiation bytes never reach OnDataAvailable; bytes that
// arrive behind the final answer are served first by the next reads. With no SOCKS server set
// every step passes straight through to TCustomWSocket.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "socket/socks_messages.h"
#include "socket/wsocket.h"

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthBegin, socksAuthAccepted, socksAuthClosed, socksAuthNotNeeded };

using TSocksErrorEvent =
    std::function<void(TCustomWSocket* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomWSocket* Sender, TSocksAuthState AuthState)>;

class TCustomSocksWSocket : public TCustomWSocket {
  public:
    using TCustomWSocket::TCustomWSocket;

    // Settings; the server, port and level may change only while closed, and every close sets
    // them back to no server, no port and level "5".
    const std::string& SocksServer() const { return FSocksServer; }
    virtual void SetSocksServer(const std::string& value);
    const std::string& SocksPort() const { return FSocksPort; }
    virtual void SetSocksPort(const std::string& value);
    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& value);  // "4", "4A" (or "4a") or "5"
    const std::string& SocksUsercode() const { return FSocksUsercode; }
    void SetSocksUsercode(const std::string& value) { FSocksUsercode = value; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& value) { FSocksPassword = value; }
    TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication value) { FSocksAuthentication = value; }

    TSessionConnected OnSocksConnected;  // the connection to the SOCKS server opened or failed
    TSocksErrorEvent OnSocksError;       // the negotiation failed
    TSocksAuthStateEvent OnSocksAuthState;

    void InitDefaults() override;
    int GetRcvdCount() override;
    bool HandleDataAvailable(std::uint16_t errCode) override;
    void HandleConnected(std::uint16_t errCode) override;
    void HandleSessionClosed(std::uint16_t errCode) override;
    void TriggerDataSent(std::uint16_t errCode) override;
    int ReceiveLowLevel(void* buffer, int size, int flags) override;
    void Connect() override;
    void Listen() override;

    virtual void HandleSocksConnected(std::uint16_t errCode);
    virtual void HandleSocksError(int error, const std::string& msg);

  protected:
    // While true the layer reads the connection itself; the layers above must stand aside.
    // False once an event handler has closed the socket or ended the negotiation.
    bool Negotiating() const { return FSocksPhase != socksIdle && FState == wsConnected; }

  private:
    enum TSocksPhase : std::uint8_t {
        socksIdle,            // no negotiation: every step passes through
        socksGreeting,        // waiting for the TCP connect, then for the SOCKS 5 method choice
        socksAuthenticating,  // user code and password sent, waiting for the verdict
        socksRequesting,      // connect request sent, waiting for the answer
    };
    static constexpr int kReplyBufferSize = 512;
    static_assert(kReplyBufferSize > socks::kLongestReply, "every answer fits whole");

    void EnterPhase(TSocksPhase phase);
    bool Socks4Family() const { return !FSocksLevel.empty() && FSocksLevel[0] == '4'; }
    void HandleSocksAuthState(TSocksAuthState state);
    // Reads what the current reply may take into the reply buffer; false when nothing came.
    bool ReadReply(socks::ReplyKind kind);
    void TakeMethodSelection();
    void TakeAuthAnswer();
    bool TakeConnectAnswer();
    void SendUsercode();
    void SendConnectRequest();
    // Sends a request, or fails the negotiation with its refusal before anything goes out.
    void SendRequest(const socks::Request& request);
    // Ends the negotiation: the session is connected, bytes behind the answer are offered.
    bool Succeed(int replyLength);
    // The one way out of a failed negotiation: OnSocksError, OnSessionConnected and
    // OnSessionClosed, all with the code.
    void Fail(std::uint16_t code, const std::string& message);

    std::string FSocksServer;
    std::string FSocksPort;
    std::string FSocksLevel = "5";
    std::string FSocksUsercode;
    std::string FSocksPassword;
    TSocksAuthentication FSocksAuthentication = socksNoAuthentication;

    TSocksPhase FSocksPhase = socksIdle;
    bool FSocksInUse = false;
    std::uint8_t FSocksOfferedMethod = 0;
    std::uint16_t FSocksDestinationPort = 0;
    std::uint8_t FSocksReplyBuffer[kReplyBufferSize] = {};
    int FSocksReplyCount = 0;
    int FSocksLeftoverCount = 0;
    const std::uint8_t* FSocksLeftoverPtr = nullptr;
    bool FSocksDataSentHeld = false;  // a write event came during the negotiation
};
