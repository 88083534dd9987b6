#include "platform/url_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless_application.h"
#include "platform/message_loop.h"
#include "tests/support/scripted_http_server.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using test_support::AfterResponse;
using test_support::NormalResponse;
using test_support::ScriptedHttpServer;

constexpr std::size_t kPiece = 4095;
const UrlReaderTimeouts kShortTimeouts{2000ms, 300ms};

// A 200 answer announcing 10000 bytes of which only the first sent arrive.
test_support::ScriptedResponse CutShort(std::size_t sent, AfterResponse after) {
    auto response = NormalResponse(200, std::string(10000, 'x'));
    response.pieces[0].bytes.resize(response.pieces[0].bytes.size() - (10000 - sent));
    response.after = after;
    return response;
}

class UrlReaderTest : public ::testing::Test {
  protected:
    UrlReaderTest() : previous_(SetApplication(&app_)) {}
    ~UrlReaderTest() override {
        SetApplication(previous_);
        if (window_) DestroyWindow(window_);
    }

    std::unique_ptr<UrlRequest> Open(const std::string& url, UrlReaderTimeouts timeouts = {}) {
        session_ = UrlSession::Open("InetURL:/1.0", timeouts);
        EXPECT_TRUE(session_);
        return session_ ? session_->OpenUrl(url) : nullptr;
    }

    static std::string Body(UrlRequest& request) {
        std::string body;
        ReadSizes(request, &body);
        return body;
    }

    // The sizes handed out by successive reads, up to the end (0) or a failure (-1).
    static std::vector<long> ReadSizes(UrlRequest& request, std::string* body = nullptr) {
        std::vector<long> sizes;
        char buffer[kPiece];
        for (;;) {
            std::optional<std::size_t> count = request.ReadFile(buffer, kPiece);
            sizes.push_back(count ? static_cast<long>(*count) : -1);
            if (!count || *count == 0) return sizes;
            if (body) body->append(buffer, *count);
        }
    }

    // Runs action when the application next processes its messages.
    void OnNextMessages(std::function<void()> action) {
        window_ = AllocateHWnd([action](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
            action();
            return 0;
        });
        PostMessage(window_, WM_USER, 0, 0);
    }

    HeadlessApplication app_;
    Application* previous_;
    ScriptedHttpServer server_;
    std::unique_ptr<UrlSession> session_;
    HWND window_ = 0;
};

TEST_F(UrlReaderTest, HandsOutTheBodyInFullPieces) {
    std::string body(10000, 'x');
    server_.AddConnection(test_support::InPieces(NormalResponse(200, body), 1000, 2ms));
    server_.AddConnection(NormalResponse(200, std::string(kPiece, 'y')));

    auto request = Open(server_.Url("/feed.xml"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->StatusCode(), "200");
    std::string received;
    EXPECT_EQ(ReadSizes(*request, &received), (std::vector<long>{4095, 4095, 1810, 0}));
    EXPECT_EQ(received, body);

    auto exact = session_->OpenUrl(server_.Url("/exact"));
    ASSERT_TRUE(exact);
    EXPECT_EQ(ReadSizes(*exact), (std::vector<long>{4095, 0}));

    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].raw.rfind("GET /feed.xml HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[0].raw.find("\r\nUser-Agent: InetURL:/1.0\r\n"), std::string::npos);
}

TEST_F(UrlReaderTest, ReportsTheFinalAnswerAfterRelocations) {
    server_.AddConnection(NormalResponse(404, "gone"));
    server_.AddConnection(test_support::RedirectResponse(302, server_.Url("/moved")));
    server_.AddConnection(NormalResponse(200, "final"));
    server_.AddConnection(NormalResponse(302, "no location"));

    auto missing = Open(server_.Url("/missing"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->StatusCode(), "404");
    missing.reset();

    auto moved = session_->OpenUrl(server_.Url("/old"));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->StatusCode(), "200");
    EXPECT_EQ(Body(*moved), "final");
    moved.reset();

    auto unmoved = session_->OpenUrl(server_.Url("/stays"));
    ASSERT_TRUE(unmoved);
    EXPECT_EQ(unmoved->StatusCode(), "302");

    auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].raw.rfind("GET /moved ", 0), 0u);
}

TEST_F(UrlReaderTest, FollowsAtMostTenRelocations) {
    for (int i = 0; i < 10; ++i)
        server_.AddConnection(test_support::RedirectResponse(301, server_.Url("/again")));
    server_.AddConnection(NormalResponse(200, "arrived"));
    EXPECT_TRUE(Open(server_.Url("/start")));

    for (int i = 0; i < 11; ++i)
        server_.AddConnection(test_support::RedirectResponse(301, server_.Url("/again")));
    EXPECT_FALSE(session_->OpenUrl(server_.Url("/start")));
}

TEST_F(UrlReaderTest, OpensNothingButReachableHttpAddresses) {
    EXPECT_FALSE(Open("file:///etc/hostname"));
    EXPECT_FALSE(session_->OpenUrl("ftp://127.0.0.1:" + std::to_string(server_.Port()) + "/x"));
    EXPECT_FALSE(session_->OpenUrl("http://"));
    EXPECT_EQ(server_.AcceptedConnections(), 0);

    server_.StopListening();
    EXPECT_FALSE(session_->OpenUrl(server_.Url("/feed")));
}

TEST_F(UrlReaderTest, GivesUpOnAServerThatStopsSendingOrCutsTheBodyShort) {
    server_.AddConnection(test_support::StalledResponse());
    EXPECT_FALSE(Open(server_.Url("/silent"), kShortTimeouts));
    for (AfterResponse after : {AfterResponse::Stall, AfterResponse::Close}) {
        server_.AddConnection(CutShort(5000, after));
        auto request = session_->OpenUrl(server_.Url("/cut"));
        ASSERT_TRUE(request);
        EXPECT_EQ(ReadSizes(*request), (std::vector<long>{4095, 905, -1}));
    }
}

TEST_F(UrlReaderTest, ProcessesMessagesWhileWaitingForTheServer) {
    auto late = NormalResponse(200, "late");
    late.pieces[0].delayBefore = 300ms;
    server_.AddConnection(late);
    bool openReturned = false;
    bool processedWhileWaiting = false;
    OnNextMessages([&] { processedWhileWaiting = !openReturned; });

    auto request = Open(server_.Url("/late"));
    openReturned = true;
    ASSERT_TRUE(request);
    EXPECT_TRUE(processedWhileWaiting);
}

TEST_F(UrlReaderTest, AHandlerThatRunsLongIsNoStall) {
    auto late = NormalResponse(200, "arrived meanwhile");
    late.pieces[0].delayBefore = 100ms;
    server_.AddConnection(late);
    // A modal dialog opened from a handler keeps the loop away from the network for a while.
    OnNextMessages([] { std::this_thread::sleep_for(3 * kShortTimeouts.stall); });

    auto request = Open(server_.Url("/late"), kShortTimeouts);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->StatusCode(), "200");
}

TEST_F(UrlReaderTest, StopsOpeningAtOnceWhenTheApplicationTerminates) {
    server_.AddConnection(test_support::StalledResponse());
    OnNextMessages([] { App().Terminate(); });
    EXPECT_FALSE(Open(server_.Url("/silent")));
}

TEST_F(UrlReaderTest, StopsReadingAtOnceWhenTheApplicationTerminates) {
    server_.AddConnection(CutShort(100, AfterResponse::Stall));
    auto request = Open(server_.Url("/slow"));
    ASSERT_TRUE(request);
    OnNextMessages([] { App().Terminate(); });
    EXPECT_EQ(ReadSizes(*request), (std::vector<long>{100, -1}));
}

TEST_F(UrlReaderTest, GoesThroughTheProxyOfTheEnvironment) {
    struct SavedVariable {
        std::string name;
        std::optional<std::string> value;
        explicit SavedVariable(std::string variable) : name(std::move(variable)) {
            if (const char* text = std::getenv(name.c_str())) value = text;
        }
        ~SavedVariable() {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    };
    SavedVariable proxy("http_proxy"), noProxy("no_proxy"), noProxyUpper("NO_PROXY");
    setenv("http_proxy", server_.Url().c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    server_.AddConnection(NormalResponse(200, "via proxy"));

    auto request = Open("http://feeds.example.invalid/rss");
    ASSERT_TRUE(request);
    EXPECT_EQ(Body(*request), "via proxy");
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(server_.Requests()[0].raw.rfind("GET http://feeds.example.invalid/rss HTTP/1.1", 0),
              0u);
}

}  // namespace
}  // namespace platform
