// Following "location" headers: on the same connection or a new one, the relocation limit with and
// without a handler, and relocations through a proxy.
#include <gtest/gtest.h>

#include "platform/message_loop.h"
#include "tests/http/client_harness.h"

using test_support::AfterResponse;
using test_support::NormalResponse;
using test_support::RawResponse;
using test_support::ScriptedHttpServer;
using test_support::ScriptedResponse;

namespace {

using HttpRelocationTest = HttpClientTest;

std::string RequestLine(const test_support::RecordedRequest& request) {
    return request.raw.substr(0, request.raw.find("\r\n"));
}

TEST_F(HttpRelocationTest, RelocationFromAClosingServerTakesANewConnection) {
    server.AddConnection(
        RawResponse("HTTP/1.1 302 Found\r\nLocation: /new\r\nConnection: close\r\n\r\n"));
    server.AddConnection(NormalResponse(200, "moved here"));
    h.cli.SetRequestVer("1.1");
    EXPECT_FALSE(h.Get(server.Url("/old/x")).raised);

    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(RequestLine(server.Requests()[1]), "GET /new HTTP/1.1");
    EXPECT_EQ(server.AcceptedConnections(), 2);
    EXPECT_EQ(h.EventsStartingWith("LocationChange"),
              (std::vector<std::string>{"LocationChange 2"}));
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_EQ(h.cli.Location(), server.Url("/new"));
    EXPECT_EQ(h.cli.DocumentName(), "new");
    EXPECT_EQ(h.body.Data(), "moved here");
    EXPECT_EQ(h.requestDoneCount, 1);
}

// An HTTP/1.0 answer without a Connection header ends its connection, even to a 1.1 request: the
// relocation must not be sent on it.
TEST_F(HttpRelocationTest, AnHttp10AnswerClosesSoTheRelocationTakesANewConnection) {
    server.AddConnection(
        RawResponse("HTTP/1.0 302 Found\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n",
                    AfterResponse::KeepOpen));
    server.AddConnection(NormalResponse(200, "moved here"));
    h.cli.SetRequestVer("1.1");
    EXPECT_FALSE(h.Get(server.Url("/old")).raised);
    EXPECT_EQ(server.AcceptedConnections(), 2);
    EXPECT_EQ(h.body.Data(), "moved here");
}

TEST_F(HttpRelocationTest, ALocationWithoutAPathRequestsTheRoot) {
    server.AddConnection(test_support::RedirectResponse(302, server.Url("")));
    server.AddConnection(NormalResponse(200, "root"));
    EXPECT_FALSE(h.Get(server.Url("/old")).raised);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(RequestLine(server.Requests()[1]), "GET / HTTP/1.0");
    EXPECT_EQ(h.body.Data(), "root");
}

TEST_F(HttpRelocationTest, RelocationOnAKeptConnectionReusesIt) {
    server.AddConnection(
        {RawResponse("HTTP/1.1 302 Found\r\nLocation: next?a=1\r\nContent-Length: 0\r\n"
                     "Connection: keep-alive\r\n\r\n",
                     AfterResponse::KeepOpen),
         NormalResponse(200, "second")});
    h.cli.SetRequestVer("1.1");
    EXPECT_FALSE(h.Get(server.Url("/dir/first")).raised);

    EXPECT_EQ(server.AcceptedConnections(), 1);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(RequestLine(server.Requests()[1]), "GET /dir/next?a=1 HTTP/1.1");
    EXPECT_EQ(h.cli.LocationChangeCurCount(), 1);
    EXPECT_EQ(h.body.Data(), "second");
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpRelocationTest, BodyOfARelocatingResponseIsCutFromTheStream) {
    server.AddConnection(NormalResponse(200, "kept"));
    server.AddConnection(test_support::RedirectResponse(302, "/b"));
    server.AddConnection(
        RawResponse("HTTP/1.0 301 Moved\r\nContent-Length: 9\r\nLocation: /real\r\n\r\nnot this!"));
    server.AddConnection(NormalResponse(200, "real one"));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    // What the stream held before the request stays, whatever the chain of relocations.
    EXPECT_FALSE(h.Get(server.Url("/a")).raised);
    EXPECT_EQ(h.body.Data(), "keptreal one");
    EXPECT_EQ(h.cli.BodyReceivedCount(), 8);
    EXPECT_EQ(h.EventsStartingWith("DocBegin").size(), 3u);
    EXPECT_EQ(h.requestDoneCount, 2);
}

// The relocating response ends only when the server closes: the relocation goes on from there.
TEST_F(HttpRelocationTest, RelocationAfterABodyEndedByTheServerClosing) {
    server.AddConnection(
        RawResponse("HTTP/1.0 307 Temporary Redirect\r\nLocation: /next\r\n\r\nold body"));
    server.AddConnection(NormalResponse(200, "new body"));
    GetOutcome outcome = h.Get(server.Url("/first"), 2s);
    EXPECT_FALSE(outcome.raised) << outcome.message;
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(RequestLine(server.Requests()[1]), "GET /next HTTP/1.0");
    EXPECT_EQ(h.body.Data(), "new body");
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpRelocationTest, LimitEndsTheChainWithTheRelocationStatus) {
    for (int i = 0; i < 4; ++i)
        server.AddConnection(test_support::RedirectResponse(302, "/loop"));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    // Each new connection counts twice: 1-2, 3-4, then 5 passes and 6 is refused.
    EXPECT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(h.cli.LocationChangeCurCount(), 6);
    EXPECT_EQ(h.cli.StatusCode(), 302);
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpRelocationTest, HandlerMayAllowMoreRelocations) {
    for (int i = 0; i < 4; ++i)
        server.AddConnection(test_support::RedirectResponse(302, "/loop"));
    server.AddConnection(NormalResponse(200, "finally"));
    std::vector<int> asked;
    h.cli.OnLocationChangeExceeded = [&asked](THttpCli*, const int count, bool& allow) {
        EXPECT_FALSE(allow);
        asked.push_back(count);
        allow = true;
    };
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(asked, (std::vector<int>{6, 7, 8}));
    EXPECT_EQ(h.body.Data(), "finally");
    EXPECT_EQ(h.cli.StatusCode(), 200);
}

TEST_F(HttpRelocationTest, NotFollowingEndsWithTheRelocationResponse) {
    server.AddConnection(test_support::RedirectResponse(302, "/elsewhere"));
    h.cli.FollowRelocation = false;
    const std::string url = server.Url("/here");
    EXPECT_FALSE(h.Get(url).raised);
    EXPECT_EQ(h.cli.StatusCode(), 302);
    EXPECT_EQ(h.cli.Location(), url);
    EXPECT_EQ(server.Requests().size(), 1u);
}

// Cancelling the download while a relocation is under way must end the whole chain: no new
// request may follow the aborted one, and the request ends once.
TEST(HttpAbortTest, WhileARelocationIsPendingEndsTheChain) {
    const auto keptRelocation =
        RawResponse("HTTP/1.1 301 Moved\r\nLocation: /next\r\nContent-Length: 3\r\n\r\nold",
                    AfterResponse::KeepOpen);
    const auto closingRelocation = RawResponse(
        "HTTP/1.1 302 Found\r\nLocation: /next\r\nConnection: close\r\n\r\n", AfterResponse::Stall);
    enum class AbortFrom { DocEnd, HeaderEndLater, LocationChange, LocationChangeLater };
    struct Case {
        ScriptedResponse response;
        AbortFrom from;
    };
    for (const Case& c : {Case{keptRelocation, AbortFrom::DocEnd},
                          Case{keptRelocation, AbortFrom::LocationChangeLater},
                          Case{closingRelocation, AbortFrom::HeaderEndLater},
                          Case{closingRelocation, AbortFrom::LocationChange},
                          Case{closingRelocation, AbortFrom::LocationChangeLater}}) {
        const int index = static_cast<int>(c.from);
        ScriptedHttpServer server;
        server.AddConnection({c.response, NormalResponse(200, "must not come")});
        server.AddConnection(NormalResponse(200, "must not come"));
        ClientHarness h;
        h.cli.SetRequestVer("1.1");
        // "Later" aborts run from the loop, as a click does, after the event's handler returned.
        platform::HWND later = platform::AllocateHWnd(
            [&h](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
                h.cli.Abort();
                return platform::LRESULT(0);
            });
        bool aborted = false;
        auto abortOnce = [&](bool fromLoop) {
            if (aborted) return;
            aborted = true;
            if (fromLoop)
                platform::PostMessage(later, platform::WM_USER, 0, 0);
            else
                h.cli.Abort();
        };
        h.cli.OnDocEnd = [&](THttpCli*) {
            if (c.from == AbortFrom::DocEnd) abortOnce(false);
        };
        h.cli.OnHeaderEnd = [&](THttpCli*) {
            if (c.from == AbortFrom::HeaderEndLater) abortOnce(true);
        };
        h.cli.OnLocationChange = [&](THttpCli*) {
            if (c.from == AbortFrom::LocationChange) abortOnce(false);
            if (c.from == AbortFrom::LocationChangeLater) abortOnce(true);
        };
        GetOutcome outcome = h.Get(server.Url("/first"));
        h.RunUntil([] { return false; }, 100ms);  // nothing more may follow
        platform::DestroyWindow(later);

        EXPECT_TRUE(aborted) << index;
        ExpectAbortedOnce(h, outcome, std::to_string(index));
        EXPECT_EQ(server.Requests().size(), 1u) << index;
        EXPECT_EQ(h.body.Data().find("must not come"), std::string::npos) << index;
    }
}

TEST_F(HttpRelocationTest, AbsoluteRelocationToAnotherServer) {
    test_support::ScriptedHttpServer second;
    server.AddConnection(test_support::RedirectResponse(
        301, "http://localhost:" + std::to_string(second.Port()) + "/file.mp3"));
    second.AddConnection(NormalResponse(200, "from the second"));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    ASSERT_EQ(second.Requests().size(), 1u);
    EXPECT_EQ(RequestLine(second.Requests()[0]), "GET /file.mp3 HTTP/1.0");
    EXPECT_EQ(h.body.Data(), "from the second");
    EXPECT_EQ(h.cli.DocumentName(), "file.mp3");
}

TEST_F(HttpRelocationTest, ThroughAProxyTheNewConnectionGoesToTheProxyAgain) {
    test_support::ScriptedHttpServer& proxy = server;
    proxy.AddConnection(test_support::RedirectResponse(302, "http://other.example:8080/x"));
    proxy.AddConnection(test_support::RedirectResponse(302, "/y"));
    proxy.AddConnection(NormalResponse(200, "proxied"));
    // The port is in the proxy text; ProxyPort is not where the proxy listens.
    h.cli.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    h.cli.ProxyPort = "80";
    EXPECT_FALSE(h.Get("http://example.org/start").raised);
    ASSERT_EQ(proxy.Requests().size(), 3u);
    EXPECT_EQ(RequestLine(proxy.Requests()[1]), "GET http://other.example:8080/x HTTP/1.0");
    EXPECT_EQ(RequestLine(proxy.Requests()[2]), "GET http://other.example:8080/y HTTP/1.0");
    EXPECT_EQ(h.body.Data(), "proxied");
}

}  // namespace
