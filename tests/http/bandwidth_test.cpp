// Bandwidth control: the counting per sampling period, reading a large answer at the limit, the
// pause lifted for the next response on a kept connection, and no timer without the option.
#include <gtest/gtest.h>

#include "http/bandwidth_throttle.h"
#include "tests/http/client_harness.h"

using test_support::AfterResponse;
using test_support::NormalResponse;
using test_support::RawResponse;

namespace {

TEST(BandwidthThrottleTest, AllowancePauseAndCarriedExcess) {
    TBandwidthThrottle throttle;
    throttle.Start(10000, 500);
    EXPECT_EQ(throttle.Quota(), 5000);
    throttle.Start(10000, 1000);
    EXPECT_EQ(throttle.Quota(), 10000);

    EXPECT_FALSE(throttle.Count(10000));  // reaching the allowance is not passing it
    EXPECT_TRUE(throttle.Count(8190));
    EXPECT_FALSE(throttle.Count(100));  // already paused
    EXPECT_TRUE(throttle.Paused());
    EXPECT_TRUE(throttle.Tick());
    EXPECT_EQ(throttle.Bytes(), 8290);  // the excess counts against the new period
    EXPECT_TRUE(throttle.Count(8190));
    EXPECT_TRUE(throttle.Tick());
    EXPECT_EQ(throttle.Bytes(), 6480);
    EXPECT_FALSE(throttle.Tick());  // a period without a pause starts from nothing
    EXPECT_EQ(throttle.Bytes(), 0);

    // A read larger than the allowance keeps reading paused until the periods have paid for it.
    throttle.Start(10000, 250);
    EXPECT_TRUE(throttle.Count(8190));
    EXPECT_FALSE(throttle.Tick());
    EXPECT_FALSE(throttle.Tick());
    EXPECT_TRUE(throttle.Tick());
    EXPECT_EQ(throttle.Bytes(), 690);
}

// 10000 bytes per period; the periods are a quarter second long to keep the test short.
void LimitTo10000BytesPerPeriod(THttpCli& cli) {
    cli.SetOptions({httpoBandwidthControl});
    cli.BandwidthLimit = 40000;
    cli.BandwidthSampling = 250;
}

TEST_F(HttpClientTest, AnAnswerSentAtOnceIsReadAtTheLimit) {
    const std::string body(50000, 'b');
    server.AddConnection(NormalResponse(200, body));
    LimitTo10000BytesPerPeriod(h.cli);
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), body);
    EXPECT_TRUE(h.cli.CtrlSocket().ComponentOptions().Contains(wsoNoReceiveLoop));

    // Up to each tick at most the allowance of the periods so far plus the one read (at most
    // 8190 bytes) that passed it; a loaded machine can only make the counts smaller.
    const auto& counts = h.cli.bodyCountAtTick;
    for (std::size_t i = 0; i < counts.size(); ++i)
        EXPECT_LE(counts[i], static_cast<std::int64_t>(i + 1) * 10000 + 8190) << "tick " << i + 1;
    // So 50000 bytes need at least five periods, and the timer stops with the document.
    EXPECT_GE(counts.size(), 4u);
    const std::size_t ticksAtEnd = counts.size();
    h.RunUntil([] { return false; }, 300ms);
    EXPECT_EQ(counts.size(), ticksAtEnd);
}

TEST_F(HttpClientTest, APauseInForceAtTheEndOfADocumentDoesNotStopTheNextResponse) {
    // Two reads of a 15000-byte answer pass the allowance just as the document ends.
    auto first = NormalResponse(200, std::string(15000, '1'), {{"Connection", "keep-alive"}});
    first.after = AfterResponse::KeepOpen;
    server.AddConnection({first, NormalResponse(200, "second")});
    LimitTo10000BytesPerPeriod(h.cli);
    h.cli.SetRequestVer("1.1");
    EXPECT_FALSE(h.Get(server.Url("/1")).raised);
    GetOutcome second = h.Get(server.Url("/2"));
    EXPECT_FALSE(second.raised) << second.message;
    EXPECT_EQ(h.body.Data(), std::string(15000, '1') + "second");
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

TEST_F(HttpClientTest, WithoutTheOptionNoTimerRunsWhateverTheNumbers) {
    server.AddConnection(NormalResponse(200, std::string(50000, 'b')));
    h.cli.BandwidthLimit = 1;
    h.cli.BandwidthSampling = 0;
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    h.RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(h.body.Data().size(), 50000u);
    EXPECT_TRUE(h.cli.bodyCountAtTick.empty());
    EXPECT_FALSE(h.cli.CtrlSocket().ComponentOptions().Contains(wsoNoReceiveLoop));
}

}  // namespace
