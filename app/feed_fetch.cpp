#include "app/feed_fetch.h"

#include <algorithm>
#include <string_view>

#include "platform/application.h"

namespace app {
namespace {

constexpr const char* kAgent = "InetURL:/1.0";
constexpr std::size_t kPieceSize = 4095;

std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

}  // namespace

std::string FeedRequestUrl(const std::string& feedUrl) {
    std::string lower = AsciiLower(feedUrl);
    if (lower.starts_with("https://") || lower.find("http://") != std::string::npos) return feedUrl;
    return "http://" + feedUrl;
}

FetchedFeed FetchFeedDocument(const std::string& feedUrl, platform::UrlReaderTimeouts timeouts) {
    FetchedFeed fetched;
    std::string& document = fetched.document;
    // Without a scheme of its own the reader would guess one.
    const std::string requestUrl = FeedRequestUrl(feedUrl);
    const std::string lower = AsciiLower(requestUrl);
    if (!lower.starts_with("http://") && !lower.starts_with("https://")) return fetched;
    auto session = platform::UrlSession::Open(kAgent, timeouts);
    if (!session) return fetched;
    auto request = session->OpenUrl(requestUrl);
    if (!request) return fetched;
    std::string code = request->StatusCode();
    if (code != "200" && code != "302") return FetchedFeed("Status:" + code);
    fetched.finalUrl = request->EffectiveUrl();
    char piece[kPieceSize];
    for (;;) {
        std::optional<std::size_t> count = request->ReadFile(piece, kPieceSize);
        // A document cut short would be scanned as if complete and yield an older episode.
        if (!count) return {};
        if (*count == 0) break;
        std::string_view received(piece, *count);
        document.append(received.substr(0, received.find('\0')));
        platform::App().ProcessMessages();
    }
    return fetched;
}

}  // namespace app
