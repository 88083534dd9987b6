#include "tests/support/loopback_port.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace test_support {

int AcceptWithin(int listenFd, int sliceMs, int extraFlags) {
    pollfd entry{listenFd, POLLIN, 0};
    if (::poll(&entry, 1, sliceMs) <= 0) return -1;
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | extraFlags);
}

sockaddr_in BindLoopback(int fd) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a socket on 127.0.0.1");
    return address;
}

int ListenOnLoopback(int backlog, std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    port = ntohs(BindLoopback(fd).sin_port);
    if (::listen(fd, backlog) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    return fd;
}

std::uint16_t ClosedLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port = ntohs(BindLoopback(fd).sin_port);
    ::close(fd);
    return port;
}

}  // namespace test_support
