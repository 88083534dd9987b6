#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/component.h"
#include "tests/socket/loopback.h"

namespace {

using Events = std::vector<std::string>;
using WSocketConnection = LoopbackTest;

TEST_F(WSocketConnection, ConnectsExchangesAndSeesThePeerClose) {
    std::string received;
    ReceiveInto(socket, received);
    Connect("localhost");
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

    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    PumpPending();
    EXPECT_EQ(log.Count("closed 0"), 1);
    // Every close returns to the defaults: Addr and Port must be written again.
    EXPECT_EQ(socket.Addr(), "localhost");
    EXPECT_EQ(ErrorTextOf([&] { socket.Connect(); }), "Connect: No Port Specified");
}

TEST_F(WSocketConnection, OwnCloseTwiceRaisesSessionClosedOnce) {
    Connect();
    socket.Close();
    socket.Close();
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_EQ(ReadToEnd(peer), "");
    PumpPending();
    EXPECT_EQ(log.Count("closed 0"), 1);

    TWSocket idle;
    EventLog idleLog(idle);
    idle.Close();
    EXPECT_TRUE(idleLog.events.empty());
}

TEST_F(WSocketConnection, RefusedConnectReportsThroughTheEvents) {
    StartConnect(ClosedPort());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    PumpPending();
    EXPECT_EQ(log.events, (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                                  "connected 10061", "state wsClosed", "closed 0"}));
}

TEST_F(WSocketConnection, AConnectThatFailsAtOnceLeavesNoHandleBehind) {
    // An address of no interface here: binding the local end fails.
    socket.SetLocalAddr("192.0.2.1");
    socket.SetAddr("127.0.0.1");
    socket.SetPort(listener.Port());
    EXPECT_EQ(ErrorTextOf([&] { socket.Connect(); }).rfind("Bind socket failed - ", 0), 0u);
    EXPECT_EQ(socket.SocketHandle(), platform::INVALID_SOCKET);
    EXPECT_EQ(socket.State(), wsClosed);
    // So the object connects again without a Close.
    socket.SetLocalAddr("");
    Connect();
    EXPECT_EQ(socket.State(), wsConnected);
}

TEST_F(WSocketConnection, SessionClosedHandlerMayConnectAgain) {
    bool retried = false;
    // From the refused connect's close, and then from the peer's close with a Close first.
    bool closeFirst = false;
    socket.OnSessionClosed = [&](TCustomWSocket* sender, std::uint16_t errCode) {
        log.events.push_back("closed " + std::to_string(errCode));
        if (retried) return;
        retried = true;
        if (closeFirst) sender->Close();
        StartConnect(listener.Port());
    };
    StartConnect(ClosedPort());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
    peer = listener.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(socket.State(), wsConnected);
    EXPECT_EQ(socket.Port(), listener.Port());
    // The new connection reports its own close.
    socket.Close();
    EXPECT_EQ(log.Count("closed 0"), 2);

    ClosePeer();
    Connect();
    retried = false;
    closeFirst = true;
    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return retried; }));
    peer = listener.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsConnected; }));
}

TEST_F(WSocketConnection, PendingDataIsOfferedBeforeTheCloseEvenWithoutReceiveLoop) {
    socket.SetComponentOptions({wsoNoReceiveLoop});
    std::string received;
    std::size_t receivedAtClose = 0;
    ReceiveInto(socket, received);
    socket.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) {
        receivedAtClose = received.size();
    };
    Connect();
    WriteAll(peer, std::string(30000, 'x'));
    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    EXPECT_EQ(receivedAtClose, 30000u);
}

TEST_F(WSocketConnection, HandlerClosingInTheCloseEventsLoopEndsTheSessionOnce) {
    socket.SetComponentOptions({wsoNoReceiveLoop});
    std::string received;
    ReceiveInto(socket, received, 10);
    socket.OnDataAvailable = [&, receive = socket.OnDataAvailable](TCustomWSocket* sender,
                                                                   std::uint16_t errCode) {
        receive(sender, errCode);
        if (received.size() == 100) sender->Close();
    };
    Connect();
    // Data and close arrive together; the close event's loop reads the rest, and the handler
    // closes on the last block.
    WriteAll(peer, std::string(100, 'z'));
    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    PumpPending();
    EXPECT_EQ(received.size(), 100u);
    EXPECT_EQ(log.Count("closed 0"), 1);
    ExpectNextSessionClosesOnce();
}

TEST_F(WSocketConnection, DataWithoutAHandlerIsReadAndDropped) {
    Connect();
    WriteAll(peer, std::string(5000, 'y'));
    ASSERT_TRUE(PumpUntil([&] { return socket.RcvdCount() == 0 && socket.ReadCount() == 0; }));
    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
}

TEST_F(WSocketConnection, PausedSocketIgnoresDataUntilResumed) {
    int offers = 0;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        ++offers;
        sender->ReceiveText();
    };
    Connect();
    socket.Pause();
    WriteAll(peer, "while paused");
    ASSERT_TRUE(PumpUntil([&] { return socket.RcvdCount() == 12; }));
    PumpPending();
    EXPECT_EQ(offers, 0);
    socket.Resume();
    ASSERT_TRUE(PumpUntil([&] { return offers > 0 && socket.RcvdCount() == 0; }));
}

// A handler that pauses inside the close event's loop stops the offers; the rest and the close
// come after Resume, so a paused reader loses nothing and sees no early close.
TEST_F(WSocketConnection, PauseInTheCloseEventHoldsTheRestAndTheClose) {
    socket.SetComponentOptions({wsoNoReceiveLoop});
    std::string received;
    ReceiveInto(socket, received, 1000);
    socket.OnDataAvailable = [&, receive = socket.OnDataAvailable](TCustomWSocket* sender,
                                                                   std::uint16_t errCode) {
        receive(sender, errCode);
        if (received.size() == 2000) sender->Pause();
    };
    Connect();
    WriteAll(peer, std::string(5000, 'p'));
    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 2000; }));
    PumpPending();
    EXPECT_EQ(received.size(), 2000u);
    EXPECT_FALSE(log.Has("closed 0"));
    socket.Resume();
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    EXPECT_EQ(received.size(), 5000u);
    EXPECT_EQ(log.Count("closed 0"), 1);
}

TEST(WSocketOwned, CloseLaterAndFreeLaterActFromTheLoop) {
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

TEST_F(WSocketConnection, SettingsAreCheckedAndTrimmed) {
    socket.SetLocalAddr("");
    EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(socket.PeerAddr(), "error");
    socket.SetAddr("  127.0.0.1\t ");
    EXPECT_EQ(socket.Addr(), "127.0.0.1");
    Connect();
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
}

TEST_F(WSocketConnection, HandlerExceptionsEndInHandleBgExceptionAndAbort) {
    std::string caught;
    bool keep = false;
    socket.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
        caught = e.what();
        if (keep) canClose = false;
    };
    socket.OnSessionConnected = [](TCustomWSocket*, std::uint16_t) {
        throw ESocketException("handler failed");
    };
    StartConnect(listener.Port());
    peer = listener.Accept();
    ASSERT_TRUE(PumpUntil([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "handler failed");
    EXPECT_EQ(socket.State(), wsClosed);

    // The test message goes the same way; a handler that keeps the socket stops the abort.
    keep = true;
    platform::PostMessage(socket.WindowHandle(), TestExceptionMessage, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return caught == "Test exception in WSocket"; }));
}

TEST(WSocketErrors, Texts) {
    EXPECT_EQ(SocketErrorText(12345), "Not a WinSock error");
    EXPECT_EQ(SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrorMessage(10061), "Connection refused (#10061)");
    EXPECT_EQ(SocketErrorText(11004), "No Data");
}

}  // namespace
