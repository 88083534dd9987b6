#include <gtest/gtest.h>

#include "tests/socket/loopback.h"

namespace {

using WSocketLookup = LoopbackTest;

TEST_F(WSocketLookup, DottedAddressIsAnsweredInsideTheCall) {
    socket.StartLookup("10.1.2.3");
    EXPECT_EQ(log.events, std::vector<std::string>{"lookup 0"});
    EXPECT_EQ(socket.DnsResult(), "10.1.2.3");
    EXPECT_EQ(socket.DnsResultList(), std::vector<std::string>{"10.1.2.3"});
}

TEST_F(WSocketLookup, NamesAreLookedUpInTheBackground) {
    // Only the second of two lookups in a row reports; 256.1.2.3 is a name, not an address.
    socket.StartLookup("256.1.2.3");
    socket.StartLookup("localhost");
    EXPECT_TRUE(log.events.empty());
    ASSERT_TRUE(PumpUntil([&] { return !log.events.empty(); }));
    PumpPending();
    EXPECT_EQ(log.events, std::vector<std::string>{"lookup 0"});
    EXPECT_EQ(socket.DnsResult(), "127.0.0.1");

    log.events.clear();
    socket.StartLookup("nothing-here.invalid");
    ASSERT_TRUE(PumpUntil([&] { return !log.events.empty(); }, 30000));
    EXPECT_TRUE(log.events[0] == "lookup 11001" || log.events[0] == "lookup 11004")
        << log.events[0];
    EXPECT_EQ(socket.DnsResult(), "");
}

TEST_F(WSocketLookup, CancelEndsWithInterruptedAndNoLaterReply) {
    socket.CancelLookup();
    EXPECT_TRUE(log.events.empty());
    socket.StartLookup("localhost");
    socket.CancelLookup();
    EXPECT_EQ(log.events, std::vector<std::string>{"lookup 10004"});
    PumpPending();
    EXPECT_EQ(log.events.size(), 1u);

    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { ++errors; };
    socket.StartLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(log.events.back(), "lookup 10022");
}

TEST(WSocketLookupEnd, DestroyingWithALookupPendingIsQuiet) {
    auto socket = std::make_unique<TWSocket>();
    bool raised = false;
    socket->OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t) { raised = true; };
    socket->StartLookup("localhost");
    socket.reset();
    PumpPending();
    EXPECT_FALSE(raised);
}

TEST_F(WSocketLookup, ReverseLookupOfLoopback) {
    socket.ReverseLookupNow("127.0.0.1");
    ASSERT_EQ(log.events.size(), 1u);
    if (log.events[0] == "lookup 0") {
        EXPECT_FALSE(socket.DnsResult().empty());
    }
    log.events.clear();
    socket.StartReverseLookup("127.0.0.1");
    ASSERT_TRUE(PumpUntil([&] { return !log.events.empty(); }));
}

}  // namespace
