#include "tests/socket/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "platform/message_loop.h"
#include "socket/socket_errors.h"
#include "tests/support/loopback_port.h"

namespace {

int OpenListener(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    port = ntohs(test_support::BindLoopback(fd).sin_port);
    if (::listen(fd, 16) != 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    return fd;
}
}  // namespace

Listener::Listener() {
    fd_ = OpenListener(port_);
}

Listener::~Listener() {
    ::close(fd_);
}

int Listener::Accept() {
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, 5000) != 1) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        platform::WaitForInput(20);
        platform::ProcessPendingMessages();
    }
    return true;
}

void PumpPending() {
    for (int round = 0; round < 5; ++round) {
        platform::WaitForInput(10);
        platform::ProcessPendingMessages();
    }
}

void WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("write failed");
        done += static_cast<std::size_t>(n);
    }
}

std::string ReadExactly(int fd, std::size_t count) {
    std::string data;
    char block[65536];
    while (data.size() < count) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 5000) != 1) break;
        ssize_t n = ::recv(fd, block, std::min(sizeof block, count - data.size()), 0);
        if (n <= 0) break;
        data.append(block, static_cast<std::size_t>(n));
    }
    return data;
}

std::string ReadToEnd(int fd) {
    return ReadExactly(fd, std::string::npos);
}

void ResetAndClose(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

std::string ClosedPort() {
    return std::to_string(test_support::ClosedLoopbackPort());
}

const char* StateName(TSocketState state) {
    static const char* const names[] = {"wsInvalidState", "wsOpened",         "wsBound",
                                        "wsConnecting",   "wsSocksConnected", "wsConnected",
                                        "wsAccepting",    "wsListening",      "wsClosed"};
    return names[state];
}

EventLog::EventLog(TCustomWSocket& socket) : socket_(socket) {
    auto record = [this](const std::string& name) {
        return [this, name](TCustomWSocket*, std::uint16_t errCode) {
            events.push_back(name + " " + std::to_string(errCode));
        };
    };
    socket.OnChangeState = [this](TCustomWSocket*, TSocketState, TSocketState now) {
        events.push_back(std::string("state ") + StateName(now));
    };
    socket.OnSessionConnected = record("connected");
    socket.OnSessionClosed = record("closed");
    socket.OnDataSent = record("sent");
    socket.OnDnsLookupDone = record("lookup");
}

EventLog::~EventLog() {
    socket_.OnChangeState = nullptr;
    socket_.OnSessionConnected = nullptr;
    socket_.OnSessionClosed = nullptr;
    socket_.OnDataSent = nullptr;
    socket_.OnDnsLookupDone = nullptr;
}

int EventLog::Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

int ConnectTo(TWSocket& socket, Listener& listener, const std::string& host) {
    socket.SetAddr(host);
    socket.SetPort(listener.Port());
    socket.Connect();
    int peer = listener.Accept();
    EXPECT_TRUE(PumpUntil([&] { return socket.State() == wsConnected; }));
    return peer;
}

std::string ErrorTextOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "no exception";
}

void ReceiveInto(TWSocket& socket, std::string& received, int blockSize) {
    socket.OnDataAvailable = [&received, blockSize](TCustomWSocket* sender, std::uint16_t) {
        std::string block(static_cast<std::size_t>(blockSize), '\0');
        int n = sender->Receive(block.data(), blockSize);
        if (n > 0) received.append(block, 0, static_cast<std::size_t>(n));
    };
}

void LoopbackTest::StartConnect(const std::string& port) {
    socket.SetAddr("127.0.0.1");
    socket.SetPort(port);
    socket.Connect();
}

void LoopbackTest::ClosePeer() {
    if (peer >= 0) ::close(peer);
    peer = -1;
}

void LoopbackTest::ExpectNextSessionClosesOnce() {
    int closed = log.Count("closed 0");
    ClosePeer();
    Connect();
    socket.Close();
    EXPECT_EQ(log.Count("closed 0"), closed + 1);
}
