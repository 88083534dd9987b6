#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "app/feed_fetch.h"
#include "platform/headless_application.h"
#include "tests/support/scripted_http_server.h"

namespace app {
namespace {

using namespace std::chrono_literals;
using test_support::NormalResponse;

TEST(FeedRequestUrl, PutsHttpInFrontOnlyWhereNoSchemeIsFound) {
    EXPECT_EQ(FeedRequestUrl("example.com/feed"), "http://example.com/feed");
    EXPECT_EQ(FeedRequestUrl(""), "http://");
    EXPECT_EQ(FeedRequestUrl("HTTP://Example.com/Feed"), "HTTP://Example.com/Feed");
    EXPECT_EQ(FeedRequestUrl("https://example.com/feed"), "https://example.com/feed");
    EXPECT_EQ(FeedRequestUrl("HtTpS://example.com/feed"), "HtTpS://example.com/feed");
    EXPECT_EQ(FeedRequestUrl("example.com/?from=http://x"), "example.com/?from=http://x");
    EXPECT_EQ(FeedRequestUrl("ftp://example.com/feed"), "http://ftp://example.com/feed");
    EXPECT_EQ(FeedRequestUrl(" https://example.com"), "http:// https://example.com");
}

class FetchFeedDocumentTest : public ::testing::Test {
  protected:
    FetchFeedDocumentTest() : previous_(platform::SetApplication(&app_)) {}
    ~FetchFeedDocumentTest() override { platform::SetApplication(previous_); }

    platform::HeadlessApplication app_;
    platform::Application* previous_;
    test_support::ScriptedHttpServer server_;
};

TEST_F(FetchFeedDocumentTest, ReadsTheWholeDocument) {
    std::string feed(10000, 'f');
    server_.AddConnection(test_support::InPieces(NormalResponse(200, feed), 3000, 5ms));
    server_.AddConnection(NormalResponse(200, std::string(4095, 'e')));
    server_.AddConnection(NormalResponse(302, "kept"));

    std::string address = server_.Url("/feed.xml").substr(7);  // without the scheme
    const FetchedFeed fetched = FetchFeedDocument(address);
    EXPECT_EQ(fetched.document, feed);
    // Relative enclosures resolve against the address the document came from.
    EXPECT_EQ(fetched.finalUrl, server_.Url("/feed.xml"));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/exact")).document, std::string(4095, 'e'));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/unmoved")).document, "kept");
    ASSERT_EQ(server_.Requests().size(), 3u);
    EXPECT_EQ(server_.Requests()[0].raw.rfind("GET /feed.xml HTTP/1.1\r\n", 0), 0u);
}

TEST_F(FetchFeedDocumentTest, ANulDropsTheRestOfItsPieceOnly) {
    std::string firstPiece = "<rss>" + std::string(1, '\0') + std::string(4089, 'x');
    server_.AddConnection(NormalResponse(200, firstPiece + "</rss>"));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/nul")).document, "<rss></rss>");
}

TEST_F(FetchFeedDocumentTest, OtherAnswersGiveTheirStatus) {
    server_.AddConnection(NormalResponse(404, "<enclosure url=\"http://h/a.mp3\"/>"));
    server_.AddConnection(NormalResponse(500, ""));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/missing")).document, "Status:404");
    EXPECT_EQ(FetchFeedDocument(server_.Url("/broken")).document, "Status:500");
}

TEST_F(FetchFeedDocumentTest, ADocumentThatBrokeOffIsAFailedFetch) {
    // What arrived would be scanned as if complete and yield an older episode.
    const platform::UrlReaderTimeouts shortTimeouts{2000ms, 300ms};
    server_.AddConnection(test_support::StalledResponse());
    EXPECT_EQ(FetchFeedDocument(server_.Url("/silent"), shortTimeouts).document, "");

    const std::string body = "<rss><item>" + std::string(5000, 'x');
    auto halfSent = NormalResponse(200, body);
    halfSent.pieces[0].bytes.resize(halfSent.pieces[0].bytes.size() - 5000);
    halfSent.after = test_support::AfterResponse::Stall;
    server_.AddConnection(halfSent);
    EXPECT_EQ(FetchFeedDocument(server_.Url("/slow"), shortTimeouts).document, "");

    auto cutShort = halfSent;
    cutShort.after = test_support::AfterResponse::Close;
    server_.AddConnection(cutShort);
    EXPECT_EQ(FetchFeedDocument(server_.Url("/cut")).document, "");

    // Without a length only the reset tells that the document is not complete.
    server_.AddConnection(
        test_support::RawResponse("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n<rss><item>",
                                  test_support::AfterResponse::Reset));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/reset")).document, "");

    server_.StopListening();
    EXPECT_EQ(FetchFeedDocument(server_.Url("/gone")).document, "");
}

TEST_F(FetchFeedDocumentTest, ACompressedFeedIsDecodedEvenWhenSentUnasked) {
    const std::string gzipped(
        "\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\xB3\x29\x2A\x2E\xB6\xB3\x49\xCE\x48\xCC\xCB\x4B"
        "\xCD\xB1\xB3\xC9\x2C\x49\xCD\xB5\xB3\x49\xCD\x4B\xCE\xC9\x2F\x2E\x2D\x4A\x55\x28\x2D\xCA"
        "\xB1\x55\xCA\x28\x29\x29\xB0\xD2\xD7\xCF\xD0\xAF\xCA\x2C\x28\x48\x4D\xD1\xCB\x2D\x30\x56"
        "\xD2\xB7\xB3\xD1\x87\x28\xD6\x87\x6B\xD6\x07\x99\x05\x00\xD1\x3B\x94\xFE\x51\x00\x00\x00",
        88);
    server_.AddConnection(NormalResponse(200, gzipped, {{"Content-Encoding", "gzip"}}));
    EXPECT_EQ(
        FetchFeedDocument(server_.Url("/zipped")).document,
        "<rss><channel><item><enclosure url=\"http://h/zipped.mp3\"/></item></channel></rss>");
    ASSERT_EQ(server_.Requests().size(), 1u);
    const std::string request = server_.Requests()[0].raw;
    EXPECT_NE(request.find("\r\nAccept-Encoding: "), std::string::npos) << request;
    EXPECT_NE(request.find("gzip"), std::string::npos) << request;
    // Caches on the way are asked for the server's copy.
    EXPECT_NE(request.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nPragma: no-cache\r\n"), std::string::npos) << request;
}

TEST_F(FetchFeedDocumentTest, WithValidatorsAnUnchangedFeedIsUnchangedAndAnAnswerBringsItsOwn) {
    const FeedValidators sent{"\"f1\"", "Mon, 01 Jan 2024 00:00:00 GMT"};
    server_.AddConnection(NormalResponse(304, ""));
    const FetchedFeed unchanged = FetchFeedDocument(server_.Url("/feed"), {}, sent);
    EXPECT_TRUE(unchanged.unchanged);
    EXPECT_EQ(unchanged.document, "");
    ASSERT_EQ(server_.Requests().size(), 1u);
    const std::string request = server_.Requests()[0].raw;
    EXPECT_NE(request.find("\r\nIf-None-Match: \"f1\"\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nIf-Modified-Since: " + sent.lastModified + "\r\n"),
              std::string::npos)
        << request;

    server_.AddConnection(NormalResponse(
        200, "<rss/>", {{"ETag", "\"f2\""}, {"Last-Modified", "Tue, 02 Jan 2024 00:00:00 GMT"}}));
    const FetchedFeed changed = FetchFeedDocument(server_.Url("/feed"), {}, sent);
    EXPECT_FALSE(changed.unchanged);
    EXPECT_EQ(changed.document, "<rss/>");
    EXPECT_EQ(changed.validators, (FeedValidators{"\"f2\"", "Tue, 02 Jan 2024 00:00:00 GMT"}));

    // Unasked, a 304 is a status like any other; and nothing asks without validators.
    server_.AddConnection(NormalResponse(304, ""));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/feed")).document, "Status:304");
    EXPECT_EQ(server_.Requests()[2].raw.find("If-"), std::string::npos);
}

// gzip of size bytes of 'x'.
std::string GzippedLetters(std::size_t size) {
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const std::string input(1 << 20, 'x');
    std::string output;
    char buffer[1 << 16];
    for (std::size_t left = size; left > 0 || stream.avail_in > 0;) {
        if (stream.avail_in == 0) {
            const std::size_t piece = std::min(left, input.size());
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
            stream.avail_in = static_cast<uInt>(piece);
            left -= piece;
        }
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, Z_NO_FLUSH);
            output.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = deflate(&stream, Z_FINISH);
        output.append(buffer, sizeof buffer - stream.avail_out);
    }
    deflateEnd(&stream);
    return output;
}

TEST_F(FetchFeedDocumentTest, ADocumentThatDecodesPastTheLimitIsRefused) {
    // A few kilobytes on the wire, a byte more than the limit decoded.
    server_.AddConnection(NormalResponse(200, GzippedLetters(kMaxFeedDocumentBytes + 1),
                                         {{"Content-Encoding", "gzip"}}));
    const FetchedFeed refused = FetchFeedDocument(server_.Url("/bomb"));
    EXPECT_TRUE(refused.tooLarge);
    EXPECT_EQ(refused.document, "");
    server_.AddConnection(NormalResponse(200, GzippedLetters(kMaxFeedDocumentBytes),
                                         {{"Content-Encoding", "gzip"}}));
    const FetchedFeed taken = FetchFeedDocument(server_.Url("/limit"));
    EXPECT_FALSE(taken.tooLarge);
    EXPECT_EQ(taken.document.size(), kMaxFeedDocumentBytes);
}

TEST_F(FetchFeedDocumentTest, AnAddressWithoutItsOwnSchemeIsNotFetched) {
    // "http://" only in the query: the reader would have to guess a scheme.
    std::string address = server_.Url("/feed?from=http://x").substr(7);
    EXPECT_EQ(FetchFeedDocument(address).document, "");
    EXPECT_EQ(server_.AcceptedConnections(), 0);
}

}  // namespace
}  // namespace app
