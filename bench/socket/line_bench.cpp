// Line-mode throughput: 100 MB of 80-byte lines (CR LF included) sent over loopback by a plain
// writer thread, received once by a line-mode TWSocket (one OnDataAvailable and one Receive per
// line) and once by a plain recv loop that splits the same lines itself. Prints lines per second
// and the receiving thread's CPU time of each.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/message_loop.h"
#include "socket/twsocket.h"
#include "tests/support/loopback_port.h"

namespace {

constexpr int kLineLength = 80;
constexpr long long kTotal = 100'000'000;
constexpr long long kLineCount = kTotal / kLineLength;
constexpr int kLinesPerBlock = 12'500;  // 1 MB

struct Figures {
    double seconds;
    double cpuSeconds;
    long long lines;
};

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

std::string LineBlock() {
    std::string block;
    for (int i = 0; i < kLinesPerBlock; ++i) {
        std::string line = "line " + std::to_string(i) + " ";
        line.resize(kLineLength - 2, 'x');
        block += line + "\r\n";
    }
    return block;
}

// Connects to port on 127.0.0.1 and writes all lines.
std::thread StartWriter(int port) {
    return std::thread([port] {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect");
        const std::string block = LineBlock();
        for (long long sent = 0; sent < kTotal; sent += static_cast<long long>(block.size())) {
            for (std::size_t done = 0; done < block.size();) {
                ssize_t n = ::write(fd, block.data() + done, block.size() - done);
                if (n <= 0) throw std::runtime_error("write failed");
                done += static_cast<std::size_t>(n);
            }
        }
        ::close(fd);
    });
}

template <typename Receive>
Figures Measure(Receive receive) {
    double cpu = ThreadCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    long long lines = receive();
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), ThreadCpuSeconds() - cpu, lines};
}

long long PlainLoop() {
    std::uint16_t port = 0;
    int listener = test_support::ListenOnLoopback(1, port);
    std::thread writer = StartWriter(port);
    int fd = ::accept(listener, nullptr, nullptr);

    // Each complete line is copied out, as a line-mode reader hands it over.
    char block[65536];
    char line[kLineLength * 2];
    std::string partial;
    long long lines = 0;
    for (;;) {
        ssize_t n = ::read(fd, block, sizeof block);
        if (n <= 0) break;
        const char* p = block;
        const char* end = block + n;
        while (p < end) {
            auto* lf =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!lf) {
                partial.append(p, end);
                break;
            }
            std::size_t size = static_cast<std::size_t>(lf + 1 - p);
            if (!partial.empty()) {
                partial.append(p, size);
                std::memcpy(line, partial.data(), std::min(partial.size(), sizeof line));
                partial.clear();
            } else {
                std::memcpy(line, p, std::min(size, sizeof line));
            }
            if (line[0] == 'l') ++lines;
            p = lf + 1;
        }
    }
    writer.join();
    ::close(fd);
    ::close(listener);
    return lines;
}

long long LineModeSocket() {
    TWSocket listening;
    TWSocket session;
    listening.SetMultiThreaded(true);
    session.SetMultiThreaded(true);
    listening.SetAddr("127.0.0.1");
    listening.SetPort("0");
    listening.OnSessionAvailable = [&](TCustomWSocket*, std::uint16_t) {
        session.Dup(listening.Accept());
    };
    long long lines = 0;
    bool closed = false;
    char line[kLineLength * 2];
    session.SetLineMode(true);
    session.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        if (sender->Receive(line, sizeof line) > 0 && line[0] == 'l') ++lines;
    };
    session.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { closed = true; };
    listening.Listen();
    std::thread writer = StartWriter(std::stoi(listening.LocalPortText()));
    while (!closed) {
        platform::WaitForInput(100);
        session.PumpMessages();
    }
    writer.join();
    return lines;
}

void Print(const char* name, const Figures& figures) {
    std::printf("%-26s %10.0f lines/s  %7.1f MB/s  %6.2f s wall  %6.2f s CPU  (%lld lines)\n", name,
                figures.lines / figures.seconds, kTotal / 1e6 / figures.seconds, figures.seconds,
                figures.cpuSeconds, figures.lines);
}

}  // namespace

int main() {
    std::printf("%lld lines of %d bytes (100 MB) over loopback; CPU of the receiving thread\n",
                kLineCount, kLineLength);
    Figures plain = Measure(PlainLoop);
    Figures ours = Measure(LineModeSocket);
    Print("plain recv loop, split", plain);
    Print("line-mode TWSocket", ours);
    std::printf("line-mode TWSocket / plain loop: %.0f %% of the rate, %.1fx the CPU\n",
                100.0 * plain.seconds / ours.seconds, ours.cpuSeconds / plain.cpuSeconds);
    return plain.lines == kLineCount && ours.lines == kLineCount ? 0 : 1;
}
