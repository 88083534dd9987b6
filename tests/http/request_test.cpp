// What the client sends: the request line and header lines in their order, through a proxy or
// not, the one-shot range, the POST body, and the settings that are checked when written.
#include <gtest/gtest.h>

#include "http/http_date.h"
#include "tests/http/client_harness.h"

using test_support::AfterResponse;
using test_support::NormalResponse;

namespace {

const std::string kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
const std::string kAgentLine = "User-Agent: Mozilla/4.0 (compatible; QTX)\r\n";

using HttpRequestTest = HttpClientTest;

TEST_F(HttpRequestTest, GetWithTheProgramsSettingsSendsExactlyTheseBytes) {
    server.AddConnection(NormalResponse(200, "episode"));
    GetOutcome outcome = h.Get(server.Url("/a/b.mp3?x=1"));

    EXPECT_FALSE(outcome.raised) << outcome.message;
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].raw, "GET /a/b.mp3?x=1 HTTP/1.0\r\n" + kAcceptLine + kAgentLine +
                                            "Host: 127.0.0.1:" + std::to_string(server.Port()) +
                                            "\r\n\r\n");
    EXPECT_EQ(h.body.Data(), "episode");
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_EQ(h.cli.DocumentName(), "b.mp3");
    EXPECT_TRUE(h.HasTrace("connect to 127.0.0.1/" + std::to_string(server.Port())));
}

TEST_F(HttpRequestTest, ThroughAProxyTheRequestLineCarriesTheAbsoluteAddress) {
    test_support::ScriptedHttpServer& proxy = server;
    proxy.AddConnection(NormalResponse(200, "via proxy"));
    proxy.AddConnection(NormalResponse(200, "again"));
    h.cli.Proxy = "127.0.0.1";
    h.cli.ProxyPort = std::to_string(proxy.Port());
    EXPECT_FALSE(h.Get("http://example.org:8080/a/b.mp3?x=1").raised);

    // The proxy text's own port wins over ProxyPort; a URL without port keeps it out.
    h.cli.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    h.cli.ProxyPort = "80";
    EXPECT_FALSE(h.Get("http://example.org/").raised);

    ASSERT_EQ(proxy.Requests().size(), 2u);
    EXPECT_EQ(proxy.Requests()[0].raw, "GET http://example.org:8080/a/b.mp3?x=1 HTTP/1.0\r\n" +
                                           kAcceptLine + kAgentLine +
                                           "Host: example.org:8080\r\n\r\n");
    EXPECT_EQ(proxy.Requests()[1].raw, "GET http://example.org/ HTTP/1.0\r\n" + kAcceptLine +
                                           kAgentLine + "Host: example.org\r\n\r\n");
    EXPECT_EQ(h.body.Data(), "via proxyagain");
}

TEST_F(HttpRequestTest, EveryOptionalLineInOrderAndTheRangeOnlyOnce) {
    auto first =
        NormalResponse(206, "part", {{"Accept-Ranges", "bytes"}, {"Connection", "keep-alive"}});
    first.after = AfterResponse::KeepOpen;
    server.AddConnection({first, NormalResponse(200, "whole")});
    THttpCli& cli = h.cli;
    cli.SetRequestVer("1.1");
    cli.Sender = "me@example.org";
    cli.Reference = "http://ref/";
    cli.Connection = "Keep-Alive";
    cli.AcceptLanguage = "de";
    cli.NoCache = true;
    cli.ProxyConnection = "Keep-Alive";
    cli.ModifiedSince = 39146 + (14 * 3600 + 3 * 60 + 9) / 86400.0;  // 5 March 2007, 14:03:09
    cli.Cookie = "a=b";
    cli.ContentRangeBegin = "100";
    std::vector<std::string> commands;
    cli.OnCommand = [&commands](THttpCli*, std::string& line) {
        commands.push_back(line);
        if (line.rfind("Cookie:", 0) == 0) line = "Cookie: changed";
    };
    cli.OnBeforeHeaderSend = [](THttpCli*, const std::string& method,
                                std::vector<std::string>& headers) {
        EXPECT_EQ(method, "GET");
        headers.push_back("X-Extra: 1");
    };
    EXPECT_FALSE(h.Get(server.Url("/f")).raised);
    EXPECT_EQ(cli.AcceptRanges(), "bytes");
    EXPECT_EQ(commands.back(), "");  // the empty line passes through OnCommand too
    EXPECT_FALSE(h.Get(server.Url("/f")).raised);
    EXPECT_EQ(cli.AcceptRanges(), "");

    ASSERT_EQ(server.Requests().size(), 2u);
    const std::string common = kAcceptLine +
                               "Referer: http://ref/\r\n"
                               "Connection: Keep-Alive\r\n"
                               "Accept-Language: de\r\n" +
                               kAgentLine + "Host: 127.0.0.1:" + std::to_string(server.Port()) +
                               "\r\n"
                               "Pragma: no-cache\r\n"
                               "Proxy-Connection: Keep-Alive\r\n"
                               "If-Modified-Since: Mon, 05 Mar 2007 14:03:09 GMT\r\n"
                               "Cookie: changed\r\n";
    EXPECT_EQ(server.Requests()[0].raw, "GET /f HTTP/1.1\r\nFrom: me@example.org\r\n" + common +
                                            "Range: bytes=100-\r\nX-Extra: 1\r\n\r\n");
    EXPECT_EQ(server.Requests()[1].raw,
              "GET /f HTTP/1.1\r\nFrom: me@example.org\r\n" + common + "X-Extra: 1\r\n\r\n");
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

TEST_F(HttpRequestTest, PostSendsItsBodyInBlocksAfterTheHeader) {
    server.AddConnection(NormalResponse(200, "stored"));
    std::string upload(20000, 'u');
    upload.replace(0, 7, "a=1&b=2");
    platform::MemoryStream source(upload);
    source.SetPosition(3);  // read from the current position on
    h.cli.UploadStream = &source;
    std::vector<int> blocks;
    int sendBegin = 0, sendEnd = 0;
    h.cli.OnSendBegin = [&](THttpCli*) { ++sendBegin; };
    h.cli.OnSendData = [&](THttpCli*, const char*, int len) { blocks.push_back(len); };
    h.cli.OnSendEnd = [&](THttpCli*) { ++sendEnd; };
    h.cli.URL = server.Url("/post");

    h.cli.RunRequest(httpRqPost);
    h.ProcessPending();

    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].raw, "POST /post HTTP/1.0\r\n" + kAcceptLine +
                                            "Content-Type: application/x-www-form-urlencoded\r\n" +
                                            kAgentLine +
                                            "Host: 127.0.0.1:" + std::to_string(server.Port()) +
                                            "\r\nContent-Length: 19997\r\n\r\n" + upload.substr(3));
    EXPECT_EQ(blocks, (std::vector<int>{8193, 8193, 3611}));
    EXPECT_EQ(sendBegin, 1);
    EXPECT_EQ(sendEnd, 1);
    EXPECT_EQ(h.body.Data(), "stored");
    EXPECT_EQ(h.requestDoneCount, 1);
    EXPECT_EQ(h.events.back(), "RequestDone 2 0");
}

TEST_F(HttpRequestTest, MisuseIsRefusedWithoutChangingTheState) {
    THttpCli cli;
    cli.SetName("Client7");
    cli.SetRequestVer("1.0");
    try {
        cli.SetRequestVer("2.0");
        FAIL() << "accepted HTTP/2.0";
    } catch (const EHttpException& error) {
        EXPECT_EQ(error.ErrorNumber, 5);
        EXPECT_STREQ(error.what(), "Insupported HTTP version");
    }
    EXPECT_EQ(cli.RequestVer(), "1.0");

    try {
        cli.StartRequest(httpRqPut);
        FAIL() << "a PUT without a stream was started";
    } catch (const EHttpException& error) {
        EXPECT_EQ(error.ErrorNumber, 2);
        EXPECT_STREQ(error.what(), "HTTP component has nothing to post or put");
    }
    EXPECT_EQ(cli.State(), httpReady);

    // Bandwidth control that could never let reading go on is refused before anything starts.
    const std::pair<int, int> unusableBandwidth[] = {{10000, 0}, {10000, -5}, {0, 1000}, {1, 500}};
    cli.URL = "http://127.0.0.1/";
    cli.SetOptions({httpoBandwidthControl});
    for (auto [limit, sampling] : unusableBandwidth) {
        cli.BandwidthLimit = limit;
        cli.BandwidthSampling = sampling;
        try {
            cli.StartRequest(httpRqGet);
            ADD_FAILURE() << "started with limit " << limit << " and sampling " << sampling;
        } catch (const EHttpException& error) {
            EXPECT_EQ(error.ErrorNumber, httpErrBandwidthSettings);
        }
        EXPECT_EQ(cli.State(), httpReady);
    }

    // Bit n for option n; the content-coding bit goes through its handler and back.
    THttpCliOptions options{httpoEnableContentCoding, httpoNoBasicAuth};
    cli.SetOptions(options);
    EXPECT_EQ(cli.Options(), options);
    EXPECT_EQ(cli.Options().Bits(), 0b1001);

    cli.SetMultiThreaded(true);
    EXPECT_TRUE(cli.CtrlSocket().MultiThreaded());
}

TEST_F(HttpRequestTest, ASecondRequestWhileOneRunsIsRefusedAsBusy) {
    server.AddConnection(test_support::StalledResponse());
    h.cli.URL = server.Url("/slow");
    h.cli.StartRequest(httpRqGet);
    try {
        h.cli.Get();
        FAIL() << "a second request was started";
    } catch (const EHttpException& error) {
        EXPECT_EQ(error.ErrorNumber, 1);
        EXPECT_STREQ(error.what(), "HTTP component HttpCli1 is busy");
    }
    EXPECT_NE(h.cli.State(), httpReady);  // the first request goes on
    h.cli.Abort();
    EXPECT_TRUE(h.RunUntil([&] { return h.requestDoneCount == 1; }));
}

TEST(HttpDateTest, WritesTheDateAsStoredWithItsWeekday) {
    EXPECT_EQ(HttpDateText(39146 + (14 * 3600 + 3 * 60 + 9) / 86400.0),
              "Mon, 05 Mar 2007 14:03:09");
    EXPECT_EQ(HttpDateText(2), "Mon, 01 Jan 1900 00:00:00");
    EXPECT_EQ(HttpDateText(0.5), "Sat, 30 Dec 1899 12:00:00");
    EXPECT_EQ(HttpDateText(45351.999999999), "Fri, 01 Mar 2024 00:00:00");  // 29 Feb + rounding
}

}  // namespace
