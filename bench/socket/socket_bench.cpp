// Moves 1 GiB through a loopback connection twice: between two of our sockets, each on its own
// thread and message loop, and with a plain blocking read/write loop on two threads. Prints the
// throughput and the process CPU time of each.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "socket/socket_library.h"
#include "socket/twsocket.h"
#include "tests/support/loopback_port.h"

namespace {

constexpr long long kTotal = 1LL << 30;
constexpr int kBlock = 64 * 1024;
constexpr int kSendChunk = 1460;

struct Figures {
    double seconds;
    double cpuSeconds;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <typename Run>
Figures Measure(Run run) {
    double cpu = CpuSeconds();
    auto start = std::chrono::steady_clock::now();
    run();
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), CpuSeconds() - cpu};
}

void Print(const char* name, const Figures& figures) {
    std::printf("%-24s %8.1f MB/s  %6.2f s wall  %6.2f s CPU\n", name,
                kTotal / 1e6 / figures.seconds, figures.seconds, figures.cpuSeconds);
}

void PlainLoop(int writeSize) {
    std::uint16_t port = 0;
    int listener = test_support::ListenOnLoopback(1, port);
    std::thread writer([port, writeSize] {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        std::vector<char> block(static_cast<std::size_t>(writeSize), 'p');
        for (long long sent = 0; sent < kTotal;) {
            ssize_t n = ::write(fd, block.data(), block.size());
            if (n <= 0) break;
            sent += n;
        }
        ::close(fd);
    });
    int fd = ::accept(listener, nullptr, nullptr);
    std::vector<char> block(kBlock);
    for (long long received = 0; received < kTotal;) {
        ssize_t n = ::read(fd, block.data(), block.size());
        if (n <= 0) break;
        received += n;
    }
    writer.join();
    ::close(fd);
    ::close(listener);
}

// Runs the thread's loop for a socket until done is set.
void PumpUntil(TCustomWSocket& socket, const std::atomic<bool>& done) {
    while (!done) {
        platform::WaitForInput(100);
        socket.PumpMessages();
    }
}

void OurSockets() {
    using namespace platform;
    std::atomic<int> port{0};
    std::atomic<bool> received{false};
    std::atomic<bool> sent{false};

    std::thread receiver([&] {
        TWSocket socket;
        socket.SetMultiThreaded(true);
        // The listening end uses the socket library directly; the accepted handle is adopted.
        SOCKET listener = WSocket_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        platform::u_long blocking = 0;
        WSocket_ioctlsocket(listener, FIONBIO, &blocking);
        WSocket_bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        WSocket_listen(listener, 1);
        WSocket_getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = WSocket_ntohs(address.sin_port);
        SOCKET accepted = WSocket_accept(listener, nullptr, nullptr);
        WSocket_closesocket(listener);

        long long count = 0;
        std::vector<char> block(kBlock);
        socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
            int n = sender->Receive(block.data(), kBlock);
            if (n > 0) count += n;
            if (count >= kTotal) {
                sender->Close();
                received = true;
            }
        };
        socket.Dup(accepted);
        PumpUntil(socket, received);
    });

    std::thread sender([&] {
        TWSocket socket;
        socket.SetMultiThreaded(true);
        std::vector<char> block(kBlock, 'w');
        long long queued = 0;
        socket.OnDataSent = [&](TCustomWSocket* s, std::uint16_t) {
            if (queued >= kTotal) return;
            s->Send(block.data(), kBlock);
            queued += kBlock;
        };
        socket.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { sent = true; };
        while (port == 0)
            std::this_thread::yield();
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(port));
        socket.Connect();
        PumpUntil(socket, sent);
    });
    receiver.join();
    sender.join();
}

}  // namespace

int main() {
    std::printf("1 GiB over loopback, blocks of %d bytes\n", kBlock);
    Figures plain = Measure([] { PlainLoop(kBlock); });
    // The sockets hand the platform 1460 bytes per send (their buffer size); this shows what
    // that costs a plain loop.
    Figures plainSmall = Measure([] { PlainLoop(kSendChunk); });
    Figures ours = Measure(OurSockets);
    Print("plain blocking loop", plain);
    Print("plain, 1460-byte writes", plainSmall);
    Print("TWSocket pair", ours);
    std::printf("TWSocket pair / plain loop: %.0f %%\n", 100.0 * plain.seconds / ours.seconds);
    std::printf("TWSocket pair / plain loop with 1460-byte writes: %.0f %%\n",
                100.0 * plainSmall.seconds / ours.seconds);
    return 0;
}
