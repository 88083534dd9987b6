#include "app/enclosure_scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "app/feed_date.h"

namespace app {
namespace {

constexpr std::string_view kElementStart = "<enclosure";
constexpr std::string_view kItemStart = "<item";
constexpr std::string_view kItemEnd = "</item>";
constexpr std::string_view kDateStart = "<pubDate>";
constexpr std::string_view kCommentStart = "<!--";
constexpr std::string_view kCommentEnd = "-->";
constexpr std::string_view kCDataStart = "<![CDATA[";
constexpr std::string_view kCDataEnd = "]]>";
constexpr std::size_t kMaxNameBytes = 255;

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EndsName(char c) {
    return IsXmlSpace(c) || c == '=' || c == '>' || c == '/' || c == '<';
}

std::size_t SkipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && IsXmlSpace(text[at]))
        ++at;
    return at;
}

// Reads the attributes of an element from at (just after its name) to its end. Returns where the
// search for the next element goes on; url receives the first url attribute's raw value.
std::size_t ReadAttributes(std::string_view document, std::size_t at,
                           std::optional<std::string_view>& url) {
    const std::size_t size = document.size();
    for (;;) {
        at = SkipSpace(document, at);
        if (at >= size) return size;
        if (document[at] == '>') return at + 1;
        if (document[at] == '<') return at;  // malformed: a new tag begins
        if (document[at] == '/') {
            ++at;
            continue;
        }
        std::size_t nameStart = at;
        while (at < size && !EndsName(document[at]))
            ++at;
        std::string_view name = document.substr(nameStart, at - nameStart);
        at = SkipSpace(document, at);
        if (at >= size || document[at] != '=') continue;  // an attribute without a value
        at = SkipSpace(document, at + 1);
        if (at >= size) return size;
        char quote = document[at];
        if (quote != '"' && quote != '\'') {  // an unquoted value is no XML; pass over it
            while (at < size && !IsXmlSpace(document[at]) && document[at] != '>')
                ++at;
            continue;
        }
        std::size_t valueEnd = document.find(quote, at + 1);
        bool closed = valueEnd != std::string_view::npos;
        if (name == "url" && !url)
            url = closed ? document.substr(at + 1, valueEnd - at - 1) : std::string_view{};
        if (!closed) return size;
        at = valueEnd + 1;
    }
}

// Where the text goes on after the first end at or after from; the end of the document when the
// section is never closed.
std::size_t SkipPast(std::string_view document, std::size_t from, std::string_view end) {
    std::size_t found = document.find(end, from);
    return found == std::string_view::npos ? document.size() : found + end.size();
}

// The next "<" that may open an enclosure, an item, its end, its date, a comment or a CDATA
// section. Most tags of a feed are passed over here, in a tight loop.
std::size_t NextTagOfInterest(std::string_view document, std::size_t at) {
    if (document.size() < 3) return std::string_view::npos;
    const char* const begin = document.data();
    const char* const last = begin + document.size() - 2;  // the tag's first two bytes follow "<"
    const char* p = begin + at;
    while (p < last) {
        p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(last - p)));
        if (!p) break;
        const char next = p[1];
        if (next == 'e' || next == 'i' || next == 'p' || next == '!' ||
            (next == '/' && p[2] == 'i'))
            return static_cast<std::size_t>(p - begin);
        ++p;
    }
    return std::string_view::npos;
}

// Follows the items of a feed to learn which enclosure belongs to the newest episode.
class NewestEpisode {
  public:
    void ItemBegins() {
        ItemEnds();  // an item left open ends where the next begins
        inItem_ = true;
    }
    void ItemEnds() {
        if (!inItem_) return;
        if (itemEnclosure_ != kNone) {
            if (!itemDate_) {
                allDated_ = false;
            } else if (!newestDate_ || *itemDate_ >= *newestDate_) {
                newestDate_ = itemDate_;
                newest_ = itemEnclosure_;
            }
        }
        inItem_ = itemDateSeen_ = false;
        itemDate_.reset();
        itemEnclosure_ = kNone;
    }
    void DateFound(std::string_view text) {
        if (!inItem_ || itemDateSeen_) return;
        itemDateSeen_ = true;
        itemDate_ = ParseFeedDate(text);
    }
    // An item's last enclosure stands for it.
    void EnclosureFound(std::size_t index) {
        if (inItem_)
            itemEnclosure_ = index;
        else
            allDated_ = false;
    }
    // The newest episode's index among count enclosures, the last one when dates cannot tell.
    std::size_t Index(std::size_t count) {
        ItemEnds();
        if (count == 0) return 0;
        return allDated_ && newestDate_ ? newest_ : count - 1;
    }

  private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

    bool inItem_ = false;
    bool itemDateSeen_ = false;
    std::optional<std::int64_t> itemDate_;
    std::size_t itemEnclosure_ = kNone;
    bool allDated_ = true;
    std::optional<std::int64_t> newestDate_;
    std::size_t newest_ = 0;
};

}  // namespace

FeedEnclosures FindEnclosures(std::string_view document) {
    FeedEnclosures found;
    NewestEpisode newest;
    const std::size_t size = document.size();
    std::size_t at = 0;
    while ((at = NextTagOfInterest(document, at)) != std::string_view::npos) {
        const std::string_view tag = document.substr(at);
        switch (tag[1]) {
            case 'e':
                if (!tag.starts_with(kElementStart)) break;
                at += kElementStart.size();
                if (at < size && IsXmlSpace(document[at])) {
                    std::optional<std::string_view> url;
                    at = ReadAttributes(document, at, url);
                    if (url) {
                        newest.EnclosureFound(found.urls.size());
                        found.urls.push_back(DecodeXmlReferences(*url));
                    }
                }
                continue;
            case '!':
                if (tag.starts_with(kCommentStart)) {
                    at = SkipPast(document, at + kCommentStart.size(), kCommentEnd);
                    continue;
                }
                if (tag.starts_with(kCDataStart)) {
                    at = SkipPast(document, at + kCDataStart.size(), kCDataEnd);
                    continue;
                }
                break;
            case 'i':
                if (tag.starts_with(kItemStart) && tag.size() > kItemStart.size() &&
                    (tag[kItemStart.size()] == '>' || IsXmlSpace(tag[kItemStart.size()])))
                    newest.ItemBegins();
                break;
            case '/':
                if (tag.starts_with(kItemEnd)) newest.ItemEnds();
                break;
            case 'p':
                if (!tag.starts_with(kDateStart)) break;
                at += kDateStart.size();
                {
                    const std::size_t textEnd = std::min(document.find('<', at), size);
                    newest.DateFound(document.substr(at, textEnd - at));
                    at = textEnd;
                }
                continue;
            default:
                break;
        }
        ++at;
    }
    found.newest = newest.Index(found.urls.size());
    return found;
}

std::string EnclosureFileName(std::string_view url) {
    std::size_t slash = url.rfind('/');
    return std::string(slash == std::string_view::npos ? url : url.substr(slash + 1));
}

}  // namespace app
