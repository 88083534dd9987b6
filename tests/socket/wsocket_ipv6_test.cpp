// IPv6: listening and connecting on ::1, lookups of IPv6 texts, and a connect to several
// addresses, which tries them in turn (IPv6 first) and reports only the one connection made.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/socket/loopback.h"

namespace {

using Events = std::vector<std::string>;

// What a loopback address of one family does at a port: nothing listens, a listener answers, or
// a listener whose queue is full lets connects wait unanswered.
enum class Peer { Closed, Listening, Silent };

// A POSIX listener of the family at port (0: the system's choice), accepting without blocking;
// -1 when the port is taken.
int ListenAt(int family, int& port, int backlog) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_storage storage{};
    socklen_t length;
    if (family == AF_INET6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        address->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *address;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
    port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                    : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return fd;
}

// ::1 and 127.0.0.1 at one port, each doing what it was asked to.
class DualLoopback {
  public:
    DualLoopback(Peer ipv6, Peer ipv4) {
        for (int tries = 0; tries < 20 && port_ == 0; ++tries) {
            Close();
            // Where neither listens, a port nothing listens on will do.
            int port = ipv6 == Peer::Closed && ipv4 == Peer::Closed ? std::stoi(ClosedPort()) : 0;
            if (Open(AF_INET6, ipv6, port) && Open(AF_INET, ipv4, port)) port_ = port;
        }
        if (port_ == 0) throw std::runtime_error("no port free on both ::1 and 127.0.0.1");
    }
    ~DualLoopback() { Close(); }
    std::string Port() const { return std::to_string(port_); }

  private:
    bool Open(int family, Peer peer, int& port) {
        if (peer == Peer::Closed) return true;
        int fd = ListenAt(family, port, peer == Peer::Silent ? 0 : 8);
        if (fd < 0) return false;
        fds_.push_back(fd);
        if (peer == Peer::Silent) {
            // One connection fills the queue; the next ones wait for an answer that never comes.
            int filler = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
            fds_.push_back(filler);
            if (::connect(filler, reinterpret_cast<sockaddr*>(&address), length) != 0) return false;
        }
        return true;
    }
    void Close() {
        for (int fd : fds_)
            ::close(fd);
        fds_.clear();
    }
    std::vector<int> fds_;
    int port_ = 0;
};

// A socket whose connect goes to chosen addresses, as a name with them would.
class AimedSocket : public TWSocket {
  public:
    // As if the last lookup had found these addresses.
    void ReplaceLookupResults(const std::vector<std::string>& addresses) {
        FDnsResultList = addresses;
    }
    void ConnectTo(const std::vector<std::string>& addresses, const std::string& port) {
        std::vector<TSocketAddress> targets;
        for (const auto& text : addresses)
            targets.push_back(*TSocketAddress::FromLiteral(text));
        SetAddr("dual.test");
        SetPort(port);
        SetConnectTarget(targets, std::stoi(port));
        Connect();
    }
};

TEST(IPv6Socket, ListensAndConnectsOnTheIPv6Loopback) {
    TWSocket listening;
    listening.SetAddr("::1");
    listening.SetPort("0");
    TWSocket session;
    listening.OnSessionAvailable = [&](TCustomWSocket*, std::uint16_t) {
        session.Dup(listening.Accept());
    };
    listening.Listen();
    ASSERT_EQ(listening.State(), wsListening);
    EXPECT_EQ(listening.LocalAddrText(), "::1");
    for (const std::string address : {"::1", "[::1]", " 0:0:0:0:0:0:0:1 "}) {
        SCOPED_TRACE(address);
        TWSocket client;
        EventLog log(client);
        client.SetAddr(address);
        client.SetPort(listening.LocalPortText());
        client.Connect();
        ASSERT_TRUE(PumpUntil(
            [&] { return client.State() == wsConnected && session.State() == wsConnected; }));
        log.events.resize(4);
        EXPECT_EQ(log.events, (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                                      "connected 0"}));
        EXPECT_EQ(client.PeerAddr(), "::1");
        EXPECT_EQ(session.PeerPort(), client.LocalPortText());
        std::string received;
        ReceiveInto(session, received);
        client.SendText("over six");
        ASSERT_TRUE(PumpUntil([&] { return received == "over six"; }));
        session.Close();
    }
}

TEST(IPv6Socket, SocksServerGivenByItsIPv6AddressIsGreeted) {
    int port = 0;
    int server = ListenAt(AF_INET6, port, 1);
    ASSERT_GE(server, 0) << "cannot listen on ::1";
    TWSocket socket;
    socket.SetSocksServer("[::1]");
    socket.SetSocksPort(std::to_string(port));
    socket.SetAddr("example.test");
    socket.SetPort("80");
    socket.Connect();
    int peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return (peer = ::accept4(server, nullptr, nullptr, 0)) >= 0; }));
    char greeting[3] = {};
    ASSERT_TRUE(PumpUntil([&] { return ::recv(peer, greeting, 3, MSG_DONTWAIT | MSG_PEEK) == 3; }));
    EXPECT_EQ(std::string(greeting, 3), std::string("\x05\x01\x00", 3));
    socket.Close();
    ::close(peer);
    ::close(server);
}

TEST(IPv6Socket, ConnectToTheNameJustLookedUpTakesTheLookupsAddresses) {
    int port = 0;
    int server = ListenAt(AF_INET6, port, 1);
    ASSERT_GE(server, 0) << "cannot listen on ::1";
    AimedSocket socket;
    bool looked = false;
    socket.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t) { looked = true; };
    socket.StartLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return looked; }));
    // localhost is 127.0.0.1 to the resolver: reaching ::1 shows no second lookup was made.
    socket.ReplaceLookupResults({"::1"});
    socket.SetAddr("localhost");
    socket.SetPort(std::to_string(port));
    socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsConnected; }));
    EXPECT_EQ(socket.PeerAddr(), "::1");
    socket.Close();
    ::close(server);
}

TEST(IPv6Socket, LookupOfAnIPv6TextIsAnsweredAtOnce) {
    for (const std::string text : {"::1", "[::1]", "0:0::1"}) {
        TWSocket socket;
        int done = -1;
        socket.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t error) { done = error; };
        socket.StartLookup(text);
        EXPECT_EQ(done, 0) << text;
        EXPECT_EQ(socket.DnsResult(), "::1") << text;
        EXPECT_EQ(socket.DnsResultList(), std::vector<std::string>{"::1"}) << text;
    }
}

TEST(IPv6Socket, AttemptsAlternateTheFamiliesIPv6First) {
    struct Case {
        std::vector<std::string> addresses, order;
    };
    const Case cases[] = {
        {{"127.0.0.1"}, {"127.0.0.1"}},
        {{"127.0.0.1", "127.0.0.2", "::1", "::2"}, {"::1", "127.0.0.1", "::2", "127.0.0.2"}},
        {{"::1", "::2", "::3", "127.0.0.1"}, {"::1", "127.0.0.1", "::2", "::3"}},
    };
    for (const auto& c : cases) {
        std::vector<TSocketAddress> addresses;
        for (const auto& text : c.addresses)
            addresses.push_back(*TSocketAddress::FromLiteral(text));
        std::vector<std::string> order;
        for (const auto& address : AttemptOrder(addresses))
            order.push_back(address.Text());
        EXPECT_EQ(order, c.order);
    }
}

TEST(IPv6Socket, ConnectToSeveralAddressesReportsTheOneThatAnswers) {
    struct Case {
        const char* name;
        Peer ipv6, ipv4;
        std::string peerAddr;  // empty: no connection
    };
    const Case cases[] = {
        {"IPv6 refused, IPv4 tried at once", Peer::Closed, Peer::Listening, "127.0.0.1"},
        {"IPv6 first", Peer::Listening, Peer::Closed, "::1"},
        {"IPv6 first of both", Peer::Listening, Peer::Listening, "::1"},
        {"IPv6 silent, IPv4 after a moment", Peer::Silent, Peer::Listening, "127.0.0.1"},
        {"both refused", Peer::Closed, Peer::Closed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DualLoopback peers(c.ipv6, c.ipv4);
        AimedSocket socket;
        EventLog log(socket);
        socket.ConnectTo({"127.0.0.1", "::1"}, peers.Port());
        ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0") || log.Has("closed 0"); }));
        PumpPending();
        if (c.peerAddr.empty()) {
            EXPECT_EQ(log.events,
                      (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                              "connected 10061", "state wsClosed", "closed 0"}));
            continue;
        }
        EXPECT_EQ(log.events, (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                                      "connected 0", "sent 0"}));
        EXPECT_EQ(socket.PeerAddr(), c.peerAddr);
        socket.Close();
        EXPECT_EQ(log.Count("closed 0"), 1);
    }
}

}  // namespace
