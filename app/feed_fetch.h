// Reading one feed document for the scan run.
#pragma once

#include <string>

#include "platform/url_reader.h"

namespace app {

struct FetchedFeed {
    FetchedFeed() = default;
    // A document alone, as a replaced fetch step gives it: its address is the feed's own.
    FetchedFeed(std::string text) : document(std::move(text)) {}  // NOLINT(google-explicit-constructor)

    std::string document;
    std::string finalUrl;  // where the document came from after relocations; empty when unknown
};

// The address requested for a feed URL: "http://" goes in front unless the URL starts with
// "https://" or holds "http://" anywhere, compared without regard to the case of letters.
std::string FeedRequestUrl(const std::string& feedUrl);

// The document at feedUrl, read in pieces of at most 4095 bytes, each taken up to its first NUL,
// with the application's messages processed after each piece. "Status:" and the code when the
// answer is neither 200 nor 302; the empty string when the request address does not start with
// "http://" or "https://", could not be opened, or the transfer broke off before the end of the
// document. Reports no error to its caller.
FetchedFeed FetchFeedDocument(const std::string& feedUrl,
                              platform::UrlReaderTimeouts timeouts = {});

}  // namespace app
