// TWSocket: the published socket class.
//
// The SOCKS, line-mode and synchronous-wait layers are not built yet. Until they are, TWSocket
// sits directly on TCustomWSocket and holds the SOCKS settings as plain values that change
// nothing: with SocksServer empty, as the HTTP client leaves it, the SOCKS layer passes every
// notification through anyway.
#pragma once

#include "socket/wsocket.h"

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthBegin, socksAuthAccepted, socksAuthClosed, socksAuthNotNeeded };

using TSocksErrorEvent =
    std::function<void(TCustomWSocket* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomWSocket* Sender, TSocksAuthState AuthState)>;

class TWSocket : public TCustomWSocket {
  public:
    using TCustomWSocket::TCustomWSocket;

    const std::string& SocksServer() const { return FSocksServer; }
    void SetSocksServer(const std::string& value) { FSocksServer = value; }
    const std::string& SocksPort() const { return FSocksPort; }
    void SetSocksPort(const std::string& value) { FSocksPort = value; }
    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& value) { FSocksLevel = value; }
    const std::string& SocksUsercode() const { return FSocksUsercode; }
    void SetSocksUsercode(const std::string& value) { FSocksUsercode = value; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& value) { FSocksPassword = value; }
    TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication value) { FSocksAuthentication = value; }

    TSessionConnected OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

  private:
    std::string FSocksServer;
    std::string FSocksPort;
    std::string FSocksLevel = "5";
    std::string FSocksUsercode;
    std::string FSocksPassword;
    TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
};
