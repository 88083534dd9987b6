// A SOCKS 5, 4 and 4A server for tests, in-process on 127.0.0.1 at an ephemeral port. It looks
// destination names up only in its own table, so a test can name hosts that the local resolver
// does not know; it records every connect request and then relays the connection's bytes both
// ways. It takes SOCKS 5 clients without authentication.
//
// The server runs in its own threads (one acceptor, one per connection) on plain POSIX sockets.
// Every wait is bounded: Stop(), which the destructor calls, ends all of them within tens of
// milliseconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

class ScriptedSocksServer {
  public:
    struct Settings {
        std::map<std::string, std::string> names;  // destination name → dotted address
    };
    struct ConnectRequest {
        int version = 0;   // 4 (4A included) or 5
        std::string host;  // as the client sent it: a name, or the address in dotted form
        std::uint16_t port = 0;
        std::string usercode;  // the SOCKS 4 user id
    };

    explicit ScriptedSocksServer(Settings settings = {});  // throws std::runtime_error
    ~ScriptedSocksServer();
    ScriptedSocksServer(const ScriptedSocksServer&) = delete;
    ScriptedSocksServer& operator=(const ScriptedSocksServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::vector<ConnectRequest> Requests() const;
    void Stop();

  private:
    void AcceptLoop();
    void Serve(int client);
    // The destination's descriptor after the negotiation, or -1 once the client was refused.
    int Negotiate(int client);
    int NegotiateSocks5(int client);
    int NegotiateSocks4(int client);
    int ConnectDestination(const ConnectRequest& request);
    void Relay(int client, int destination);
    bool ReadBytes(int fd, std::size_t count, std::string& into);
    bool ReadUntilZero(int fd, std::string& into);

    Settings settings_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<ConnectRequest> requests_;
    std::vector<std::thread> connectionThreads_;
    std::thread acceptor_;
};

}  // namespace test_support
