#include "app/feed_fetch.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/resume_range.h"
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

// The header lines that ask whether the feed changed since the answer validators came from;
// none without validators (a value with control bytes is never sent back).
std::vector<std::string> ConditionalHeaders(const FeedValidators& validators) {
    std::vector<std::string> lines;
    const auto ask = [&](const char* field, const std::string& value) {
        if (!value.empty() && IsPlainHeaderValue(value)) lines.push_back(field + value);
    };
    ask("If-None-Match: ", validators.etag);
    ask("If-Modified-Since: ", validators.lastModified);
    return lines;
}

// The request for a feed, sent with the given header lines; nullptr when its address is none the
// reader may open.
std::unique_ptr<platform::UrlRequest> StartFeedFetch(platform::UrlSession& session,
                                                     const std::string& feedUrl,
                                                     std::vector<std::string> headers) {
    // Without a scheme of its own the reader would guess one.
    const std::string requestUrl = FeedRequestUrl(feedUrl);
    const std::string lower = AsciiLower(requestUrl);
    if (!lower.starts_with("http://") && !lower.starts_with("https://")) return nullptr;
    platform::UrlRequestOptions options;
    options.maxBodyBytes = kMaxFeedDocumentBytes;
    options.headers = std::move(headers);
    return session.StartUrl(requestUrl, options);
}

FetchedFeed ReadFeedDocument(platform::UrlRequest* request, bool conditional) {
    FetchedFeed fetched;
    std::string& document = fetched.document;
    if (!request || !request->WaitForAnswer()) return fetched;
    std::string code = request->StatusCode();
    if (code == "304" && conditional) {
        fetched.unchanged = true;
        return fetched;
    }
    if (code != "200" && code != "302") return FetchedFeed("Status:" + code);
    fetched.finalUrl = request->EffectiveUrl();
    fetched.validators = {request->Header("ETag"), request->Header("Last-Modified")};
    char piece[kPieceSize];
    for (;;) {
        std::optional<std::size_t> count = request->ReadFile(piece, kPieceSize);
        // A document cut short would be scanned as if complete and yield an older episode.
        if (!count) {
            FetchedFeed failed;
            failed.tooLarge = request->BodyTooLarge();
            return failed;
        }
        if (*count == 0) break;
        std::string_view received(piece, *count);
        document.append(received.substr(0, received.find('\0')));
        platform::App().ProcessMessages();
    }
    return fetched;
}

}  // namespace

std::string FeedRequestUrl(const std::string& feedUrl) {
    std::string lower = AsciiLower(feedUrl);
    if (lower.starts_with("https://") || lower.find("http://") != std::string::npos) return feedUrl;
    return "http://" + feedUrl;
}

FetchedFeed FetchFeedDocument(const std::string& feedUrl, platform::UrlReaderTimeouts timeouts,
                              const FeedValidators& validators) {
    auto session = platform::UrlSession::Open(kAgent, timeouts);
    if (!session) return {};
    std::vector<std::string> headers = ConditionalHeaders(validators);
    const bool conditional = !headers.empty();
    return ReadFeedDocument(StartFeedFetch(*session, feedUrl, std::move(headers)).get(),
                            conditional);
}

FeedPrefetch::FeedPrefetch(std::size_t inFlight, ValidatorsOf validatorsOf,
                           platform::UrlReaderTimeouts timeouts)
    : inFlight_(std::max<std::size_t>(inFlight, 1)),
      validatorsOf_(std::move(validatorsOf)),
      session_(platform::UrlSession::Open(kAgent, timeouts)) {}

FeedPrefetch::~FeedPrefetch() = default;

FeedPrefetch::Started FeedPrefetch::Start(const std::string& feedUrl) {
    std::vector<std::string> headers = ConditionalHeaders(validatorsOf_(feedUrl));
    const bool conditional = !headers.empty();
    return {feedUrl, conditional, StartFeedFetch(*session_, feedUrl, std::move(headers))};
}

FetchedFeed FeedPrefetch::Take(const FeedAt& feedAt, std::size_t position) {
    const std::string* feedUrl = feedAt(position);
    if (!session_ || !feedUrl) return {};
    // started_ holds the fetches of the feeds from position on, in order: the feed taken last is
    // gone from the list or was passed, and the rest moved up with it.
    for (std::size_t next = position + started_.size(); started_.size() < inFlight_; ++next) {
        const std::string* upcoming = feedAt(next);
        if (!upcoming) break;
        started_.push_back(Start(*upcoming));
    }
    if (started_.front().feedUrl != *feedUrl) {
        started_.clear();  // out of step: the list changed in a way a run does not change it
        started_.push_back(Start(*feedUrl));
    }
    const Started taken = std::move(started_.front());
    started_.pop_front();
    return ReadFeedDocument(taken.request.get(), taken.conditional);
}

}  // namespace app
