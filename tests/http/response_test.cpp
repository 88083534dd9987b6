// Reading responses: the header, the body in every shape it arrives in, and how documents end.
#include <gtest/gtest.h>

#include "tests/http/client_harness.h"

using test_support::AfterResponse;
using test_support::InPieces;
using test_support::NormalResponse;
using test_support::RawResponse;
using test_support::ScriptedHttpServer;
using test_support::ScriptedResponse;

namespace {

using HttpResponseTest = HttpClientTest;

std::vector<std::string> Without(const std::vector<std::string>& events,
                                 const std::string& prefix) {
    std::vector<std::string> kept;
    for (const auto& e : events)
        if (e.rfind(prefix, 0) != 0) kept.push_back(e);
    return kept;
}

TEST_F(HttpResponseTest, BodyInTheSamePacketAsTheHeader) {
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Other: y\r\n\r\nhello"));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);

    EXPECT_EQ(
        Without(h.events, "State"),
        (std::vector<std::string>{"SessionConnected", "HeaderBegin", "HeaderEnd", "DocBegin",
                                  "DocData 5 5", "DocEnd", "SessionClosed", "RequestDone 1 0"}));
    EXPECT_EQ(h.EventsStartingWith("State"),
              (std::vector<std::string>{"State httpNotConnected", "State httpDnsLookup",
                                        "State httpDnsLookupDone", "State httpConnected",
                                        "State httpWaitingHeader", "State httpWaitingBody",
                                        "State httpBodyReceived", "State httpReady"}));
    EXPECT_EQ(h.body.Data(), "hello");
    EXPECT_EQ(h.cli.DocumentLength(), 5);
    EXPECT_EQ(h.cli.BodyReceivedCount(), 5);
    EXPECT_EQ(h.cli.StatusReason(), "OK");
    EXPECT_EQ(h.cli.ResponseHeaderLines(),
              (std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Length: 5", "X-Other: y"}));
}

TEST_F(HttpResponseTest, ChunkedBodyOneBytePerPacketEndsAtTheLastChunk) {
    // The server holds the connection afterwards: the end must come from the chunks alone.
    auto response = RawResponse(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "5\r\nhello\r\n0\r\n\r\n",
        AfterResponse::Stall);
    server.AddConnection(InPieces(response, 1, 1ms));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), "hello");
    EXPECT_EQ(h.cli.BodyReceivedCount(), 5);
    // A loaded machine may deliver two of the pieces in one read.
    EXPECT_LE(h.EventsStartingWith("DocData").size(), 5u);
    EXPECT_EQ(h.EventsStartingWith("DocEnd").size(), 1u);
    EXPECT_EQ(h.requestDoneCount, 1);
    EXPECT_TRUE(h.HasTrace("httpChunkDone, end of document"));
}

TEST_F(HttpResponseTest, ChunkExtensionsAreSkippedAndHexSizesRead) {
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"
                    "3;name=\"v;x\"\r\nabc\r\n"
                    "A\r\n0123456789\r\n"
                    "1F4\r\n" +
                        std::string(500, 'f') +
                        "\r\n"
                        "0;last\r\n\r\n",
                    AfterResponse::Stall));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), "abc0123456789" + std::string(500, 'f'));
    EXPECT_TRUE(h.HasTrace("ChunkLength = 10"));
    EXPECT_TRUE(h.HasTrace("ChunkLength = 500"));
}

// Trailer fields end with their own blank line; one arriving late must not be read as the start of
// the next response on the kept connection.
TEST_F(HttpResponseTest, ChunkedTrailerFieldsAreReadToTheirEnd) {
    ScriptedResponse first{{{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                             "5\r\nhello\r\n0\r\nX-Checksum: 1\r\nX-Other: 2\r\n"},
                            {"\r\n", 50ms}},
                           AfterResponse::KeepOpen};
    server.AddConnection({first, NormalResponse(200, "second")});
    h.cli.SetRequestVer("1.1");
    EXPECT_FALSE(h.Get(server.Url("/1")).raised);
    GetOutcome second = h.Get(server.Url("/2"));
    EXPECT_FALSE(second.raised) << second.message;
    EXPECT_EQ(h.body.Data(), "hellosecond");
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

// A length given beside the chunks counts the decoded document, not the bytes on the wire: the
// chunks alone decide where the document ends.
TEST_F(HttpResponseTest, ChunkedBodyWithALengthEndsAtTheLastChunk) {
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n"
                    "5\r\nhello\r\n0\r\n\r\n",
                    AfterResponse::Stall));
    GetOutcome outcome = h.Get(server.Url("/"), 2s);
    EXPECT_FALSE(outcome.raised) << outcome.message;
    EXPECT_EQ(h.body.Data(), "hello");
    EXPECT_EQ(h.EventsStartingWith("DocEnd").size(), 1u);
    EXPECT_EQ(h.lastErrCode, 0);
}

// Nothing of the interim header, its length included, applies to the response that follows.
TEST_F(HttpResponseTest, InterimContinueResponseIsPassedOver) {
    server.AddConnection(
        RawResponse("HTTP/1.1 100 Continue\r\nX-Interim: 1\r\nContent-Length: 1\r\n\r\n"
                    "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nok"));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.EventsStartingWith("HeaderBegin").size(), 1u);
    EXPECT_EQ(h.EventsStartingWith("HeaderEnd").size(), 1u);
    EXPECT_EQ(h.cli.ResponseHeaderLines(),
              (std::vector<std::string>{"HTTP/1.1 200 OK", "Connection: close"}));
    EXPECT_EQ(h.body.Data(), "ok");
}

TEST_F(HttpResponseTest, WithoutLengthTheBodyEndsWhenTheServerCloses) {
    server.AddConnection(
        InPieces(RawResponse("HTTP/1.0 200 OK\r\nX-Other: y\r\n\r\nabcdef"), 4, 2ms));
    GetOutcome outcome = h.Get(server.Url("/"));
    EXPECT_FALSE(outcome.raised) << outcome.message;
    EXPECT_EQ(h.cli.DocumentLength(), -1);
    EXPECT_EQ(h.body.Data(), "abcdef");
    ASSERT_GE(h.events.size(), 2u);
    auto docEnd = std::find(h.events.begin(), h.events.end(), "DocEnd");
    auto done = std::find(h.events.begin(), h.events.end(), "RequestDone 1 0");
    EXPECT_LT(docEnd, done);
    EXPECT_EQ(h.lastErrCode, 0);
}

// These statuses never carry a body: a Content-Length beside them announces none, and the server
// closing afterwards cuts nothing short.
TEST_F(HttpResponseTest, StatusesWithoutBodyIgnoreTheirLength) {
    const std::string statusLines[] = {"HTTP/1.1 304 Not Modified", "HTTP/1.1 204 No Content",
                                       "HTTP/1.0 102 Processing\r\n\r\nHTTP/1.0 204 Empty"};
    for (const std::string& statusLine : statusLines) {
        server.AddConnection(RawResponse(statusLine + "\r\nContent-Length: 1234\r\n\r\n"));
        GetOutcome outcome = h.Get(server.Url("/"));
        EXPECT_FALSE(outcome.raised) << statusLine << ": " << outcome.message;
        EXPECT_EQ(h.lastErrCode, 0) << statusLine;
        EXPECT_TRUE(h.EventsStartingWith("DocBegin").empty()) << statusLine;
    }
    EXPECT_EQ(h.requestDoneCount, 3);
}

TEST_F(HttpResponseTest, HeadOnAClosingConnectionKeepsNoBodyBytes) {
    server.AddConnection(RawResponse("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"));
    h.cli.URL = server.Url("/");
    h.cli.RunRequest(httpRqHead);
    h.ProcessPending();
    EXPECT_EQ(h.cli.HeldBytes(), 0);
    EXPECT_EQ(h.body.Data(), "");
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpResponseTest, DocumentWithoutHeaderIsTakenAsHtml) {
    server.AddConnection(RawResponse("<hTmL><body>x</body>\r\n</html>"));
    EXPECT_FALSE(h.Get(server.Url("/dir/page.exe")).raised);
    EXPECT_EQ(h.body.Data(), "<hTmL><body>x</body></html>");
    EXPECT_EQ(h.cli.ContentType(), "text/html");
    EXPECT_EQ(h.cli.StatusCode(), 0);
}

TEST_F(HttpResponseTest, EmptyFirstLineIsAnEmptyHeaderWithoutBody) {
    server.AddConnection(RawResponse("\r\nignored"));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.cli.StatusCode(), 0);
    EXPECT_EQ(h.body.Data(), "");
    EXPECT_TRUE(h.EventsStartingWith("DocBegin").empty());
}

TEST_F(HttpResponseTest, RecognisedFieldsAndTheDocumentName) {
    server.AddConnection(
        RawResponse("HTTP/1.0 206 Partial\r\n"
                    "Content-Type: Text/HTML\r\n"
                    "Set-Cookie: id=42; Path=/\r\n"
                    "Content-Range: bytes 100-199/1000\r\n"
                    "Accept-Ranges:    bytes\r\n"
                    "No colon here\r\n"
                    "Content-Length:  3 \r\n\r\nabc"));
    std::vector<std::string> cookies;
    h.cli.OnCookie = [&cookies](THttpCli*, const std::string& data, bool& accept) {
        EXPECT_TRUE(accept);
        cookies.push_back(data);
    };
    int headerData = 0;
    h.cli.OnHeaderData = [&headerData](THttpCli*) { ++headerData; };
    EXPECT_FALSE(h.Get(server.Url("/dir/file?q=1")).raised);
    EXPECT_EQ(h.cli.StatusReason(), "Partial");
    EXPECT_EQ(h.cli.ContentType(), "text/html");
    EXPECT_EQ(cookies, (std::vector<std::string>{"id=42; Path=/"}));
    EXPECT_EQ(h.cli.ContentRangeBegin, "100");
    EXPECT_EQ(h.cli.ContentRangeEnd, "199");
    EXPECT_EQ(h.cli.AcceptRanges(), "bytes");
    EXPECT_EQ(h.cli.DocumentLength(), 3);
    EXPECT_EQ(headerData, 7);
    // An html document without extension gets ".htm".
    EXPECT_EQ(h.cli.DocumentName(), "file.htm");
}

TEST_F(HttpResponseTest, OverlongHeaderLineIsCutAndReadingGoesOn) {
    std::string longLine = "X-Long: " + std::string(20000, 'x');
    server.AddConnection(InPieces(
        RawResponse("HTTP/1.0 200 OK\r\n" + longLine + "\r\nContent-Length: 4\r\n\r\nbody"), 3000,
        1ms));
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), "body");
    ASSERT_EQ(h.cli.ResponseHeaderLines().size(), 3u);
    EXPECT_LT(h.cli.ResponseHeaderLines()[1].size(), 8192u);
    EXPECT_EQ(h.cli.ResponseHeaderLines()[2], "Content-Length: 4");
}

TEST_F(HttpResponseTest, ErrorStatusRaisesAndAuthenticationStatusDoesNot) {
    server.AddConnection(NormalResponse(404, "missing"));
    server.AddConnection(NormalResponse(401, "who?"));
    GetOutcome notFound = h.Get(server.Url("/gone"));
    EXPECT_TRUE(notFound.raised);
    EXPECT_EQ(notFound.errorNumber, 404);
    EXPECT_EQ(notFound.message, "Not Found");

    GetOutcome unauthorized = h.Get(server.Url("/secret"));
    EXPECT_FALSE(unauthorized.raised);
    EXPECT_EQ(h.cli.StatusCode(), 401);
    EXPECT_EQ(h.requestDoneCount, 2);
}

}  // namespace
