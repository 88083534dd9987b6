// Reads arbitrary bytes as a feed document and checks what the scan and the download rely on:
// every item offers an enclosure that is among the document's enclosure URLs, no kept text grows
// past its bound or past what the document and the feed's address can give, the newest-first
// order is an order of all items with the dated ones first, and every episode's file name,
// numbered or not, names a plain file inside the download folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/episode_file_name.h"
#include "app/feed_items.h"
#include "app/xml_text.h"

namespace {

// An address with a path and a query, so that relative references have much to resolve against.
constexpr std::string_view kFeedUrl = "https://h.example/shows/a/feed.xml?page=2";
constexpr std::size_t kMaxTextBytes = 1024;

void Require(bool condition) {
    if (!condition) std::abort();
}

// Whatever the feed holds, an episode's file name names a plain file inside the download folder,
// and so does the numbered name that makes way for another episode's.
void CheckFileName(const app::FeedItem& item) {
    for (const bool shared : {false, true}) {
        const std::string name = app::EpisodeFileName(item, shared);
        const std::string numbered =
            app::UnusedFileName(name, [&](const std::string& n) { return n == name; });
        for (const std::string& chosen : {name, numbered}) {
            Require(app::IsSafeFileName(chosen));
            Require(std::none_of(chosen.begin(), chosen.end(), [](char c) {
                auto byte = static_cast<unsigned char>(c);
                return c == '/' || byte < 0x20 || byte == 0x7F;
            }));
        }
    }
}

void CheckNewestFirst(const std::vector<app::FeedItem>& items) {
    const std::vector<std::size_t> order = app::NewestFirst(items);
    Require(order.size() == items.size());
    std::vector<bool> seen(items.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        Require(order[i] < items.size() && !seen[order[i]]);
        seen[order[i]] = true;
        if (i == 0) continue;
        const app::FeedItem& before = items[order[i - 1]];
        const app::FeedItem& item = items[order[i]];
        if (!item.date) {
            // Undated items come last, in document order.
            Require(before.date || order[i - 1] < order[i]);
        } else {
            Require(before.date && (*before.date > *item.date ||
                                    (*before.date == *item.date && order[i - 1] > order[i])));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), size);

    Require(app::DecodeXmlReferences(document).size() <= size);

    for (std::string_view feedUrl : {kFeedUrl, std::string_view{}}) {
        const app::FeedItems read = app::ReadFeedItems(document, feedUrl);
        const std::vector<std::string>& urls = read.enclosureUrls;
        Require(read.items.size() <= urls.size());
        // A resolved URL holds at most the feed's address, a "/" and what the document wrote.
        for (const std::string& url : urls) {
            Require(!url.empty() && url.size() <= feedUrl.size() + 1 + size);
        }
        // The items' enclosures come in document order among all enclosure URLs.
        auto next = urls.begin();
        for (const app::FeedItem& item : read.items) {
            Require(!item.enclosureUrl.empty());
            CheckFileName(item);
            Require(item.title.size() <= kMaxTextBytes && item.guid.size() <= kMaxTextBytes);
            next = std::find(next, urls.end(), item.enclosureUrl);
            Require(next != urls.end());
            ++next;
        }
        CheckNewestFirst(read.items);
    }
    return 0;
}
