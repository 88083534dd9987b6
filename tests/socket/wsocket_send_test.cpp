#include <gtest/gtest.h>

#include <algorithm>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/message_loop.h"
#include "tests/socket/loopback.h"

namespace {

// Shows the send chain's buffers.
class ChainProbe : public TWSocket {
  public:
    std::vector<int> Chain() const {
        std::vector<int> sizes;
        for (const auto& buffer : FSendBuffers)
            sizes.push_back(buffer->WritePos());
        return sizes;
    }
};

// A connected socket whose first, unasked OnDataSent has passed.
class WSocketSend : public LoopbackTest {
  protected:
    void SetUp() override {
        Connect();
        ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
        log.events.clear();
    }
};

TEST(WSocketSendChain, BlocksAreQueuedInChunksOf1460) {
    ChainProbe socket;
    std::string data(3000, 'q');
    socket.QueueSendData(data.data(), 3000);
    EXPECT_EQ(socket.Chain(), (std::vector<int>{1460, 1460, 80}));
    socket.QueueSendData(data.data(), 1400);
    EXPECT_EQ(socket.Chain(), (std::vector<int>{1460, 1460, 1460, 20}));
    socket.QueueSendData(nullptr, 10);
    socket.QueueSendData(data.data(), 0);
    EXPECT_EQ(socket.Chain().size(), 4u);
}

TEST(WSocketSendChain, AbortDropsQueuedBytes) {
    Listener listener;
    ChainProbe socket;
    int peer = ConnectTo(socket, listener);
    std::string data(16 * 1024 * 1024, 'a');
    socket.Send(data.data(), static_cast<int>(data.size()));
    EXPECT_FALSE(socket.Chain().empty());
    socket.Abort();
    EXPECT_TRUE(socket.Chain().empty());
    EXPECT_EQ(socket.State(), wsClosed);
    ::close(peer);
}

TEST_F(WSocketSend, SentEventComesFromTheLoopNeverInsideSend) {
    std::vector<int> sendData;
    socket.OnSendData = [&](TCustomWSocket*, int bytes) { sendData.push_back(bytes); };
    EXPECT_EQ(socket.Send("0123456789", 10), 10);
    EXPECT_EQ(sendData, std::vector<int>{10});
    EXPECT_TRUE(log.events.empty());
    ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
    EXPECT_EQ(ReadExactly(peer, 10), "0123456789");
    // Even an empty send on an empty chain ends with OnDataSent.
    EXPECT_EQ(socket.Send(nullptr, 0), 0);
    ASSERT_TRUE(PumpUntil([&] { return log.Count("sent 0") == 2; }));
}

TEST_F(WSocketSend, PartlyTakenSendDrainsWithOneSentEvent) {
    // More than the kernel holds while the peer does not read.
    std::string data(16 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    EXPECT_EQ(socket.Send(data.data(), static_cast<int>(data.size())),
              static_cast<int>(data.size()));
    PumpPending();
    EXPECT_EQ(log.Count("sent 0"), 0);

    std::string received;
    std::thread reader([&] { received = ReadExactly(peer, data.size()); });
    bool drained = PumpUntil([&] { return log.Has("sent 0"); }, 20000);
    reader.join();
    ASSERT_TRUE(drained);
    PumpPending();
    EXPECT_EQ(log.Count("sent 0"), 1);
    EXPECT_TRUE(received == data);
}

TEST_F(WSocketSend, ResetDuringDrainClosesOnceWithTheResetCode) {
    std::string data(16 * 1024 * 1024, 'r');
    socket.Send(data.data(), static_cast<int>(data.size()));
    ResetAndClose(peer);
    peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
    PumpPending();
    EXPECT_EQ(log.Count("closed 10054"), 1);
    EXPECT_EQ(log.Count("closed 0"), 0);
    // The write event that found the reset reports no sending after the close.
    auto closed = std::find(log.events.begin(), log.events.end(), "closed 10054");
    EXPECT_EQ(std::find(closed, log.events.end(), "sent 0"), log.events.end());
}

TEST_F(WSocketSend, CloseFromOnSendDataStopsTheDrainWithOneSessionClosed) {
    socket.OnSendData = [](TCustomWSocket* sender, int) { sender->Close(); };
    std::string data(3000, 's');
    EXPECT_EQ(socket.Send(data.data(), 3000), 3000);
    PumpPending();
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_EQ(log.Count("closed 10038"), 0);
    socket.OnSendData = nullptr;
    ExpectNextSessionClosesOnce();
}

TEST_F(WSocketSend, FlushFromOnSendDataReturnsAndTheDataGoesOut) {
    // Should Flush wait for the drain it is called from, a message posted before it gives up.
    bool flushReturned = false;
    bool stuck = false;
    platform::HWND giveUp = platform::AllocateHWnd(
        [&](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
            stuck = !flushReturned;
            if (stuck) socket.Abort();
            return platform::LRESULT{0};
        });
    socket.OnSendData = [&](TCustomWSocket* sender, int) {
        if (flushReturned) return;
        platform::PostMessage(giveUp, platform::WM_USER, 0, 0);
        sender->Flush();
        flushReturned = true;
    };
    std::string data(3000, 'f');
    socket.Send(data.data(), 3000);
    PumpPending();
    platform::DestroyWindow(giveUp);
    EXPECT_FALSE(stuck);
    EXPECT_TRUE(ReadExactly(peer, 3000) == data);
}

using WSocketSendUnconnected = LoopbackTest;

TEST_F(WSocketSendUnconnected, SendIsRefusedAndCloses) {
    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { ++errors; };
    StartConnect(listener.Port());
    ASSERT_EQ(socket.State(), wsConnecting);
    EXPECT_EQ(socket.Send("x", 1), -1);
    EXPECT_EQ(socket.LastError(), 10057);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(socket.State(), wsClosed);
    EXPECT_EQ(log.Count("closed 10057"), 1);
    peer = listener.Accept();

    TWSocket closed;
    EXPECT_EQ(ErrorTextOf([&] { closed.SendText("x"); }),
              "Socket is not connected (#10057 in Send)");
}

}  // namespace
