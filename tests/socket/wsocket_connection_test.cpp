#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/component.h"
#include "tests/socket/loopback.h"

namespace {

using Events = std::vector<std::string>;

// Connects a socket to the listener and accepts the peer's end.
int ConnectTo(TWSocket& socket, Listener& listener, const std::string& host = "127.0.0.1") {
    socket.SetAddr(host);
    socket.SetPort(listener.Port());
    socket.SetProto("tcp");
    socket.Connect();
    int peer = listener.Accept();
    EXPECT_TRUE(PumpUntil([&] { return socket.State() == wsConnected; }));
    return peer;
}

TEST(WSocketConnection, ConnectsExchangesAndSeesThePeerClose) {
    Listener listener;
    TWSocket socket;
    EventLog log(socket);
    std::string received;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        char block[100];
        int n = sender->Receive(block, sizeof block);
        if (n > 0) received.append(block, static_cast<std::size_t>(n));
    };
    int peer = ConnectTo(socket, listener, "localhost");
    ASSERT_GE(peer, 0);
    // The first write event of a new connection raises OnDataSent without a Send.
    ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
    EXPECT_EQ(log.events, (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                                  "connected 0", "sent 0"}));
    EXPECT_EQ(socket.PeerAddr(), "127.0.0.1");
    EXPECT_EQ(socket.PeerPort(), listener.Port());

    EXPECT_EQ(socket.SendText("ping"), 4);
    EXPECT_EQ(ReadExactly(peer, 4), "ping");
    WriteAll(peer, "hello there");
    ASSERT_TRUE(PumpUntil([&] { return received == "hello there"; }));
    EXPECT_EQ(socket.ReadCount(), 11);

    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    PumpPending();
    EXPECT_EQ(log.Count("closed 0"), 1);
    // Every close returns to the defaults: Addr and Port must be written again.
    EXPECT_EQ(socket.Addr(), "localhost");
    EXPECT_THROW(
        {
            try {
                socket.Connect();
            } catch (const ESocketException& e) {
                EXPECT_STREQ(e.what(), "Connect: No Port Specified");
                throw;
            }
        },
        ESocketException);
}

TEST(WSocketConnection, OwnCloseTwiceRaisesSessionClosedOnce) {
    Listener listener;
    TWSocket socket;
    EventLog log(socket);
    int peer = ConnectTo(socket, listener);
    socket.Close();
    socket.Close();
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_EQ(ReadToEnd(peer), "");
    PumpPending();
    EXPECT_EQ(log.Count("closed 0"), 1);
    ::close(peer);

    TWSocket idle;
    EventLog idleLog(idle);
    idle.Close();
    EXPECT_TRUE(idleLog.events.empty());
}

TEST(WSocketConnection, RefusedConnectReportsThroughTheEvents) {
    TWSocket socket;
    EventLog log(socket);
    socket.SetAddr("127.0.0.1");
    socket.SetPort(ClosedPort());
    socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    PumpPending();
    EXPECT_EQ(log.events, (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                                  "connected 10061", "state wsClosed", "closed 0"}));
}

TEST(WSocketConnection, SessionClosedHandlerMayConnectAgain) {
    Listener listener;
    TWSocket socket;
    EventLog log(socket);
    bool retried = false;
    socket.OnSessionClosed = [&](TCustomWSocket* sender, std::uint16_t errCode) {
        log.events.push_back("closed " + std::to_string(errCode));
        if (retried) return;
        retried = true;
        sender->SetAddr("127.0.0.1");
        sender->SetPort(listener.Port());
        sender->Connect();
    };
    socket.SetAddr("127.0.0.1");
    socket.SetPort(ClosedPort());
    socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(socket.State(), wsConnected);
    EXPECT_EQ(socket.Port(), listener.Port());
    // The new connection reports its own close.
    socket.Close();
    EXPECT_EQ(log.Count("closed 0"), 2);
    ::close(peer);

    // The same from the peer's close, where the handler closes before connecting again.
    peer = ConnectTo(socket, listener);
    retried = false;
    socket.OnSessionClosed = [&](TCustomWSocket* sender, std::uint16_t) {
        if (retried) return;
        retried = true;
        sender->Close();
        sender->SetAddr("127.0.0.1");
        sender->SetPort(listener.Port());
        sender->Connect();
    };
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return retried; }));
    peer = listener.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsConnected; }));
    ::close(peer);
}

TEST(WSocketConnection, PendingDataIsOfferedBeforeTheCloseEvenWithoutReceiveLoop) {
    Listener listener;
    TWSocket socket;
    socket.SetComponentOptions({wsoNoReceiveLoop});
    std::string received;
    std::size_t receivedAtClose = 0;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        char block[100];
        int n = sender->Receive(block, sizeof block);
        if (n > 0) received.append(block, static_cast<std::size_t>(n));
    };
    socket.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) {
        receivedAtClose = received.size();
    };
    int peer = ConnectTo(socket, listener);
    std::string data(30000, 'x');
    WriteAll(peer, data);
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    EXPECT_EQ(receivedAtClose, data.size());
}

TEST(WSocketConnection, HandlerClosingInTheCloseEventsLoopEndsTheSessionOnce) {
    Listener listener;
    TWSocket socket;
    EventLog log(socket);
    socket.SetComponentOptions({wsoNoReceiveLoop});
    std::string received;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        char block[10];
        int n = sender->Receive(block, sizeof block);
        if (n > 0) received.append(block, static_cast<std::size_t>(n));
        if (received.size() == 100) sender->Close();
    };
    int peer = ConnectTo(socket, listener);
    // Data and close arrive together; the close event's loop reads the rest, and the handler
    // closes on the last block.
    WriteAll(peer, std::string(100, 'z'));
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    PumpPending();
    EXPECT_EQ(received.size(), 100u);
    EXPECT_EQ(log.Count("closed 0"), 1);

    // The next connection still reports its own close.
    peer = ConnectTo(socket, listener);
    socket.Close();
    EXPECT_EQ(log.Count("closed 0"), 2);
    ::close(peer);
}

TEST(WSocketConnection, DataWithoutAHandlerIsReadAndDropped) {
    Listener listener;
    TWSocket socket;
    EventLog log(socket);
    int peer = ConnectTo(socket, listener);
    WriteAll(peer, std::string(5000, 'y'));
    ASSERT_TRUE(PumpUntil([&] { return socket.RcvdCount() == 0 && socket.ReadCount() == 0; }));
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
}

TEST(WSocketConnection, PausedSocketIgnoresDataUntilResumed) {
    Listener listener;
    TWSocket socket;
    int offers = 0;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        ++offers;
        sender->ReceiveText();
    };
    int peer = ConnectTo(socket, listener);
    socket.Pause();
    WriteAll(peer, "while paused");
    ASSERT_TRUE(PumpUntil([&] { return socket.RcvdCount() == 12; }));
    PumpPending();
    EXPECT_EQ(offers, 0);
    socket.Resume();
    ASSERT_TRUE(PumpUntil([&] { return offers > 0 && socket.RcvdCount() == 0; }));
    ::close(peer);
}

TEST(WSocketConnection, CloseLaterAndFreeLaterActFromTheLoop) {
    Listener listener;
    platform::TComponent owner;
    auto* socket = new TWSocket(&owner);
    int closes = 0;
    socket->OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { ++closes; };
    int peer = ConnectTo(*socket, listener);
    socket->CloseLater();
    EXPECT_EQ(socket->State(), wsConnected);
    ASSERT_TRUE(PumpUntil([&] { return socket->State() == wsClosed; }));
    EXPECT_EQ(closes, 1);

    socket->FreeLater();
    EXPECT_EQ(owner.ComponentCount(), 1);
    ASSERT_TRUE(PumpUntil([&] { return owner.ComponentCount() == 0; }));
    ::close(peer);
}

TEST(WSocketConnection, SettingsAreCheckedAndTrimmed) {
    Listener listener;
    TWSocket socket;
    socket.SetLocalAddr("");
    EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(socket.PeerAddr(), "error");
    socket.SetAddr("  127.0.0.1\t ");
    EXPECT_EQ(socket.Addr(), "127.0.0.1");
    int peer = ConnectTo(socket, listener);
    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { ++errors; };
    socket.SetAddr("10.0.0.1");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(socket.Addr(), "127.0.0.1");
    socket.OnError = nullptr;
    EXPECT_THROW(socket.SetPort("81"), ESocketException);
    // An unbound connect reports the port the system chose.
    EXPECT_NE(socket.LocalPortText(), "0");
    EXPECT_EQ(socket.LocalAddrText(), "127.0.0.1");
    ::close(peer);
}

TEST(WSocketConnection, HandlerExceptionsEndInHandleBgExceptionAndAbort) {
    Listener listener;
    TWSocket socket;
    std::string caught;
    socket.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool&) {
        caught = e.what();
    };
    socket.OnSessionConnected = [](TCustomWSocket*, std::uint16_t) {
        throw ESocketException("handler failed");
    };
    socket.SetAddr("127.0.0.1");
    socket.SetPort(listener.Port());
    socket.Connect();
    int peer = listener.Accept();
    ASSERT_TRUE(PumpUntil([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "handler failed");
    EXPECT_EQ(socket.State(), wsClosed);
    ::close(peer);

    // The test message goes the same way; a handler that keeps the socket stops the abort.
    socket.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
        caught = e.what();
        canClose = false;
    };
    platform::PostMessage(socket.WindowHandle(), TestExceptionMessage, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return caught == "Test exception in WSocket"; }));
}

TEST(WSocketConnection, ErrorTexts) {
    EXPECT_EQ(SocketErrorText(12345), "Not a WinSock error");
    EXPECT_EQ(SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrorMessage(10061), "Connection refused (#10061)");
    EXPECT_EQ(SocketErrorText(11004), "No Data");
}

}  // namespace
