#include "tests/support/scripted_socks_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tests/support/loopback_port.h"
#include "tests/support/send_all.h"

namespace test_support {

namespace {

constexpr int kPollSliceMs = 20;

std::uint16_t PortAt(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
}

std::string DottedAt(const std::string& bytes, std::size_t at) {
    in_addr address;
    bytes.copy(reinterpret_cast<char*>(&address), 4, at);
    return inet_ntoa(address);
}

}  // namespace

ScriptedSocksServer::ScriptedSocksServer(Settings settings) : settings_(std::move(settings)) {
    listenFd_ = ListenOnLoopback(16, port_);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedSocksServer::~ScriptedSocksServer() {
    Stop();
}

void ScriptedSocksServer::Stop() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& thread : connectionThreads_)
        if (thread.joinable()) thread.join();
}

std::vector<ScriptedSocksServer::ConnectRequest> ScriptedSocksServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void ScriptedSocksServer::AcceptLoop() {
    while (!stopping_) {
        int fd = AcceptWithin(listenFd_, kPollSliceMs);
        if (fd >= 0) connectionThreads_.emplace_back([this, fd] { Serve(fd); });
    }
    close(listenFd_);
}

void ScriptedSocksServer::Serve(int client) {
    int destination = Negotiate(client);
    if (destination >= 0) {
        Relay(client, destination);
        close(destination);
    }
    close(client);
}

int ScriptedSocksServer::Negotiate(int client) {
    std::string version;
    if (!ReadBytes(client, 1, version)) return -1;
    if (version[0] == 5) return NegotiateSocks5(client);
    if (version[0] == 4) return NegotiateSocks4(client);
    return -1;
}

int ScriptedSocksServer::NegotiateSocks5(int client) {
    std::string bytes;
    if (!ReadBytes(client, 1, bytes) ||
        !ReadBytes(client, static_cast<unsigned char>(bytes[0]), bytes))
        return -1;
    if (bytes.find('\0', 1) == std::string::npos) {
        SendAll(client, {5, static_cast<char>(0xFF)});
        return -1;
    }
    if (!SendAll(client, {5, 0})) return -1;
    std::string request;
    if (!ReadBytes(client, 4, request)) return -1;
    ConnectRequest recorded{5, "", 0, ""};
    if (request[3] == 1) {
        if (!ReadBytes(client, 4, request)) return -1;
        recorded.host = DottedAt(request, 4);
    } else if (request[3] == 3) {
        if (!ReadBytes(client, 1, request) ||
            !ReadBytes(client, static_cast<unsigned char>(request[4]), request))
            return -1;
        recorded.host = request.substr(5);
    } else {
        return -1;
    }
    std::size_t portAt = request.size();
    if (!ReadBytes(client, 2, request)) return -1;
    recorded.port = PortAt(request, portAt);
    int destination = ConnectDestination(recorded);
    char code = destination >= 0 ? 0 : 4;  // host unreachable
    std::string reply{5, code, 0, 1, 127, 0, 0, 1};
    reply += request.substr(portAt, 2);
    if (!SendAll(client, reply) && destination >= 0) {
        close(destination);
        return -1;
    }
    return destination;
}

int ScriptedSocksServer::NegotiateSocks4(int client) {
    std::string request;
    if (!ReadBytes(client, 7, request) || !ReadUntilZero(client, request)) return -1;
    ConnectRequest recorded{4, DottedAt(request, 3), PortAt(request, 1), ""};
    recorded.usercode = request.substr(7, request.size() - 8);
    // 0.0.0.x (x not 0) announces a host name behind the user id.
    if (recorded.host.starts_with("0.0.0.") && recorded.host != "0.0.0.0") {
        std::string name;
        if (!ReadUntilZero(client, name)) return -1;
        recorded.host = name.substr(0, name.size() - 1);
    }
    int destination = ConnectDestination(recorded);
    std::string reply{0, static_cast<char>(destination >= 0 ? 90 : 91)};
    reply += request.substr(1, 6);
    if (!SendAll(client, reply) && destination >= 0) {
        close(destination);
        return -1;
    }
    return destination;
}

int ScriptedSocksServer::ConnectDestination(const ConnectRequest& request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    std::string address = request.host;
    if (auto known = settings_.names.find(address); known != settings_.names.end())
        address = known->second;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(request.port);
    if (inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Copies both ways; when one side ends its sending, the other side's sending is ended too.
void ScriptedSocksServer::Relay(int client, int destination) {
    const int fds[2] = {client, destination};
    bool reading[2] = {true, true};
    char buffer[16384];
    while (!stopping_ && (reading[0] || reading[1])) {
        pollfd ends[2] = {{reading[0] ? client : -1, POLLIN, 0},
                          {reading[1] ? destination : -1, POLLIN, 0}};
        if (poll(ends, 2, kPollSliceMs) < 0 && errno != EINTR) return;
        for (int from = 0; from < 2; ++from) {
            if (ends[from].fd < 0 || ends[from].revents == 0) continue;
            ssize_t count = recv(fds[from], buffer, sizeof buffer, 0);
            if (count <= 0) {
                shutdown(fds[1 - from], SHUT_WR);
                reading[from] = false;
            } else if (!SendAll(fds[1 - from],
                                std::string(buffer, static_cast<std::size_t>(count)))) {
                return;
            }
        }
    }
}

bool ScriptedSocksServer::ReadBytes(int fd, std::size_t count, std::string& into) {
    std::size_t wanted = into.size() + count;
    while (into.size() < wanted) {
        pollfd entry{fd, POLLIN, 0};
        if (stopping_) return false;
        int ready = poll(&entry, 1, kPollSliceMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char buffer[256];
        ssize_t read = recv(fd, buffer, std::min(sizeof buffer, wanted - into.size()), 0);
        if (read <= 0) return false;
        into.append(buffer, static_cast<std::size_t>(read));
    }
    return true;
}

bool ScriptedSocksServer::ReadUntilZero(int fd, std::string& into) {
    do {
        if (!ReadBytes(fd, 1, into)) return false;
    } while (into.back() != '\0');
    return true;
}

}  // namespace test_support
