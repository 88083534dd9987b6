#include "app/feed_items.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <optional>
#include <tuple>

#include "app/feed_date.h"
#include "app/xml_text.h"
#include "http/uri_reference.h"

namespace app {
namespace {

constexpr std::string_view kCommentStart = "<!--";
constexpr std::string_view kCommentEnd = "-->";
constexpr std::string_view kCDataStart = "<![CDATA[";
constexpr std::string_view kCDataEnd = "]]>";
// What one item may make the reader hold: a title or an identity longer than a screen line is
// cut, a type longer than a MIME type may be is cut, and a URL longer than a server takes in a
// request line is no enclosure.
constexpr std::size_t kMaxTextBytes = 1024;
constexpr std::size_t kMaxTypeBytes = 255;
constexpr std::size_t kMaxUrlBytes = 8192;

enum class Element { Other, Item, LiveItem, Guid, Title, Date, Updated, Enclosure, Link, Media };

struct NamedElement {
    std::string_view name;
    Element element;
};
constexpr NamedElement kElements[] = {
    {"item", Element::Item},
    {"entry", Element::Item},
    {"podcast:liveItem", Element::LiveItem},
    {"guid", Element::Guid},
    {"id", Element::Guid},
    {"title", Element::Title},
    {"pubDate", Element::Date},
    {"dc:date", Element::Date},
    {"published", Element::Date},
    {"updated", Element::Updated},
    {"enclosure", Element::Enclosure},
    {"link", Element::Link},
    {"media:content", Element::Media},
};

// The bytes that may follow "<" (or "</") in a tag the reader looks at: the first letters of the
// names above, and "!" of comments and CDATA sections. Only items and live items have end tags
// worth finding.
constexpr std::array<bool, 256> kStartTagBytes = [] {
    std::array<bool, 256> bytes{};
    for (const NamedElement& named : kElements)
        bytes[static_cast<unsigned char>(named.name[0])] = true;
    bytes['!'] = true;
    return bytes;
}();
constexpr std::array<bool, 256> kEndTagBytes = [] {
    std::array<bool, 256> bytes{};
    for (const NamedElement& named : kElements)
        if (named.element == Element::Item || named.element == Element::LiveItem)
            bytes[static_cast<unsigned char>(named.name[0])] = true;
    return bytes;
}();

Element ElementNamed(std::string_view name) {
    for (const NamedElement& named : kElements)
        if (named.name == name) return named.element;
    return Element::Other;
}

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

std::string_view Trimmed(std::string_view text) {
    text.remove_prefix(SkipSpace(text, 0));
    while (!text.empty() && IsXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Where the text goes on after the first end at or after from; the end of the document when the
// section is never closed.
std::size_t SkipPast(std::string_view document, std::size_t from, std::string_view end) {
    std::size_t found = document.find(end, from);
    return found == std::string_view::npos ? document.size() : found + end.size();
}

// The next "<" that may open a tag the reader looks at. Most tags of a feed are passed over here,
// in a tight loop.
std::size_t NextTagOfInterest(std::string_view document, std::size_t at) {
    if (document.size() < 3) return std::string_view::npos;
    const char* const begin = document.data();
    const char* const last = begin + document.size() - 2;  // the tag's first two bytes follow "<"
    const char* p = begin + at;
    while (p < last) {
        p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(last - p)));
        if (!p) break;
        const auto next = static_cast<unsigned char>(p[1]);
        if (kStartTagBytes[next] || (next == '/' && kEndTagBytes[static_cast<unsigned char>(p[2])]))
            return static_cast<std::size_t>(p - begin);
        ++p;
    }
    return std::string_view::npos;
}

// The attributes of a start tag that the reader uses, as written; one that is not there has no
// data (an empty value points into the document).
struct Attributes {
    std::string_view url, href, type, rel, medium;
    bool selfClosing = false;  // "<…/>": the element holds nothing

    std::string_view* Named(std::string_view name) {
        if (name == "url") return &url;
        if (name == "href") return &href;
        if (name == "type") return &type;
        if (name == "rel") return &rel;
        if (name == "medium") return &medium;
        return nullptr;
    }
};

// Reads the attributes of a start tag from at (just after its name) to its end; the first of each
// name counts. Returns where the reading goes on.
std::size_t ReadAttributes(std::string_view document, std::size_t at, Attributes& attributes) {
    const std::size_t size = document.size();
    for (;;) {
        at = SkipSpace(document, at);
        if (at >= size) return size;
        if (document[at] == '>') return at + 1;
        if (document[at] == '<') return at;  // malformed: a new tag begins
        if (document[at] == '/') {
            if (at + 1 < size && document[at + 1] == '>') {
                attributes.selfClosing = true;
                return at + 2;
            }
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
        if (valueEnd == std::string_view::npos) return size;
        std::string_view* value = attributes.Named(name);
        if (value && !value->data()) *value = document.substr(at + 1, valueEnd - at - 1);
        at = valueEnd + 1;
    }
}

struct Text {
    std::string value;
    bool whole = true;  // false when value was cut to its bound
};

// Reads the text of an element from at (just after its start tag) to the first tag in it: its
// references decoded, its CDATA sections as they are, comments left out, trimmed, within limit
// bytes. Returns where the reading goes on.
std::size_t ReadText(std::string_view document, std::size_t at, std::size_t limit, Text& text) {
    const std::size_t size = document.size();
    // Blanks before the text take no room.
    auto append = [&](std::string_view piece, bool decode) {
        if (text.value.empty()) piece.remove_prefix(SkipSpace(piece, 0));
        if (text.whole)
            text.whole = decode ? AppendXmlText(text.value, piece, limit)
                                : AppendWithin(text.value, piece, limit);
    };
    for (;;) {
        const std::size_t tag = std::min(document.find('<', at), size);
        append(document.substr(at, tag - at), true);
        const std::string_view rest = document.substr(tag);
        if (rest.starts_with(kCDataStart)) {
            const std::size_t start = tag + kCDataStart.size();
            append(document.substr(start, std::min(document.find(kCDataEnd, start), size) - start),
                   false);
            at = SkipPast(document, start, kCDataEnd);
        } else if (rest.starts_with(kCommentStart)) {
            at = SkipPast(document, tag + kCommentStart.size(), kCommentEnd);
        } else {
            text.value.resize(Trimmed(text.value).size());
            return tag;
        }
    }
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
           });
}

bool IsAudioOrVideo(std::string_view type) {
    return StartsWithNoCase(type, "audio/") || StartsWithNoCase(type, "video/");
}

// One enclosure an item offers.
struct Enclosure {
    std::string url;
    std::string type;
    bool audioOrVideo = false;
};

// Gathers the items of a document as the reader comes by their tags.
class ItemCollector {
  public:
    explicit ItemCollector(std::string_view feedUrl) : feedUrl_(feedUrl) {}

    // Whether a start tag of element matters where the reader is.
    bool Wants(Element element) const {
        switch (state_) {
            case State::Outside:
                return element == Element::Item || element == Element::LiveItem;
            case State::LiveItem:
                return false;
            case State::Item:
                break;
        }
        switch (element) {
            case Element::Guid:
                return !guidSeen_;
            case Element::Title:
                return !titleSeen_;
            case Element::Date:
                return !item_.date;
            case Element::Updated:
                return !updated_;
            default:
                return true;
        }
    }

    static bool HoldsText(Element element) {
        return element == Element::Guid || element == Element::Title || element == Element::Date ||
               element == Element::Updated;
    }

    void StartTag(Element element, const Attributes& attributes) {
        switch (element) {
            case Element::Item:
                EndItem();  // an item left open ends where the next begins
                state_ = State::Item;
                if (attributes.selfClosing) EndItem();
                return;
            case Element::LiveItem:
                EndItem();
                if (!attributes.selfClosing) state_ = State::LiveItem;
                return;
            case Element::Enclosure:
                return Offered(enclosures_, attributes.url, attributes.type, false);
            case Element::Link:
                if (Trimmed(attributes.rel) == "enclosure")
                    Offered(enclosures_, attributes.href, attributes.type, false);
                return;
            case Element::Media:
                return Offered(
                    media_, attributes.url, attributes.type,
                    Trimmed(attributes.medium) == "audio" || Trimmed(attributes.medium) == "video");
            default:
                return;
        }
    }

    void TextFound(Element element, Text text) {
        switch (element) {
            case Element::Guid:
                guidSeen_ = true;
                item_.guid = std::move(text.value);
                return;
            case Element::Title:
                titleSeen_ = true;
                item_.title = std::move(text.value);
                return;
            case Element::Date:
            case Element::Updated:
                // A date cut short could read as another date.
                if (text.whole)
                    (element == Element::Date ? item_.date : updated_) = ParseFeedDate(text.value);
                return;
            default:
                return;
        }
    }

    void EndTag(Element element) {
        if (element == Element::Item) EndItem();
        if (element == Element::LiveItem && state_ == State::LiveItem) state_ = State::Outside;
    }

    FeedItems Finish() {
        EndItem();
        return std::move(found_);
    }

  private:
    enum class State {
        Outside,   // waits for an item or a live item to begin
        Item,      // gathers what the item says of its episode
        LiveItem,  // waits for the live item's end; nothing in it counts
    };

    void Offered(std::vector<Enclosure>& offers, std::string_view url, std::string_view type,
                 bool audioOrVideo) {
        const std::string_view written = Trimmed(url);
        if (written.empty() || written.size() > kMaxUrlBytes) return;
        const std::string decoded = DecodeXmlReferences(written);
        const std::string_view reference = Trimmed(decoded);
        if (reference.empty()) return;
        Enclosure enclosure{ResolveUriReference(feedUrl_, reference), {}, audioOrVideo};
        AppendXmlText(enclosure.type, Trimmed(type), kMaxTypeBytes);
        enclosure.type.resize(Trimmed(enclosure.type).size());
        enclosure.audioOrVideo = enclosure.audioOrVideo || IsAudioOrVideo(enclosure.type);
        offers.push_back(std::move(enclosure));
    }

    void EndItem() {
        if (state_ != State::Item) return;
        state_ = State::Outside;
        std::vector<Enclosure>& offers = enclosures_.empty() ? media_ : enclosures_;
        if (!offers.empty()) {
            auto chosen = std::find_if(offers.begin(), offers.end(),
                                       [](const Enclosure& e) { return e.audioOrVideo; });
            if (chosen == offers.end()) chosen = offers.begin();
            item_.enclosureUrl = chosen->url;
            item_.enclosureType = std::move(chosen->type);
            if (!item_.date) item_.date = updated_;
            found_.items.push_back(std::move(item_));
            for (Enclosure& offer : offers)
                found_.enclosureUrls.push_back(std::move(offer.url));
        }
        item_ = FeedItem{};
        guidSeen_ = titleSeen_ = false;
        updated_.reset();
        enclosures_.clear();
        media_.clear();
    }

    const std::string_view feedUrl_;
    State state_ = State::Outside;
    FeedItem item_;
    bool guidSeen_ = false;
    bool titleSeen_ = false;
    std::optional<std::int64_t> updated_;  // stands in when the item has no other date
    std::vector<Enclosure> enclosures_;    // <enclosure> and <link rel="enclosure">
    std::vector<Enclosure> media_;         // <media:content>, for an item without the above
    FeedItems found_;
};

}  // namespace

FeedItems ReadFeedItems(std::string_view document, std::string_view feedUrl) {
    ItemCollector items(feedUrl);
    const std::size_t size = document.size();
    std::size_t at = 0;
    while ((at = NextTagOfInterest(document, at)) != std::string_view::npos) {
        const std::string_view tag = document.substr(at);
        if (tag.starts_with(kCommentStart)) {
            at = SkipPast(document, at + kCommentStart.size(), kCommentEnd);
            continue;
        }
        if (tag.starts_with(kCDataStart)) {
            at = SkipPast(document, at + kCDataStart.size(), kCDataEnd);
            continue;
        }
        const bool endTag = tag[1] == '/';
        const std::size_t nameStart = at + (endTag ? 2 : 1);
        at = nameStart;
        while (at < size && !EndsName(document[at]))
            ++at;
        const Element element = ElementNamed(document.substr(nameStart, at - nameStart));
        if (element == Element::Other) continue;
        if (endTag) {
            items.EndTag(element);
            continue;
        }
        if (!items.Wants(element)) continue;
        Attributes attributes;
        at = ReadAttributes(document, at, attributes);
        if (!ItemCollector::HoldsText(element)) {
            items.StartTag(element, attributes);
            continue;
        }
        Text text;
        if (!attributes.selfClosing) at = ReadText(document, at, kMaxTextBytes, text);
        items.TextFound(element, std::move(text));
    }
    return items.Finish();
}

std::vector<std::size_t> NewestFirst(const std::vector<FeedItem>& items) {
    std::vector<std::size_t> order(items.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // Dated before undated; dated by date, then position, both descending; undated by position.
    auto key = [&](std::size_t i) {
        const std::optional<std::int64_t>& date = items[i].date;
        return date ? std::tuple(0, -*date, -static_cast<std::int64_t>(i))
                    : std::tuple(1, std::int64_t{0}, static_cast<std::int64_t>(i));
    };
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    return order;
}

}  // namespace app
