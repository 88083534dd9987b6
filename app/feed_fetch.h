// Reading one feed document for the scan run.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "app/episode_history.h"
#include "platform/url_reader.h"

namespace app {

struct FetchedFeed {
    FetchedFeed() = default;
    // A document alone, as a replaced fetch step gives it: its address is the feed's own.
    FetchedFeed(std::string text) : document(std::move(text)) {}  // NOLINT(google-explicit-constructor)

    std::string document;
    std::string finalUrl;  // where the document came from after relocations; empty when unknown
    FeedValidators validators;  // of the answer, to ask next time whether the feed changed
    bool unchanged = false;  // the server said the document is the one the validators sent name
    bool tooLarge = false;   // the document passed kMaxFeedDocumentBytes; nothing of it is kept
};

// The most bytes of a feed document, decoded, that a fetch takes; a compressed document may
// announce far fewer.
constexpr std::size_t kMaxFeedDocumentBytes = 64 * 1024 * 1024;

// The address requested for a feed URL: "http://" goes in front unless the URL starts with
// "https://" or holds "http://" anywhere, compared without regard to the case of letters.
std::string FeedRequestUrl(const std::string& feedUrl);

// The document at feedUrl, read in pieces of at most 4095 bytes, each taken up to its first NUL,
// with the application's messages processed after each piece. "Status:" and the code when the
// answer is neither 200 nor 302; the empty string when the request address does not start with
// "http://" or "https://", could not be opened, or the transfer broke off before the end of the
// document. Reports no error to its caller. With validators, the request asks whether the
// document changed since the answer they came from (If-None-Match, If-Modified-Since); a 304 is
// then unchanged.
FetchedFeed FetchFeedDocument(const std::string& feedUrl,
                              platform::UrlReaderTimeouts timeouts = {},
                              const FeedValidators& validators = {});

// The feeds of a run, fetched as FetchFeedDocument does but side by side: while the run works on
// one feed, the next ones are on their way (at most 4 connections per server, kept for its next
// request). Releasing it stops every fetch at once.
class FeedPrefetch {
  public:
    // The validators to send with a feed's request (see FetchFeedDocument).
    using ValidatorsOf = std::function<FeedValidators(const std::string& feedUrl)>;

    FeedPrefetch(std::size_t inFlight, ValidatorsOf validatorsOf,
                 platform::UrlReaderTimeouts timeouts = {});
    ~FeedPrefetch();
    FeedPrefetch(const FeedPrefetch&) = delete;
    FeedPrefetch& operator=(const FeedPrefetch&) = delete;

    // The URL of the feed at a position of the list; nullptr past its end.
    using FeedAt = std::function<const std::string*(std::size_t position)>;

    // The document of the feed at position, the one the run has come to, with the fetches of the
    // feeds after it started up to inFlight in all. Feeds are taken in list order, each once; the
    // run may only remove the feed it took last.
    FetchedFeed Take(const FeedAt& feedAt, std::size_t position);

  private:
    struct Started {
        std::string feedUrl;
        bool conditional = false;
        std::unique_ptr<platform::UrlRequest> request;  // nullptr: no address to fetch
    };

    Started Start(const std::string& feedUrl);

    std::size_t inFlight_;
    ValidatorsOf validatorsOf_;
    std::unique_ptr<platform::UrlSession> session_;
    std::deque<Started> started_;
};

}  // namespace app
