#include <gtest/gtest.h>

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
    EXPECT_EQ(FetchFeedDocument(address), feed);
    EXPECT_EQ(FetchFeedDocument(server_.Url("/exact")), std::string(4095, 'e'));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/unmoved")), "kept");
    ASSERT_EQ(server_.Requests().size(), 3u);
    EXPECT_EQ(server_.Requests()[0].raw.rfind("GET /feed.xml HTTP/1.1\r\n", 0), 0u);
}

TEST_F(FetchFeedDocumentTest, ANulDropsTheRestOfItsPieceOnly) {
    std::string firstPiece = "<rss>" + std::string(1, '\0') + std::string(4089, 'x');
    server_.AddConnection(NormalResponse(200, firstPiece + "</rss>"));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/nul")), "<rss></rss>");
}

TEST_F(FetchFeedDocumentTest, OtherAnswersGiveTheirStatus) {
    server_.AddConnection(NormalResponse(404, "<enclosure url=\"http://h/a.mp3\"/>"));
    server_.AddConnection(NormalResponse(500, ""));
    EXPECT_EQ(FetchFeedDocument(server_.Url("/missing")), "Status:404");
    EXPECT_EQ(FetchFeedDocument(server_.Url("/broken")), "Status:500");
}

TEST_F(FetchFeedDocumentTest, WhatCannotBeReadGivesWhatArrived) {
    const platform::UrlReaderTimeouts shortTimeouts{2000ms, 300ms};
    server_.AddConnection(test_support::StalledResponse());
    EXPECT_EQ(FetchFeedDocument(server_.Url("/silent"), shortTimeouts), "");

    auto halfSent = NormalResponse(200, "<rss><item>" + std::string(5000, 'x'));
    halfSent.pieces[0].bytes.resize(halfSent.pieces[0].bytes.size() - 5000);
    halfSent.after = test_support::AfterResponse::Stall;
    server_.AddConnection(halfSent);
    EXPECT_EQ(FetchFeedDocument(server_.Url("/slow"), shortTimeouts), "<rss><item>");

    server_.StopListening();
    EXPECT_EQ(FetchFeedDocument(server_.Url("/gone")), "");
}

}  // namespace
}  // namespace app
