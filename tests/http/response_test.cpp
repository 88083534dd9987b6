// Reading responses: the header, the body in every shape it arrives in, and how documents end.
#include <gtest/gtest.h>

#include "tests/http/client_harness.h"
#include "tests/support/scripted_http_server.h"

using test_support::AfterResponse;
using test_support::InPieces;
using test_support::NormalResponse;
using test_support::RawResponse;
using test_support::ScriptedHttpServer;
using test_support::ScriptedResponse;

namespace {

std::vector<std::string> Without(const std::vector<std::string>& events,
                                 const std::string& prefix) {
    std::vector<std::string> kept;
    for (const auto& e : events)
        if (e.rfind(prefix, 0) != 0) kept.push_back(e);
    return kept;
}

TEST(HttpResponseTest, BodyInTheSamePacketAsTheHeader) {
    ScriptedHttpServer server;
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Other: y\r\n\r\nhello"));
    ClientHarness h;
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

TEST(HttpResponseTest, ChunkedBodyOneBytePerPacketEndsAtTheLastChunk) {
    ScriptedHttpServer server;
    // The server holds the connection afterwards: the end must come from the chunks alone.
    auto response = RawResponse(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "5\r\nhello\r\n0\r\n\r\n",
        AfterResponse::Stall);
    server.AddConnection(InPieces(response, 1, 1ms));
    ClientHarness h;
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), "hello");
    EXPECT_EQ(h.cli.BodyReceivedCount(), 5);
    EXPECT_EQ(h.EventsStartingWith("DocData").size(), 5u);
    EXPECT_EQ(h.EventsStartingWith("DocEnd").size(), 1u);
    EXPECT_EQ(h.requestDoneCount, 1);
    EXPECT_TRUE(h.HasTrace("httpChunkDone, end of document"));
}

TEST(HttpResponseTest, ChunkExtensionsAreSkippedAndHexSizesRead) {
    ScriptedHttpServer server;
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"
                    "3;name=\"v;x\"\r\nabc\r\n"
                    "A\r\n0123456789\r\n"
                    "0;last\r\n\r\n",
                    AfterResponse::Stall));
    ClientHarness h;
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), "abc0123456789");
    EXPECT_TRUE(h.HasTrace("ChunkLength = 10"));
}

// A length given beside the chunks counts the decoded document, not the bytes on the wire: the
// chunks alone decide where the document ends.
TEST(HttpResponseTest, ChunkedBodyWithALengthEndsAtTheLastChunk) {
    ScriptedHttpServer server;
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n"
                    "5\r\nhello\r\n0\r\n\r\n",
                    AfterResponse::Stall));
    ClientHarness h;
    GetOutcome outcome = h.Get(server.Url("/"), 2s);
    EXPECT_FALSE(outcome.raised) << outcome.message;
    EXPECT_EQ(h.body.Data(), "hello");
    EXPECT_EQ(h.EventsStartingWith("DocEnd").size(), 1u);
    EXPECT_EQ(h.lastErrCode, 0);
}

TEST(HttpResponseTest, InterimContinueResponseIsPassedOver) {
    ScriptedHttpServer server;
    server.AddConnection(
        RawResponse("HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
                    "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    ClientHarness h;
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.EventsStartingWith("HeaderBegin").size(), 1u);
    EXPECT_EQ(h.EventsStartingWith("HeaderEnd").size(), 1u);
    EXPECT_EQ(h.cli.ResponseHeaderLines(),
              (std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Length: 2"}));
    EXPECT_EQ(h.body.Data(), "ok");
}

TEST(HttpResponseTest, WithoutLengthTheBodyEndsWhenTheServerCloses) {
    ScriptedHttpServer server;
    server.AddConnection(
        InPieces(RawResponse("HTTP/1.0 200 OK\r\nContent-Length: many\r\n\r\nabcdef"), 4, 2ms));
    ClientHarness h;
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

TEST(HttpResponseTest, DocumentWithoutHeaderIsTakenAsHtml) {
    ScriptedHttpServer server;
    server.AddConnection(RawResponse("<hTmL><body>x</body>\r\n</html>"));
    ClientHarness h;
    EXPECT_FALSE(h.Get(server.Url("/dir/page.exe")).raised);
    EXPECT_EQ(h.body.Data(), "<hTmL><body>x</body></html>");
    EXPECT_EQ(h.cli.ContentType(), "text/html");
    EXPECT_EQ(h.cli.StatusCode(), 0);
}

TEST(HttpResponseTest, EmptyFirstLineIsAnEmptyHeaderWithoutBody) {
    ScriptedHttpServer server;
    server.AddConnection(RawResponse("\r\nignored"));
    ClientHarness h;
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.cli.StatusCode(), 0);
    EXPECT_EQ(h.body.Data(), "");
    EXPECT_TRUE(h.EventsStartingWith("DocBegin").empty());
}

TEST(HttpResponseTest, RecognisedFieldsAndTheDocumentName) {
    ScriptedHttpServer server;
    server.AddConnection(
        RawResponse("HTTP/1.0 206 Partial\r\n"
                    "Content-Type: Text/HTML\r\n"
                    "Set-Cookie: id=42; Path=/\r\n"
                    "Content-Range: bytes 100-199/1000\r\n"
                    "Accept-Ranges:    bytes\r\n"
                    "No colon here\r\n"
                    "Content-Length:  3 \r\n\r\nabc"));
    ClientHarness h;
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

TEST(HttpResponseTest, OverlongHeaderLineIsCutAndReadingGoesOn) {
    ScriptedHttpServer server;
    std::string longLine = "X-Long: " + std::string(20000, 'x');
    server.AddConnection(InPieces(
        RawResponse("HTTP/1.0 200 OK\r\n" + longLine + "\r\nContent-Length: 4\r\n\r\nbody"), 3000,
        1ms));
    ClientHarness h;
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), "body");
    ASSERT_EQ(h.cli.ResponseHeaderLines().size(), 3u);
    EXPECT_LT(h.cli.ResponseHeaderLines()[1].size(), 8192u);
    EXPECT_EQ(h.cli.ResponseHeaderLines()[2], "Content-Length: 4");
}

TEST(HttpResponseTest, ErrorStatusRaisesAndAuthenticationStatusDoesNot) {
    ScriptedHttpServer server;
    server.AddConnection(NormalResponse(404, "missing"));
    server.AddConnection(NormalResponse(401, "who?"));
    ClientHarness h;
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
