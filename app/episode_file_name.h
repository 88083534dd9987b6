// The file names episodes are saved under: readable, safe, and never shared by two episodes.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace app {

struct FeedItem;

// Whether a name taken from the network may name a file in the download folder: not empty, not
// "." or "..", at most 255 bytes, and no "/", no byte below 0x20 and no 0x7F.
bool IsSafeFileName(std::string_view name);

// The last path segment of url, without query and fragment, percent-decoded: "ep 3.mp3" for
// "http://h/a/ep%203.mp3?id=1#t". Empty when the path ends in "/".
std::string UrlFileName(std::string_view url);

// Whether a name says nothing of its episode: a word hosts use for every file ("media.mp3",
// "audio", "index", "stream", …), a bare number or hex id, or a whole address in Base64.
bool IsGenericFileName(std::string_view name);

// The name an item's file is saved under: its UrlFileName, unless that is generic, unsafe, or
// shared with another item of the feed (sharedInFeed); then the item's title with the extension of
// the URL or, failing that, of its MIME type.
std::string EpisodeFileName(const FeedItem& item, bool sharedInFeed);

// name, or the first of "stem (2).ext", "stem (3).ext", … that taken refuses.
std::string UnusedFileName(const std::string& name,
                           const std::function<bool(const std::string&)>& taken);

}  // namespace app
