#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <thread>

#include "tests/socket/loopback.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

namespace {

using Texts = std::vector<std::string>;

// A line-mode socket connected to a plain peer; each OnDataAvailable is recorded as the offered
// RcvdCount and the text read in blocks of readSize.
class LineMode : public LoopbackTest {
  protected:
    LineMode() {
        socket.SetLineMode(true);
        socket.OnDataAvailable = [this](TCustomWSocket* sender, std::uint16_t) {
            offered.push_back(sender->RcvdCount());
            std::string block(static_cast<std::size_t>(readSize), '\0');
            int n = sender->Receive(block.data(), readSize);
            reads.push_back(n > 0 ? block.substr(0, static_cast<std::size_t>(n)) : "");
            if (afterRead) afterRead();
        };
        Connect();
    }
    // Writes each part and lets the socket take it before the next.
    void PeerWrites(const Texts& parts) {
        for (const auto& part : parts) {
            WriteAll(peer, part);
            PumpPending();
        }
    }

    int readSize = 1000;
    std::function<void()> afterRead;
    std::vector<int> offered;
    Texts reads;
};

TEST_F(LineMode, OffersOneCompleteLineAtATimeAndTheRestAtTheClose) {
    PeerWrites({"AB\r\nCD"});
    EXPECT_EQ(offered, std::vector<int>{4});
    EXPECT_EQ(reads, Texts{"AB\r\n"});
    // A terminator split between two receptions; the unterminated rest comes before the close.
    PeerWrites({"E\r", "\nxyz"});
    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    EXPECT_EQ(reads, (Texts{"AB\r\n", "CDE\r\n", "xyz"}));
    EXPECT_EQ(offered, (std::vector<int>{4, 5, 3}));
}

TEST_F(LineMode, SmallReadsTakeTheLineInPiecesAndSwitchingOffOffersTheRestRaw) {
    readSize = 2;
    // After the first piece of the second line the handler switches line mode off.
    afterRead = [&] {
        if (reads.size() == 3) socket.SetLineMode(false);
    };
    PeerWrites({"abc\r\nline\r\nraw"});
    ASSERT_GE(reads.size(), 4u);
    EXPECT_EQ(std::vector<int>(offered.begin(), offered.begin() + 3), (std::vector<int>{5, 3, 1}));
    EXPECT_EQ(reads[0] + reads[1] + reads[2], "abc\r\n");
    std::string rest;
    for (std::size_t i = 4; i < reads.size(); ++i)
        rest += reads[i];
    EXPECT_EQ(reads[3] + rest, "line\r\nraw");
}

TEST_F(LineMode, EmptyLineEndIsLineModeOff) {
    socket.SetLineEnd("");
    PeerWrites({"no\r\nlines"});
    EXPECT_EQ(reads, Texts{"no\r\nlines"});
}

TEST_F(LineMode, LineLimitDiscardsUnlessTheHandlerKeeps) {
    socket.SetLineLimit(10);
    std::vector<int> exceeded;
    bool keep = false;
    socket.OnLineLimitExceeded = [&](TCustomWSocket*, int length, bool& clearData) {
        exceeded.push_back(length);
        clearData = !keep;
    };
    PeerWrites({"0123456789A", "ok\r\nok\r\n"});
    EXPECT_EQ(exceeded, std::vector<int>{11});
    EXPECT_EQ(reads, Texts{"ok\r\n"});

    // Kept bytes are looked at again on the next reception, which waits while they are held.
    keep = true;
    PeerWrites({"0123456789A", "B\r\n"});
    EXPECT_GE(exceeded.size(), 3u);
    EXPECT_EQ(exceeded.back(), 11);
    EXPECT_EQ(reads, Texts{"ok\r\n"});
    socket.SetLineLimit(100);
    PumpPending();
    EXPECT_EQ(reads, (Texts{"ok\r\n", "0123456789AB\r\n"}));
}

TEST_F(LineMode, KeptOverLimitBytesStopReceptionInsteadOfGrowingAndLoseNothing) {
    socket.SetLineLimit(1000);
    std::vector<int> exceeded;
    socket.OnLineLimitExceeded = [&](TCustomWSocket*, int length, bool& clearData) {
        exceeded.push_back(length);
        clearData = false;
    };
    const std::string line(1 << 20, 'x');
    std::thread writer([&] { WriteAll(peer, line + "\r\n"); });
    ASSERT_TRUE(PumpUntil([&] { return exceeded.size() >= 3; }));
    PumpPending();
    // The held bytes never grow past the first over-limit reception.
    for (int length : exceeded)
        EXPECT_EQ(length, exceeded.front());
    EXPECT_LT(exceeded.front(), static_cast<int>(line.size()));

    std::string raw;
    ReceiveInto(socket, raw, 65536);
    socket.SetLineMode(false);
    ASSERT_TRUE(PumpUntil([&] { return raw.size() >= line.size() + 2; }));
    writer.join();
    EXPECT_EQ(raw, line + "\r\n");
}

TEST_F(LineMode, LineLimitCountsTheLineWithoutItsTerminatorAndDiscardsAllOfALongLine) {
    struct Case {
        const char* label;
        int limit;
        Texts parts;
        Texts lines;
        int exceeded;
    } cases[] = {
        {"exactly the limit", 10, {"0123456789\r\n"}, {"0123456789\r\n"}, 0},
        {"terminator split at the limit", 10, {"0123456789\r", "\n"}, {"0123456789\r\n"}, 0},
        {"long line in one write", 10, {"0123456789ABCDEF\r\nnext\r\n"}, {"next\r\n"}, 1},
        {"long line in pieces", 10, {"0123456789AB", "CD\r", "\nnext\r\n"}, {"next\r\n"}, 1},
        {"long line far past the limit", 1000, {std::string(5000, 'x') + "\r\nafter\r\n"},
         {"after\r\n"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        socket.SetLineLimit(c.limit);
        int exceeded = 0;
        socket.OnLineLimitExceeded = [&](TCustomWSocket*, int, bool&) { ++exceeded; };
        reads.clear();
        PeerWrites(c.parts);
        EXPECT_EQ(reads, c.lines);
        EXPECT_EQ(exceeded, c.exceeded);
    }
}

TEST_F(LineMode, BytesKeptOverTheLimitAndTheirRestAreOfferedAtTheClose) {
    socket.SetLineLimit(10);
    socket.OnLineLimitExceeded = [](TCustomWSocket*, int, bool& clearData) { clearData = false; };
    PeerWrites({"0123456789AB", "CD", "rest\r\n"});
    ClosePeer();
    ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
    std::string all;
    for (const auto& read : reads)
        all += read;
    EXPECT_EQ(all, "0123456789ABCDrest\r\n");
}

TEST_F(LineMode, OfferingWaitsForAHandlerThatDoesNotReadAndForPause) {
    bool reading = false;
    int offers = 0;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        ++offers;
        if (!reading) return;
        std::string block(100, '\0');
        int n = sender->Receive(block.data(), 100);
        reads.push_back(block.substr(0, static_cast<std::size_t>(std::max(n, 0))));
        if (reads.size() == 1) sender->Pause();
    };
    // Not read: offered once per notification instead of without end.
    PeerWrites({"a\r\nb\r\n"});
    EXPECT_EQ(offers, 1);
    // Read, but paused after the first line: the rest waits for Resume.
    reading = true;
    PeerWrites({"c\r\n"});
    EXPECT_EQ(reads, Texts{"a\r\n"});
    socket.Resume();
    PumpPending();
    EXPECT_EQ(reads, (Texts{"a\r\n", "b\r\n", "c\r\n"}));

    // Held bytes offered raw after line mode goes off: again once, not without end.
    reading = false;
    offers = 0;
    PeerWrites({"d\r\nraw"});
    socket.SetLineMode(false);
    PumpPending();
    EXPECT_LE(offers, 3);
}

TEST_F(LineMode, EchoToAPeerThatResetsEndsTheLineAtTheClose) {
    socket.SetLineEcho(true);
    socket.OnError = [](TCustomWSocket*) {};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        log.events.clear();
        reads.clear();
        // Whatever the timing, nothing is offered after the close.
        socket.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { reads.push_back("closed"); };
        WriteAll(peer, "abc\r\nxyz");
        ResetAndClose(peer);
        peer = -1;
        ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
        PumpPending();
        ASSERT_FALSE(reads.empty());
        EXPECT_EQ(reads.back(), "closed");
        Connect();
    }
    // The next connection starts with its own bytes, not with what the last one left.
    reads.clear();
    PeerWrites({"next\r\n"});
    EXPECT_EQ(reads, Texts{"next\r\n"});
}

// The peer's close has reached the descriptor behind all of its data.
bool PeerClosedBehind(int fd) {
    pollfd waiting{fd, POLLRDHUP, 0};
    return ::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLRDHUP);
}

TEST(LineModeOverTls, TheLastRecordsAndTheCloseTakenTogetherLoseNothing) {
    using test_support::Certificates;
    std::string answer;
    for (int i = 0; answer.size() < 98000; ++i)
        answer += "line " + std::to_string(i) + " of the answer\r\n";
    answer += "last";
    for (bool withHandler : {true, false}) {
        SCOPED_TRACE(withHandler ? "read by the handler" : "no handler");
        test_support::TlsTestServer server(Certificates().server);
        server.AddConnection({answer});
        TWSocket socket;
        EventLog log{socket};
        std::string received;
        if (withHandler) ReceiveInto(socket, received, 1000);
        socket.SetLineMode(true);
        socket.SetSslEnable(true);
        socket.SetSslExtraCaFile(Certificates().caFile);
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(server.Port()));
        socket.Connect();
        ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
        socket.SendText("GET / HTTP/1.0\r\n\r\n");
        // Everything, close_notify and the close included, is there before it is read.
        socket.Pause();
        ASSERT_TRUE(PumpUntil([&] { return PeerClosedBehind(socket.SocketHandle()); }));
        socket.Resume();
        ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsClosed; }));
        if (withHandler) {
            EXPECT_EQ(received, answer);
        }
        EXPECT_EQ(log.Count("closed 0"), 1);
    }
}

TEST_F(LineMode, EditingAndEcho) {
    socket.SetLineEdit(true);
    socket.SetLineEcho(true);
    PeerWrites({"ab\bc\r\n", "abc\tz\r\n"});
    EXPECT_EQ(reads, (Texts{"ac\r\n", "abc     z\r\n"}));
    EXPECT_EQ(ReadExactly(peer, 19), "ab\b \bc\r\nabc     z\r\n");
}

TEST_F(LineMode, SendTextLine) {
    EXPECT_EQ(socket.SendTextLine(""), 0);
    EXPECT_EQ(socket.SendTextLine("hi"), 4);
    EXPECT_EQ(ReadExactly(peer, 4), "hi\r\n");
}

}  // namespace
