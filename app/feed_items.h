// Reading a feed document as a list of episodes: every RSS <item> and Atom <entry> with its
// identity, date, title and the enclosure it offers, in one bounded pass over the document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

struct FeedItem {
    std::string guid;   // <guid> of RSS, <id> of Atom; references decoded, trimmed; may be empty
    std::string title;  // <title>, references decoded, CDATA unwrapped, white space trimmed
    std::optional<std::int64_t> date;  // <pubDate>, <dc:date>, Atom <published> or <updated>
    std::string enclosureUrl;          // absolute, resolved against the feed's address
    std::string enclosureType;         // the MIME type the feed gives it, or empty
};

struct FeedItems {
    // The items that offer an enclosure, in document order.
    std::vector<FeedItem> items;
    // Every enclosure URL of those items in document order, as resolved, not only the chosen
    // ones (of an item with only <media:content>, those): what the scan keeps as the feed's
    // EnclosureUrls.
    std::vector<std::string> enclosureUrls;
};

// Reads document, fetched from feedUrl (the address after relocations), which relative enclosure
// references are resolved against; when feedUrl is empty or no absolute URI, they stay as written.
//
// An item's enclosure is its RSS <enclosure url=…>, or Atom <link rel="enclosure" href=…>; only
// when it has neither, its <media:content url=…> (also inside <media:group>). Of several, the
// first whose type is audio/… or video/…, else the first. Attribute values may stand in either
// quote and in any order; URLs are trimmed and their XML references decoded. Comments and CDATA
// sections are text. <podcast:liveItem> and anything outside <item>/<entry> are no episodes.
FeedItems ReadFeedItems(std::string_view document, std::string_view feedUrl);

// The positions of items, newest first: dated items by date (on equal dates the later in the
// document first), then the undated ones in document order. Undated items never come before a
// dated one.
std::vector<std::size_t> NewestFirst(const std::vector<FeedItem>& items);

}  // namespace app
