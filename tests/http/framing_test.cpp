// How the shape of an answer decides what the client keeps: interim answers, status lines,
// lengths, transfer codings and relocation targets, each fed raw through a scripted server. Every
// row is an answer that once cost the user the episode or kept a broken file.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/http/client_harness.h"

using test_support::NormalResponse;
using test_support::RawResponse;

namespace {

constexpr int kProtocolError = httpStatusProtocolError;

struct Case {
    const char* label;
    std::string path;    // asked for first
    std::string answer;  // the server's bytes; it closes the connection afterwards
    // Where a relocation must lead (the second request's line), or none when it is not followed.
    std::optional<std::string> relocatedLine;
    int raised;  // the number Get raises, 0 for none
    int status;
    std::string body;
};

const Case kCases[] = {
    // Interim answers are passed over, whatever their number.
    {"103 before the answer", "/",
     "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n"
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     std::nullopt, 0, 200, "ok"},
    {"102 and 104 before the answer", "/",
     "HTTP/1.1 102 Processing\r\n\r\n"
     "HTTP/1.1 104 Upload Resumption\r\n\r\n"
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     std::nullopt, 0, 200, "ok"},
    {"an interim answer's location", "/",
     "HTTP/1.1 100 Continue\r\nLocation: /other\r\n\r\n"
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     std::nullopt, 0, 200, "ok"},
    // A location is followed only from a relocating answer.
    {"a location on 200", "/",
     "HTTP/1.0 200 OK\r\nLocation: /other\r\nContent-Length: 4\r\n\r\nbody", std::nullopt, 0, 200,
     "body"},
    {"an empty location", "/", "HTTP/1.0 302 Found\r\nLocation: \r\nContent-Length: 0\r\n\r\n",
     std::nullopt, 0, 302, ""},
    // Relocation targets are resolved as references to the request's address.
    {"dot segments", "/a/b/c", "HTTP/1.0 302 Found\r\nLocation: ../d/./e\r\n\r\n",
     "GET /a/d/e HTTP/1.0", 0, 200, "moved"},
    {"dot segments in an absolute path", "/a/b",
     "HTTP/1.0 301 Moved\r\nLocation: /x/../y/.\r\n\r\n", "GET /y/ HTTP/1.0", 0, 200, "moved"},
    {"a query alone", "/dir/page?old=1", "HTTP/1.0 302 Found\r\nLocation: ?new=2\r\n\r\n",
     "GET /dir/page?new=2 HTTP/1.0", 0, 200, "moved"},
    {"blanks after the value", "/", "HTTP/1.0 303 See Other\r\nLocation: /next \t\r\n\r\n",
     "GET /next HTTP/1.0", 0, 200, "moved"},
    // A length that cannot be trusted fails the request instead of reading to the close.
    {"a negative length", "/", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nabc", std::nullopt,
     kProtocolError, kProtocolError, ""},
    {"a length that is no number", "/", "HTTP/1.0 200 OK\r\nContent-Length: 5x\r\n\r\nabc",
     std::nullopt, kProtocolError, kProtocolError, ""},
    {"a length beyond 64 bits", "/",
     "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc", std::nullopt,
     kProtocolError, kProtocolError, ""},
    {"a 19-digit length cut short", "/",
     "HTTP/1.0 200 OK\r\nContent-Length: 1000000000000000000\r\n\r\nabc", std::nullopt,
     httpErrDocumentCutShort, 200, "abc"},
    {"two different lengths", "/",
     "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 9\r\n\r\nabc", std::nullopt,
     kProtocolError, kProtocolError, ""},
    {"a length repeated alike", "/",
     "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 3, 3\r\n\r\nabc", std::nullopt, 0,
     200, "abc"},
    // Only the last transfer coding, over all the fields, says whether chunks frame the body;
    // without them it ends with the connection.
    {"chunked after identity", "/",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity, CHUNKED\r\n\r\n2\r\nok\r\n0\r\n\r\n",
     std::nullopt, 0, 200, "ok"},
    {"chunked in a second field", "/",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nTransfer-Encoding: chunked\r\n\r\n"
     "2\r\nok\r\n0\r\n\r\n",
     std::nullopt, 0, 200, "ok"},
    {"chunked not last", "/",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: identity\r\n\r\n"
     "2\r\nok\r\n",
     std::nullopt, 0, 200, "2\r\nok\r\n"},
    {"an unknown coding last", "/",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, other\r\n\r\nraw", std::nullopt, 0, 200,
     "raw"},
    // A status line is HTTP/1.x, one space, three digits, then a space or the end.
    {"digits running on after the version", "/",
     "HTTP/1.0123456789 200 OK\r\nContent-Length: 2\r\n\r\nok", std::nullopt, kProtocolError,
     kProtocolError, ""},
    {"a negative status", "/", "HTTP/1.1 -200 OK\r\nContent-Length: 2\r\n\r\nok", std::nullopt,
     kProtocolError, kProtocolError, ""},
    {"four digits", "/", "HTTP/1.1 2000 OK\r\nContent-Length: 2\r\n\r\nok", std::nullopt,
     kProtocolError, kProtocolError, ""},
    {"a status without reason", "/", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", std::nullopt, 0,
     200, "ok"},
};

TEST(HttpFramingTest, AnswersAreFramedAsTheHttpRulesSay) {
    for (const Case& c : kCases) {
        test_support::ScriptedHttpServer server;
        server.AddConnection(RawResponse(c.answer));
        server.AddConnection(NormalResponse(200, "moved"));
        ClientHarness h;
        const GetOutcome outcome = h.Get(server.Url(c.path));
        EXPECT_EQ(outcome.raised ? outcome.errorNumber : 0, c.raised)
            << c.label << ": " << outcome.message;
        EXPECT_EQ(h.cli.StatusCode(), c.status) << c.label;
        EXPECT_EQ(h.body.Data(), c.body) << c.label;
        EXPECT_EQ(h.requestDoneCount, 1) << c.label;
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), c.relocatedLine ? 2u : 1u) << c.label;
        if (c.relocatedLine)
            EXPECT_EQ(requests[1].raw.substr(0, requests[1].raw.find("\r\n")), *c.relocatedLine)
                << c.label;
    }
}

TEST_F(HttpClientTest, ACreatedDocumentsAddressIsNotedButNotFollowed) {
    server.AddConnection(
        RawResponse("HTTP/1.0 201 Created\r\nLocation: made/1\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_FALSE(h.Get(server.Url("/dir/new")).raised);
    EXPECT_EQ(h.cli.Location(), server.Url("/dir/made/1"));
    EXPECT_EQ(h.cli.LocationChangeCurCount(), 0);
}

}  // namespace
