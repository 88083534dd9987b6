#include "platform/winsock.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/message_loop.h"
#include "platform/winsock_internal.h"
#include "tests/support/loopback_port.h"

namespace platform {
using test_support::BindLoopback;

namespace {

constexpr UINT kSelectMessage = WM_USER + 1;
constexpr UINT kLookupMessage = WM_USER + 2;

struct Reply {
    UINT message;
    WPARAM wParam;
    WORD event;
    WORD error;
};

// A window that records what the library posts to it, with the library started.
class Receiver {
  public:
    Receiver() {
        EXPECT_EQ(WSAStartup(0x0101, &data_), 0);
        window = AllocateHWnd([this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            replies.push_back(
                {message, wParam, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam)});
            return LRESULT{0};
        });
    }
    ~Receiver() {
        DestroyWindow(window);
        WSACleanup();
    }
    // Processes messages until count replies came; false when the time ran out first.
    bool PumpUntil(std::size_t count, std::chrono::milliseconds time = std::chrono::seconds(5)) {
        auto deadline = std::chrono::steady_clock::now() + time;
        while (replies.size() < count && std::chrono::steady_clock::now() < deadline) {
            WaitForInput(20);
            ProcessPendingMessages();
        }
        return replies.size() >= count;
    }
    std::vector<WORD> Events() const {
        std::vector<WORD> events;
        for (const auto& reply : replies)
            events.push_back(reply.event);
        return events;
    }
    HWND window = 0;
    std::vector<Reply> replies;

  private:
    WSADATA data_;
};

// A connected pair: ours (selected for every event) and a plain peer.
struct Pair {
    explicit Pair(Receiver& receiver) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = BindLoopback(listener);
        ::listen(listener, 1);
        ours = platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        WSAAsyncSelect(ours, receiver.window, kSelectMessage,
                       FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
        int result = connect(ours, reinterpret_cast<sockaddr*>(&address), sizeof address);
        EXPECT_TRUE(result == 0 || WSAGetLastError() == WSAEWOULDBLOCK);
        peer = test_support::AcceptWithin(listener, 5000);
        EXPECT_GE(peer, 0);
        EXPECT_TRUE(receiver.PumpUntil(2));
        EXPECT_EQ(receiver.Events(), (std::vector<WORD>{FD_CONNECT, FD_WRITE}));
        receiver.replies.clear();
    }
    ~Pair() {
        closesocket(ours);
        if (peer >= 0) ::close(peer);
        ::close(listener);
    }
    // The peer goes away with a reset instead of an orderly close.
    void ResetPeer() {
        linger hard{1, 0};
        ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(peer);
        peer = -1;
    }
    int listener = -1;
    int peer = -1;
    SOCKET ours = INVALID_SOCKET;
};

TEST(Winsock, StartupServesVersionsFromOnePointZero) {
    WSADATA data;
    EXPECT_EQ(WSAStartup(0x0000, &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(WSAStartup(0x0303, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(platform::socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST(Winsock, ErrorTextsAndNames) {
    EXPECT_STREQ(WinsockErrorText(10054), "Connection reset by peer");
    EXPECT_EQ(WinsockErrorText(42), nullptr);
    EXPECT_EQ(SystemErrorText(ENOSYS), "Function not implemented");
    EXPECT_EQ(SystemErrorText(10092), "WinSock DLL cannot support this application");
    EXPECT_NE(GetProcAddress(LoadLibrary("wsock32.dll"), "recv"), nullptr);
    EXPECT_EQ(GetProcAddress(LoadLibrary("wsock32.dll"), "WSAIoctl"), nullptr);
    EXPECT_EQ(GetLastError(), ENOSYS);
    EXPECT_NE(GetProcAddress(LoadLibrary("ws2_32.dll"), "WSAIoctl"), nullptr);
    EXPECT_EQ(LoadLibrary("other.dll"), 0u);
}

TEST(Winsock, ReadIsPostedOnceUntilRecvAndCloseOnceWithoutSpinning) {
    Receiver receiver;
    Pair pair(receiver);
    ASSERT_EQ(::send(pair.peer, "abcdef", 6, 0), 6);
    ASSERT_TRUE(receiver.PumpUntil(1));
    ASSERT_EQ(::send(pair.peer, "gh", 2, 0), 2);
    EXPECT_FALSE(WaitForInput(50));
    EXPECT_EQ(receiver.Events(), std::vector<WORD>{FD_READ});
    // Each recv enables the next FD_READ, posted again while bytes remain.
    char buffer[16];
    EXPECT_EQ(recv(pair.ours, buffer, 4, 0), 4);
    ASSERT_TRUE(receiver.PumpUntil(2));
    EXPECT_EQ(recv(pair.ours, buffer, sizeof buffer, 0), 4);
    EXPECT_EQ(recv(pair.ours, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    ::close(pair.peer);
    pair.peer = -1;
    ASSERT_TRUE(receiver.PumpUntil(3));
    EXPECT_EQ(receiver.replies.back().event, FD_CLOSE);
    EXPECT_EQ(receiver.replies.back().error, 0);
    // The closed descriptor stays readable, yet nothing wakes the loop any more.
    EXPECT_FALSE(WaitForInput(50));
    EXPECT_EQ(receiver.replies.size(), 3u);
    // Sending to a closed connection fails instead of raising SIGPIPE.
    for (int i = 0; i < 3; ++i)
        send(pair.ours, "x", 1, 0);
    EXPECT_EQ(send(pair.ours, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST(Winsock, ResetIsReportedOnClose) {
    Receiver receiver;
    Pair pair(receiver);
    pair.ResetPeer();
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies.back().event, FD_CLOSE);
    EXPECT_EQ(receiver.replies.back().error, WSAECONNRESET);
}

TEST(Winsock, RefusedConnectAndStoppedSelection) {
    Receiver receiver;
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = BindLoopback(probe);  // a port where nothing listens
    ::close(probe);
    SOCKET s = platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    WSAAsyncSelect(s, receiver.window, kSelectMessage, FD_CONNECT | FD_READ | FD_CLOSE);
    connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies[0].event, FD_CONNECT);
    EXPECT_EQ(receiver.replies[0].error, WSAECONNREFUSED);
    EXPECT_EQ(receiver.replies[0].wParam, s);
    EXPECT_FALSE(WaitForInput(50));
    closesocket(s);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST(Winsock, LookupsDeliverEntriesAndCancelledOnesVanish) {
    Receiver receiver;
    alignas(hostent) char buffer[MAXGETHOSTSTRUCT];
    HANDLE request =
        WSAAsyncGetHostByName(receiver.window, kLookupMessage, "localhost", buffer, sizeof buffer);
    ASSERT_NE(request, 0u);
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies[0].wParam, request);
    EXPECT_EQ(receiver.replies[0].error, 0);
    auto* entry = reinterpret_cast<hostent*>(buffer);
    EXPECT_EQ(entry->h_length, 4);
    in_addr first;
    std::memcpy(&first, entry->h_addr_list[0], 4);
    EXPECT_STREQ(platform::inet_ntoa(first), "127.0.0.1");
    EXPECT_EQ(WSACancelAsyncRequest(request), SOCKET_ERROR);

    receiver.replies.clear();
    request =
        WSAAsyncGetHostByName(receiver.window, kLookupMessage, "localhost", buffer, sizeof buffer);
    EXPECT_EQ(WSACancelAsyncRequest(request), 0);
    HANDLE later =
        WSAAsyncGetHostByName(receiver.window, kLookupMessage, "localhost", buffer, sizeof buffer);
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_FALSE(receiver.PumpUntil(2, std::chrono::milliseconds(50)));
    ASSERT_EQ(receiver.replies.size(), 1u);
    EXPECT_EQ(receiver.replies[0].wParam, later);
    receiver.replies.clear();

    char tiny[8];
    WSAAsyncGetHostByName(receiver.window, kLookupMessage, "localhost", tiny, sizeof tiny);
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies[0].error, WSAENOBUFS);
    EXPECT_GT(receiver.replies[0].event, sizeof tiny);
}

TEST(Winsock, AddressListsOfBothFamilies) {
    WSADATA data;
    WSAStartup(0x0202, &data);
    SOCKADDR_INET found[4];
    ASSERT_GE(getaddresses("localhost", found, 4), 1);
    EXPECT_EQ(found[0].si_family, AF_INET);
    EXPECT_EQ(found[0].Ipv4.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(getaddresses("nothing-here.invalid", found, 4), SOCKET_ERROR);

    Receiver receiver;
    alignas(SOCKADDR_INET) char buffer[MAXGETHOSTSTRUCT];
    HANDLE request =
        WSAAsyncGetAddresses(receiver.window, kLookupMessage, "::1", buffer, sizeof buffer);
    ASSERT_NE(request, 0u);
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies[0].error, 0);
    int count = 0;
    std::memcpy(&count, buffer, sizeof count);
    ASSERT_EQ(count, 1);
    SOCKADDR_INET address;
    std::memcpy(&address, buffer + sizeof count, sizeof address);
    char text[INET6_ADDRSTRLEN];
    EXPECT_STREQ(platform::inet_ntop(AF_INET6, &address.Ipv6.sin6_addr, text, sizeof text), "::1");
    receiver.replies.clear();

    char tiny[sizeof(int) + sizeof(SOCKADDR_INET) - 1];
    WSAAsyncGetAddresses(receiver.window, kLookupMessage, "localhost", tiny, sizeof tiny);
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies[0].error, WSAENOBUFS);
    WSACleanup();
}

TEST(Winsock, BlockingResolvers) {
    WSADATA data;
    WSAStartup(0x0101, &data);
    EXPECT_EQ(ntohs(static_cast<u_short>(getservbyname("http", "tcp")->s_port)), 80);
    EXPECT_EQ(getprotobyname("udp")->p_proto, 17);
    EXPECT_EQ(getservbyname("no-such-service", "tcp"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSANO_DATA);
    EXPECT_EQ(gethostbyname("nothing-here.invalid"), nullptr);
    EXPECT_TRUE(WSAGetLastError() == WSAHOST_NOT_FOUND || WSAGetLastError() == WSANO_DATA);
    EXPECT_EQ(inet_addr("1.2.3.4"), htonl(0x01020304));
    EXPECT_EQ(inet_addr("1.2.3.400"), INADDR_NONE);
    EXPECT_EQ(htons(0x1234), 0x3412);
    WSACleanup();
}

TEST(Winsock, FailuresNeverReadAsSuccessOrAsForeignNumbers) {
    struct Case {
        int resolverCode;
        int errnoValue;
        int expected;
    };
    // A resolver "system error" that left errno at 0 once came out as success without an
    // address; errno values without a counterpart leaked as "Not a WinSock error".
    const Case cases[] = {
        {EAI_SYSTEM, 0, WSANO_RECOVERY},
        {EAI_SYSTEM, ECONNREFUSED, WSAECONNREFUSED},
        {EAI_SYSTEM, EIO, WSASYSNOTREADY},
        {EAI_NONAME, 0, WSAHOST_NOT_FOUND},
    };
    for (const auto& c : cases) {
        errno = c.errnoValue;
        EXPECT_EQ(winsock::ErrorFromResolver(c.resolverCode), c.expected) << c.errnoValue;
    }
    for (int unmapped : {EIO, ENODEV, EPROTO, ENOSR})
        EXPECT_EQ(winsock::ErrorFromErrno(unmapped), WSASYSNOTREADY) << unmapped;
    EXPECT_EQ(winsock::ErrorFromErrno(0), 0);
}

TEST(Winsock, HangupOfAnUnconnectedSocketIsNotThePeersClose) {
    Receiver receiver;
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = BindLoopback(listener);
    ::listen(listener, 1);
    SOCKET ours = platform::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    WSAAsyncSelect(ours, receiver.window, kSelectMessage, FD_READ | FD_CONNECT | FD_CLOSE);
    // The loop runs before connect: an unconnected stream reports a hang-up.
    EXPECT_FALSE(WaitForInput(20));
    ProcessPendingMessages();
    connect(ours, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int peer = test_support::AcceptWithin(listener, 5000);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(receiver.PumpUntil(1));
    ASSERT_EQ(::send(peer, "data", 4, 0), 4);
    ASSERT_TRUE(receiver.PumpUntil(2));
    EXPECT_EQ(receiver.Events(), (std::vector<WORD>{FD_CONNECT, FD_READ}));
    EXPECT_FALSE(receiver.PumpUntil(3, std::chrono::milliseconds(50)));
    closesocket(ours);
    ::close(peer);
    ::close(listener);
}

TEST(Winsock, ANewSelectionPostsTheConnectOutcomeAgain) {
    // The first FD_CONNECT may be lost with a paused socket or a window of another thread.
    Receiver receiver;
    Pair pair(receiver);
    EXPECT_EQ(WSAAsyncSelect(pair.ours, receiver.window, 0, 0), 0);
    EXPECT_EQ(WSAAsyncSelect(pair.ours, receiver.window, kSelectMessage, FD_CONNECT | FD_READ), 0);
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies[0].event, FD_CONNECT);
    EXPECT_EQ(receiver.replies[0].error, 0);
}

TEST(Winsock, OwnShutdownOfTheReceiveSideIsNoClose) {
    Receiver receiver;
    Pair pair(receiver);
    EXPECT_EQ(shutdown(pair.ours, SD_RECEIVE), 0);
    EXPECT_FALSE(receiver.PumpUntil(1, std::chrono::milliseconds(50)));
    EXPECT_EQ(send(pair.ours, "x", 1, 0), 1);
    // A reset from the peer still ends the connection.
    pair.ResetPeer();
    ASSERT_TRUE(receiver.PumpUntil(1));
    EXPECT_EQ(receiver.replies.back().event, FD_CLOSE);
}

TEST(Winsock, SelectionThatCannotBeWatchedFails) {
    Receiver receiver;
    SOCKET s = platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    // Something else of this thread watches the descriptor already.
    int fd = static_cast<int>(s & 0xFFFFFFFFu);
    ASSERT_TRUE(WatchDescriptor(fd, 0, [](std::uint32_t) {}));
    EXPECT_EQ(WSAAsyncSelect(s, receiver.window, kSelectMessage, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOBUFS);
    UnwatchDescriptor(fd);
    closesocket(s);
}

}  // namespace
}  // namespace platform
