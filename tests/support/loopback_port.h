// Ports on 127.0.0.1 for tests that open plain POSIX sockets of their own.
#pragma once

#include <netinet/in.h>

#include <cstdint>

namespace test_support {

// Binds fd to a port of the system's choice on 127.0.0.1 and returns that address; throws
// std::runtime_error when the system refuses.
sockaddr_in BindLoopback(int fd);

// A socket listening on 127.0.0.1 at a port of the system's choice, which goes to port; throws
// std::runtime_error when the system refuses.
int ListenOnLoopback(int backlog, std::uint16_t& port);

// The next connection accepted on listenFd (close-on-exec, plus extraFlags such as
// SOCK_NONBLOCK) within sliceMs, or -1: accept loops wait in slices to see their stop flag.
int AcceptWithin(int listenFd, int sliceMs, int extraFlags = 0);

// A port on 127.0.0.1 where nothing listens.
std::uint16_t ClosedLoopbackPort();

}  // namespace test_support
