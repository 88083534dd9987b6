#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "tests/socket/loopback.h"

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
    PeerWrites({"0123456789A", "ok\r\n"});
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
