// A scripted TLS server for tests that need one to misbehave: in-process on 127.0.0.1, one script
// per expected connection, in the order of acceptance. A script completes the handshake with the
// given certificate, reads one request (up to its blank line), sends its response and ends the
// connection with close_notify or by a bare TCP close; or it skips TLS and sends its bytes in
// clear at once. A handshake that fails leaves the client time to read the server's alert. A
// server may host a second name, whose certificate goes to the clients that ask for that name
// (SNI). A connection without a script is closed at once. Every wait is bounded (5 s per read,
// 50 ms polls while idle); the destructor ends all of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/test_certificates.h"

struct ssl_ctx_st;

namespace test_support {

enum class TlsEnding { CloseNotify, CutWithoutNotify, Reset };

struct TlsScript {
    std::string response;
    TlsEnding ending = TlsEnding::CloseNotify;
    bool inClear = false;  // no handshake: the response goes out as it stands
    int maxVersion = 0;    // the highest TLS version offered (e.g. TLS1_1_VERSION); 0: any
    bool requireClientCertificate = false;  // the handshake fails without one
};

class TlsTestServer {
  public:
    explicit TlsTestServer(const CertificateAndKey& identity);  // throws when it cannot listen
    // Clients that name sniName get sniIdentity, the others identity.
    TlsTestServer(const CertificateAndKey& identity, const std::string& sniName,
                  const CertificateAndKey& sniIdentity);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Url(const std::string& path) const;  // "https://127.0.0.1:<port>" + path
    void AddConnection(TlsScript script);
    std::vector<std::string> Requests() const;

  private:
    void AcceptLoop();
    void Serve(int fd, TlsScript script);

    std::shared_ptr<void> context_;
    std::shared_ptr<void> sniContext_;
    std::pair<std::string, ssl_ctx_st*> hosted_;  // the second name and its context
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::deque<TlsScript> scripts_;
    std::vector<std::string> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

}  // namespace test_support
