// The SOCKS layer against a SOCKS server scripted byte by byte: the test's listener plays the
// server, reads what the socket sends and answers with chosen bytes.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include "tests/socket/loopback.h"

namespace {

using Events = std::vector<std::string>;

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

const std::string kHost = "example.test";
const std::string kPort = "8080";  // 0x1F90
const std::string kSocks5Request = Bytes({5, 1, 0, 3, 12}) + kHost + Bytes({0x1F, 0x90});
const std::string kSocks5Success = Bytes({5, 0, 0, 1, 10, 0, 0, 1, 0x1F, 0x90});
const std::string kSocks4Success = Bytes({0, 90, 0x1F, 0x90, 127, 0, 0, 1});

class SocksTest : public LoopbackTest {
  protected:
    ~SocksTest() override { socket.Close(); }
    SocksTest() {
        // Negotiation messages are sent through the send buffer; its events are not the subject.
        socket.OnDataSent = nullptr;
        socket.OnSocksConnected = [this](TCustomWSocket*, std::uint16_t errCode) {
            log.events.push_back("socks connected " + std::to_string(errCode));
        };
        socket.OnSocksError = [this](TCustomWSocket*, int error, const std::string& msg) {
            log.events.push_back("socks error " + std::to_string(error) + " " + msg);
        };
        socket.OnSocksAuthState = [this](TCustomWSocket*, TSocksAuthState state) {
            static const char* const names[] = {"begin", "accepted", "closed", "not needed"};
            log.events.push_back(std::string("auth ") + names[state]);
        };
        socket.OnDataAvailable = [this](TCustomWSocket* sender, std::uint16_t) {
            log.events.push_back("data " + std::to_string(sender->RcvdCount()));
            char block[100];
            int n = sender->Receive(block, sizeof block);
            if (n > 0) payload.append(block, static_cast<std::size_t>(n));
        };
    }

    void StartSocks(const std::string& level, const std::string& host = kHost) {
        socket.SetSocksServer(" 127.0.0.1 ");
        socket.SetSocksPort(listener.Port());
        socket.SetSocksLevel(level);
        socket.SetAddr(host);
        socket.SetPort(kPort);
        socket.Connect();
        peer = listener.Accept();
        ASSERT_GE(peer, 0);
    }

    // What the socket sends next, as one message.
    std::string NextMessage() {
        pollfd waiting{peer, POLLIN, 0};
        EXPECT_TRUE(PumpUntil([&] { return ::poll(&waiting, 1, 0) == 1; }));
        char block[1024];
        ssize_t n = ::recv(peer, block, sizeof block, MSG_DONTWAIT);
        return n > 0 ? std::string(block, static_cast<std::size_t>(n)) : "";
    }

    // Writes bytes as the server and waits until the socket has taken them.
    void Answer(const std::string& bytes) {
        WriteAll(peer, bytes);
        EXPECT_TRUE(
            PumpUntil([&] { return socket.State() == wsClosed || socket.RcvdCount() == 0; }));
    }

    // Events from the SOCKS connect on.
    Events NegotiationEvents() const {
        auto from = std::find(log.events.begin(), log.events.end(), "state wsConnected");
        return Events(from, log.events.end());
    }

    void Reset() {
        if (socket.State() != wsClosed) socket.Close();
        ClosePeer();
        log.events.clear();
        payload.clear();
    }

    std::string payload;
};

TEST_F(SocksTest, Socks5SendsTheNameAndConnectsAtEverySplitOfTheAnswer) {
    const std::string answer = kSocks5Success + "abc";
    for (std::size_t split = 0; split < answer.size(); ++split) {
        SCOPED_TRACE("split at " + std::to_string(split));
        StartSocks("5");
        ASSERT_EQ(NextMessage(), Bytes({5, 1, 0}));
        Answer(Bytes({5, 0}));
        ASSERT_EQ(NextMessage(), kSocks5Request);
        if (split > 0) Answer(answer.substr(0, split));
        if (split < kSocks5Success.size()) {
            EXPECT_FALSE(log.Has("connected 0")) << "connected before the answer was complete";
        }
        Answer(answer.substr(split));
        ASSERT_TRUE(PumpUntil([&] { return payload == "abc"; })) << payload;
        Events expected{"state wsConnected", "socks connected 0", "connected 0"};
        // Payload that came in the same read as the answer's end is offered at once, whole.
        if (split <= kSocks5Success.size()) expected.push_back("data 3");
        Events events = NegotiationEvents();
        events.resize(std::min(events.size(), expected.size()));
        EXPECT_EQ(events, expected);
        Reset();
    }
}

TEST_F(SocksTest, OnDataSentTellsOfTheUsersSendingOnlyFromTheConnectOn) {
    socket.OnDataSent = [this](TCustomWSocket*, std::uint16_t errCode) {
        log.events.push_back("sent " + std::to_string(errCode));
    };
    StartSocks("5");
    NextMessage();
    Answer(Bytes({5, 0}));
    NextMessage();
    Answer(kSocks5Success);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
    PumpPending();
    EXPECT_EQ(NegotiationEvents(),
              (Events{"state wsConnected", "socks connected 0", "connected 0", "sent 0"}));
}

TEST_F(SocksTest, Socks5AnswersWithEveryBoundAddressTypeConnect) {
    const std::string answers[] = {
        Bytes({5, 0, 0, 3, 4}) + "name" + Bytes({0, 80}),
        Bytes({5, 0, 0, 4}) + std::string(16, '\1') + Bytes({0, 80}),
        Bytes({5, 0, 0, 3, 255}) + std::string(255, 'n') + Bytes({0, 80}),
    };
    for (const auto& answer : answers) {
        StartSocks("5");
        NextMessage();
        Answer(Bytes({5, 0}));
        NextMessage();
        Answer(answer + "xyz");
        ASSERT_TRUE(PumpUntil([&] { return payload == "xyz"; })) << answer.size();
        EXPECT_TRUE(log.Has("connected 0"));
        Reset();
    }
}

TEST_F(SocksTest, Socks5AuthenticatesOnlyOnTheWholeAnswer) {
    socket.SetSocksAuthentication(socksAuthenticateUsercode);
    socket.SetSocksUsercode("user");
    socket.SetSocksPassword("secret");
    StartSocks("5");
    EXPECT_EQ(NextMessage(), Bytes({5, 1, 2}));
    Answer(Bytes({5, 2}));
    EXPECT_EQ(NextMessage(), Bytes({1, 4}) + "user" + Bytes({6}) + "secret");
    // The version byte alone is no verdict: nothing goes on until the status byte.
    Answer(Bytes({1}));
    PumpPending();
    pollfd waiting{peer, POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "request sent before the server's verdict";
    Answer(Bytes({0}));
    EXPECT_EQ(NextMessage(), kSocks5Request);
    Answer(kSocks5Success);
    EXPECT_EQ(NegotiationEvents(), (Events{"state wsConnected", "socks connected 0", "auth begin",
                                           "auth accepted", "connected 0"}));
}

TEST_F(SocksTest, Socks5ServerWaivingTheOfferedAuthenticationIsAnnounced) {
    socket.SetSocksAuthentication(socksAuthenticateUsercode);
    StartSocks("5");
    EXPECT_EQ(NextMessage(), Bytes({5, 1, 2}));
    Answer(Bytes({5, 0}));
    EXPECT_EQ(NextMessage(), kSocks5Request);
    Answer(kSocks5Success);
    EXPECT_EQ(NegotiationEvents(),
              (Events{"state wsConnected", "socks connected 0", "auth not needed", "connected 0"}));
}

TEST_F(SocksTest, Socks4And4ASendTheirRequestsAndLeaveWhatFollowsOnTheConnection) {
    struct Case {
        std::string level, host, request;
    };
    const Case cases[] = {
        {"4", "127.0.0.1", Bytes({4, 1, 0x1F, 0x90, 127, 0, 0, 1}) + "me" + Bytes({0})},
        {"4a", kHost,
         Bytes({4, 1, 0x1F, 0x90, 0, 0, 0, 1}) + "me" + Bytes({0}) + kHost + Bytes({0})},
        {"4a", "[::1]",
         Bytes({4, 1, 0x1F, 0x90, 0, 0, 0, 1}) + "me" + Bytes({0}) + "::1" + Bytes({0})},
    };
    socket.SetSocksUsercode("me");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        StartSocks(c.level, c.host);
        EXPECT_EQ(socket.SocksLevel(), c.level == "4a" ? "4A" : "4");
        EXPECT_EQ(NextMessage(), c.request);
        Answer(kSocks4Success.substr(0, 3));
        Answer(kSocks4Success.substr(3) + "xy");
        ASSERT_TRUE(PumpUntil([&] { return payload == "xy"; }));
        EXPECT_EQ(NegotiationEvents(),
                  (Events{"state wsConnected", "socks connected 0", "connected 0", "data 2"}));
        Reset();
    }
}

TEST_F(SocksTest, FailedNegotiationsReportTheirCodeThenConnectedThenClosedAndSendNothingMore) {
    struct Case {
        std::string label;
        std::string level = "5";
        std::vector<std::string> answers;
        int code;
        std::string message;
        bool authenticate = false;
        std::string host = kHost;
        std::string usercode = "";
        bool serverCloses = false;
    };
    std::vector<Case> cases = {
        {"method version", "5", {Bytes({4, 0})}, 20002, "socks version error"},
        {"no method", "5", {Bytes({5, 0xFF})}, 20003, "authentification method not acceptable"},
        {"method reply too long", "5", {Bytes({5, 0, 0})}, 20001, "too much data availaible"},
        {"refused credentials",
         "5",
         {Bytes({5, 2}), Bytes({1, 1})},
         20015,
         "socks authentication failed",
         true},
        {"auth version", "5", {Bytes({5, 2}), Bytes({2, 0})}, 20002, "socks version error", true},
        {"auth too long",
         "5",
         {Bytes({5, 2}), Bytes({1, 0, 0})},
         20001,
         "too much data availaible",
         true},
        {"reply version", "5", {Bytes({5, 0}), Bytes({4, 0})}, 20002, "socks version error"},
        {"address type",
         "5",
         {Bytes({5, 0}), Bytes({5, 0, 0, 5})},
         20011,
         "address type not supported"},
        {"socks 4 version",
         "4",
         {Bytes({4, 90, 0, 0, 0, 0, 0, 0})},
         20002,
         "socks version error",
         false,
         "127.0.0.1"},
        {"socks 4 rejected",
         "4",
         {Bytes({0, 91, 0, 0, 0, 0, 0, 0})},
         20016,
         "request rejected or failed",
         false,
         "127.0.0.1"},
        {"socks 4 refused",
         "4",
         {Bytes({0, 92, 0, 0, 0, 0, 0, 0})},
         20008,
         "connection refused",
         false,
         "127.0.0.1"},
        {"socks 4 identd",
         "4",
         {Bytes({0, 93, 0, 0, 0, 0, 0, 0})},
         20015,
         "authentification failed",
         false,
         "127.0.0.1"},
        {"socks 4 unknown",
         "4",
         {Bytes({0, 94, 0, 0, 0, 0, 0, 0})},
         20012,
         "unassigned error #94",
         false,
         "127.0.0.1"},
        {"host over 255 bytes",
         "5",
         {Bytes({5, 0})},
         20001,
         "host name too long for the socks server (at most 255 bytes)",
         false,
         std::string(256, 'h')},
        {"user code over 255 bytes",
         "5",
         {Bytes({5, 2})},
         20001,
         "socks user code too long (at most 255 bytes)",
         true,
         kHost,
         std::string(256, 'u')},
        {"socks 4A request over its block",
         "4A",
         {},
         20001,
         "socks 4 request too long (user code and host name: at most 118 bytes)",
         false,
         std::string(120, 'h'),
         "user"},
        {"server closes",
         "5",
         {Bytes({5, 0})},
         20001,
         "connection closed by the socks server during negotiation",
         false,
         kHost,
         "",
         true},
    };
    const char* const replyTexts[] = {
        "general SOCKS server failure", "connection not allowed by ruleset",
        "network unreachable",          "host unreachable",
        "connection refused",           "time to live expired",
        "command not supported",        "address type not supported",
    };
    for (int reply = 1; reply <= 9; ++reply)
        cases.push_back({"reply " + std::to_string(reply),
                         "5",
                         {Bytes({5, 0}), Bytes({5, reply, 0, 1})},
                         reply <= 8 ? 20003 + reply : 20012,
                         reply <= 8 ? replyTexts[reply - 1] : "unassigned error #9"});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        socket.SetSocksAuthentication(c.authenticate ? socksAuthenticateUsercode
                                                     : socksNoAuthentication);
        socket.SetSocksUsercode(c.usercode);
        StartSocks(c.level, c.host);
        for (const auto& answer : c.answers) {
            NextMessage();
            WriteAll(peer, answer);
        }
        if (c.serverCloses) {
            NextMessage();
            ClosePeer();
        }
        ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
        std::string code = std::to_string(c.code);
        Events tail{"socks error " + code + " " + c.message, "connected " + code, "state wsClosed",
                    "closed " + code};
        // The server's close is reported before the state changes, as for any peer close.
        if (c.serverCloses) std::swap(tail[2], tail[3]);
        Events events = NegotiationEvents();
        ASSERT_GE(events.size(), tail.size());
        EXPECT_EQ(Events(events.end() - 4, events.end()), tail);
        if (!c.serverCloses) {
            EXPECT_EQ(ReadToEnd(peer), "") << "sent after the failure";
        }
        Reset();
    }
}

TEST_F(SocksTest, IPv6DestinationTravelsAsItsAddressInSocks5AndIsRefusedBySocks4) {
    StartSocks("5", "[::1]");
    ASSERT_EQ(NextMessage(), Bytes({5, 1, 0}));
    Answer(Bytes({5, 0}));
    EXPECT_EQ(NextMessage(), Bytes({5, 1, 0, 4}) + std::string(15, '\0') + Bytes({1, 0x1F, 0x90}));
    Reset();

    StartSocks("4", "::1");
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 20011"); }));
    EXPECT_EQ(NegotiationEvents(),
              (Events{"state wsConnected", "socks connected 0",
                      "socks error 20011 SOCKS 4 cannot carry the IPv6 address ::1: use SOCKS 4A "
                      "or 5",
                      "state wsClosed", "closed 20011"}));
    EXPECT_EQ(ReadToEnd(peer), "");
}

TEST_F(SocksTest, Socks4DestinationThatCannotBeResolvedClosesWithoutASession) {
    std::string host(300, 'h');
    StartSocks("4", host);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 20017"); }));
    EXPECT_EQ(NegotiationEvents(),
              (Events{"state wsConnected", "socks connected 0",
                      "socks error 20017 ESocketException Winsock Resolve Host: '" + host +
                          "' Invalid Hostname.",
                      "state wsClosed", "closed 20017"}));
    EXPECT_EQ(ReadToEnd(peer), "");
}

TEST_F(SocksTest, UnreachableSocksServerIsReportedByBothConnectedEvents) {
    socket.SetSocksServer("127.0.0.1");
    socket.SetSocksPort(ClosedPort());
    socket.SetAddr(kHost);
    socket.SetPort(kPort);
    socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    EXPECT_EQ(NegotiationEvents(), (Events{"state wsConnected", "socks connected 10061",
                                           "connected 10061", "state wsClosed", "closed 0"}));
}

TEST_F(SocksTest, SettingsAreCheckedAndTheServerIsForgottenAtEveryClose) {
    EXPECT_EQ(socket.SocksLevel(), "5");
    for (const std::string level : {"", "6", "4b", " 4"})
        EXPECT_EQ(ErrorTextOf([&] { socket.SetSocksLevel(level); }),
                  "Invalid socks level. Must be 4, 4A or 5.");
    EXPECT_EQ(socket.SocksLevel(), "5");

    socket.SetSocksServer("127.0.0.1");
    socket.SetSocksPort("1080");
    socket.SetProto("udp");
    socket.SetAddr(kHost);
    socket.SetPort(kPort);
    EXPECT_EQ(ErrorTextOf([&] { socket.Connect(); }),
              "TCP is the only protocol supported thru socks server");
    EXPECT_EQ(ErrorTextOf([&] { socket.Listen(); }),
              "Listening is not supported thru socks server");
    socket.SetProto(" 6 ");
    socket.SetSocksPort("no-such-service");
    EXPECT_NE(ErrorTextOf([&] { socket.Connect(); }).find("Connect: "), std::string::npos);
    socket.SetProto("tcp");

    socket.SetSocksUsercode("user");
    socket.SetSocksPassword("secret");
    socket.SetSocksAuthentication(socksAuthenticateUsercode);
    StartSocks("4A");
    EXPECT_EQ(ErrorTextOf([&] { socket.SetSocksServer(""); }),
              "Can't change socks server if not closed");
    EXPECT_EQ(ErrorTextOf([&] { socket.SetSocksPort("1"); }),
              "Can't change socks port if not closed");
    EXPECT_EQ(ErrorTextOf([&] { socket.SetSocksLevel("5"); }),
              "Can't change socks level if not closed");
    socket.Close();
    EXPECT_EQ(socket.SocksServer(), "");
    EXPECT_EQ(socket.SocksPort(), "");
    EXPECT_EQ(socket.SocksLevel(), "5");
    EXPECT_EQ(socket.SocksUsercode(), "user");
    EXPECT_EQ(socket.SocksPassword(), "secret");
    EXPECT_EQ(socket.SocksAuthentication(), socksAuthenticateUsercode);

    // Without a server the connection goes straight to Addr and Port.
    ClosePeer();
    log.events.clear();
    Connect();
    ASSERT_GE(peer, 0);
    EXPECT_FALSE(log.Has("socks connected 0"));
    EXPECT_TRUE(log.Has("connected 0"));
}

}  // namespace
