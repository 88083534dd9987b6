#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "tests/socket/loopback.h"

namespace {

using Events = std::vector<std::string>;

// A line echo server on 127.0.0.1: every accepted connection is adopted by a line-mode socket
// that sends each line back.
class LineEchoServer {
  public:
    LineEchoServer() {
        listening_.SetAddr("127.0.0.1");
        listening_.SetPort("0");
        listening_.SetListenBacklog(32);
        listening_.OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t) {
            auto session = std::make_unique<TWSocket>();
            session->SetLineMode(true);
            session->OnDataAvailable = [](TCustomWSocket* sender, std::uint16_t) {
                sender->SendText(sender->ReceiveText());
            };
            session->OnLineLimitExceeded = [this](TCustomWSocket*, int length, bool&) {
                limitLengths.push_back(length);
            };
            session->Dup(listening_.Accept());
            sessions.push_back(std::move(session));
        };
        listening_.Listen();
    }
    std::string Port() { return listening_.LocalPortText(); }

    std::vector<std::unique_ptr<TWSocket>> sessions;
    std::vector<int> limitLengths;

  private:
    TWSocket listening_;
};

// A plain client; reads never block, so that one thread drives server and clients.
struct Client {
    explicit Client(const std::string& port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~Client() { ::close(fd); }
    // Appends what has arrived; never waits.
    const std::string& Received() {
        char block[65536];
        ssize_t n;
        while ((n = ::recv(fd, block, sizeof block, MSG_DONTWAIT)) > 0)
            received.append(block, static_cast<std::size_t>(n));
        return received;
    }
    int fd = -1;
    std::string received;
};

TEST(ListeningSocket, LineEchoServesClientsAtOnceWhateverTheSplitOfTheirBytes) {
    LineEchoServer server;
    // One client per split position, CR and LF apart included.
    const std::string message = "first line\r\nsecond\r\n";
    std::vector<std::unique_ptr<Client>> clients;
    for (std::size_t split = 1; split < message.size(); ++split) {
        clients.push_back(std::make_unique<Client>(server.Port()));
        WriteAll(clients.back()->fd, message.substr(0, split));
    }
    ASSERT_TRUE(PumpUntil([&] { return server.sessions.size() == clients.size(); }));
    PumpPending();
    for (std::size_t split = 1; split < message.size(); ++split)
        WriteAll(clients[split - 1]->fd, message.substr(split));
    ASSERT_TRUE(PumpUntil([&] {
        for (auto& client : clients)
            if (client->Received().size() < message.size()) return false;
        return true;
    }));
    for (auto& client : clients)
        EXPECT_EQ(client->received, message);
}

TEST(ListeningSocket, LineEchoDiscardsALineAboveTheLimitAndGoesOn) {
    LineEchoServer server;
    Client client(server.Port());
    const std::string line(1 << 20, 'x');
    std::thread writer([&] { WriteAll(client.fd, line + "\r\nafter\r\n"); });
    ASSERT_TRUE(PumpUntil([&] {
        const std::string& received = client.Received();
        return received.size() >= 7 && received.compare(received.size() - 7, 7, "after\r\n") == 0;
    }));
    writer.join();
    // No piece of the long line comes back; the server asked once, holding no more than the
    // limit and one read, however much the platform had ready.
    EXPECT_EQ(client.received, "after\r\n");
    ASSERT_EQ(server.limitLengths.size(), 1u);
    EXPECT_GT(server.limitLengths[0], 65536);
    EXPECT_LE(server.limitLengths[0], 2 * 65536);
}

TEST(ListeningSocket, RefusalsAndStates) {
    TWSocket socket;
    EventLog log(socket);
    EXPECT_EQ(ErrorTextOf([&] { socket.Listen(); }),
              "Invalid argument (#10022 in listen: port not assigned)");
    EXPECT_EQ(ErrorTextOf([&] { socket.Accept(); }),
              "Invalid argument (#10022 in not a listening socket)");
    EXPECT_EQ(ErrorTextOf([&] { socket.Dup(0); }), "Invalid argument (#10022 in Dup)");

    socket.SetAddr("127.0.0.1");
    socket.SetPort("0");
    socket.Listen();
    EXPECT_EQ(log.events, (Events{"state wsBound", "state wsListening"}));
    EXPECT_NE(socket.LocalPortText(), "0");

    // A port in use: the handle the failed Listen made is released, since Close sees none.
    TWSocket second;
    second.SetAddr("127.0.0.1");
    second.SetPort(socket.LocalPortText());
    EXPECT_EQ(ErrorTextOf([&] { second.Listen(); }), "Address already in use (#10048 in Bind)");
    EXPECT_EQ(second.SocketHandle(), platform::INVALID_SOCKET);
    EXPECT_EQ(second.State(), wsClosed);

    // An adopted connection goes straight to wsConnected, without OnSessionConnected.
    Client client(socket.LocalPortText());
    TWSocket adopted;
    EventLog adoptedLog(adopted);
    socket.OnSessionAvailable = [&](TCustomWSocket*, std::uint16_t) {
        adopted.Dup(socket.Accept());
    };
    ASSERT_TRUE(PumpUntil([&] { return adopted.State() == wsConnected; }));
    EXPECT_EQ(adoptedLog.events.front(), "state wsConnected");
    EXPECT_FALSE(adoptedLog.Has("connected 0"));
    EXPECT_EQ(adopted.PeerAddr(), "127.0.0.1");
}

// A listening socket on 127.0.0.1 whose connections wait to be adopted.
class AcceptingSocket {
  public:
    AcceptingSocket() {
        listening_.SetAddr("127.0.0.1");
        listening_.SetPort("0");
        listening_.OnSessionAvailable = [this](TCustomWSocket* sender, std::uint16_t) {
            accepted_.push_back(sender->Accept());
        };
        listening_.Listen();
    }
    std::string Port() { return listening_.LocalPortText(); }
    // The next accepted connection's handle, or INVALID_SOCKET when none came within 5 s.
    platform::SOCKET Next() {
        if (!PumpUntil([&] { return !accepted_.empty(); })) return platform::INVALID_SOCKET;
        platform::SOCKET handle = accepted_.front();
        accepted_.erase(accepted_.begin());
        return handle;
    }

  private:
    TWSocket listening_;
    std::vector<platform::SOCKET> accepted_;
};

TEST(ListeningSocket, ASecondListenOrDupLeavesNothingOfTheFirst) {
    TWSocket socket;
    socket.SetAddr("127.0.0.1");
    socket.SetPort("0");
    socket.Listen();
    const std::string port = socket.LocalPortText();
    EXPECT_EQ(ErrorTextOf([&] { socket.Listen(); }), "Listen: Socket already in use");
    socket.Close();
    // Nothing of the first Listen accepts any more.
    int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(probe);

    // Dup onto a line-mode socket still open: the new connection starts with its own bytes.
    Listener listener;
    AcceptingSocket server;
    TWSocket adopted;
    adopted.SetLineMode(true);
    std::vector<std::string> lines;
    adopted.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        lines.push_back(sender->ReceiveText());
    };
    int first = ConnectTo(adopted, listener);
    WriteAll(first, "unended");
    PumpPending();
    Client client(server.Port());
    adopted.Dup(server.Next());
    WriteAll(client.fd, "own\r\n");
    ASSERT_TRUE(PumpUntil([&] { return !lines.empty(); }));
    EXPECT_EQ(lines, std::vector<std::string>{"own\r\n"});
    ::close(first);
}

TEST(ListeningSocket, AnAdoptedConnectionClosedAfterSendingDeliversEverything) {
    AcceptingSocket server;
    Client client(server.Port());
    TWSocket adopted;
    adopted.Dup(server.Next());
    const std::string data(8 << 20, 'd');
    adopted.OnDataSent = [](TCustomWSocket* sender, std::uint16_t) { sender->Close(); };
    adopted.Send(data.data(), static_cast<int>(data.size()));
    std::string received;
    std::thread reader([&] { received = ReadToEnd(client.fd); });
    ASSERT_TRUE(PumpUntil([&] { return adopted.State() == wsClosed; }, 20000));
    reader.join();
    EXPECT_EQ(received.size(), data.size());
}

TEST(ListeningSocket, AnAcceptWithoutADescriptorToSpareLeavesTheListenerListening) {
    for (bool withOnError : {false, true}) {
        SCOPED_TRACE(withOnError ? "with OnError" : "without OnError");
        TWSocket listening;
        listening.SetAddr("127.0.0.1");
        listening.SetPort("0");
        int errors = 0;
        if (withOnError) listening.OnError = [&](TCustomWSocket*) { ++errors; };
        int announced = 0;
        platform::SOCKET accepted = platform::INVALID_SOCKET;
        listening.OnSessionAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
            ++announced;
            accepted = sender->Accept();
        };
        listening.Listen();
        // The sanitizers' checks want descriptors of their own the first time they meet a type:
        // a first connection accepted and a refusal thrown in the open let them meet those here.
        EXPECT_NE(ErrorTextOf([] { TWSocket().Accept(); }), "no exception");
        Client first(listening.LocalPortText());
        ASSERT_TRUE(PumpUntil([&] { return accepted != platform::INVALID_SOCKET; }));
        TWSocket adoptedFirst;
        adoptedFirst.Dup(accepted);
        accepted = platform::INVALID_SOCKET;
        announced = 0;

        Client client(listening.LocalPortText());
        // Every descriptor number from the lowest free one on is beyond the limit.
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        int lowestFree = ::socket(AF_INET, SOCK_STREAM, 0);
        ::close(lowestFree);
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(lowestFree);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        PumpPending();
        ::setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_LE(announced, 2);
        EXPECT_EQ(listening.State(), wsListening);
        EXPECT_EQ(errors, withOnError ? announced : 0);
        ASSERT_TRUE(PumpUntil([&] { return accepted != platform::INVALID_SOCKET; }));
        TWSocket adopted;
        adopted.Dup(accepted);
    }
}

TEST(ListeningSocket, UdpSendAndReceiveOnLoopback) {
    TWSocket receiver;
    EventLog log(receiver);
    receiver.SetProto("udp");
    receiver.SetAddr("127.0.0.1");
    receiver.SetPort("0");
    std::string datagram;
    sockaddr_in from{};
    receiver.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        char block[100];
        int length = sizeof from;
        int n =
            sender->ReceiveFrom(block, sizeof block, reinterpret_cast<sockaddr*>(&from), &length);
        if (n > 0) datagram.assign(block, static_cast<std::size_t>(n));
        sender->SendTo(reinterpret_cast<sockaddr*>(&from), length, "pong", 4);
    };
    receiver.Listen();
    EXPECT_EQ(log.events,
              (Events{"state wsBound", "state wsListening", "state wsConnected", "connected 0"}));

    TWSocket sender;
    sender.SetProto("udp");
    sender.SetAddr("127.0.0.1");
    sender.SetPort(receiver.LocalPortText());
    std::string answer;
    ReceiveInto(sender, answer);
    sender.Connect();
    EXPECT_EQ(sender.SendText("ping"), 4);
    ASSERT_TRUE(PumpUntil([&] { return answer == "pong"; }));
    EXPECT_EQ(datagram, "ping");
    EXPECT_EQ(std::string(inet_ntoa(from.sin_addr)), "127.0.0.1");
}

TEST(ListeningSocket, ReuseAndMulticastOptions) {
    auto udpListener = [](TWSocket& socket, const std::string& port) {
        socket.SetProto("udp");
        socket.SetAddr("127.0.0.1");
        socket.SetPort(port);
        socket.SetReuseAddr(true);
    };
    TWSocket first;
    udpListener(first, "0");
    first.Listen();
    TWSocket second;
    udpListener(second, first.LocalPortText());
    second.Listen();
    EXPECT_EQ(second.State(), wsConnected);

    TWSocket member;
    udpListener(member, "0");
    member.SetMultiCast(true);
    member.SetMultiCastAddrStr("239.255.0.7");
    member.Listen();
    EXPECT_EQ(member.State(), wsConnected);

    TWSocket notAGroup;
    udpListener(notAGroup, "0");
    notAGroup.SetMultiCast(true);
    notAGroup.SetMultiCastAddrStr("10.1.2.3");
    EXPECT_EQ(ErrorTextOf([&] { notAGroup.Listen(); }),
              "Invalid argument (#10022 in setsockopt(IP_ADD_MEMBERSHIP))");
}

TEST(ListeningSocket, RawSocketsWhereTheProcessMayOpenThem) {
    int probe = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    bool allowed = probe >= 0;
    if (allowed) ::close(probe);
    TWSocket raw;
    raw.SetProto("RAW_icmp");
    raw.SetAddr("127.0.0.1");
    raw.SetPort("0");
    if (!allowed) {
        EXPECT_EQ(ErrorTextOf([&] { raw.Listen(); }), "Permission denied (#10013 in socket)");
        return;
    }
    raw.Listen();
    EXPECT_EQ(raw.State(), wsConnected);
    raw.Close();
    // Receiving every packet of an interface has no equivalent here: refused, then closed.
    raw.SetAddr("127.0.0.1");
    raw.SetPort("0");
    raw.SetProto("raw_1");
    raw.SetComponentOptions({wsoSIO_RCVALL});
    int errors = 0;
    raw.OnError = [&](TCustomWSocket*) { ++errors; };
    raw.Listen();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(raw.LastError(), 10045);
    EXPECT_EQ(raw.State(), wsClosed);
}

using WaitUntilClosed = LoopbackTest;

TEST_F(WaitUntilClosed, ReturnsAtOnceWhenClosedAndOtherwiseOnceThePeerHasClosed) {
    TWSocket closed;
    closed.WaitUntilClosed();

    std::string received;
    ReceiveInto(socket, received);
    Connect();
    WriteAll(peer, "last words");
    ClosePeer();
    socket.WaitUntilClosed();
    PumpPending();
    EXPECT_EQ(received, "last words");
    EXPECT_EQ(log.Count("closed 0"), 1);
}

}  // namespace
