#include "app/opml.h"

#include <algorithm>
#include <optional>
#include <set>

#include "app/legible_text.h"
#include "app/xml_text.h"
#include "http/url.h"

namespace app {
namespace {

// Deeper nesting than any outline tree needs; the bound keeps the element stack small.
constexpr std::size_t kMaxDepth = 100;
constexpr std::size_t kMaxFeeds = 0xFFFF;  // as many as the list holds

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// The value of the encoding pseudo-attribute of a leading XML declaration, lower case; empty
// without one.
std::string DeclaredEncoding(std::string_view document) {
    if (!document.starts_with("<?xml")) return {};
    const std::string_view declaration = document.substr(0, document.find("?>"));
    const std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return {};
    const std::size_t quote = declaration.find_first_of("\"'", at);
    if (quote == std::string_view::npos) return {};
    const std::size_t end = declaration.find(declaration[quote], quote + 1);
    if (end == std::string_view::npos) return {};
    return LowerCase(std::string(declaration.substr(quote + 1, end - quote - 1)));
}

// The document as UTF-8, or nothing for an encoding it cannot be read in.
std::optional<std::string> AsUtf8(std::string_view document) {
    if (document.starts_with("\xEF\xBB\xBF")) document.remove_prefix(3);
    if (document.starts_with("\xFE\xFF") || document.starts_with("\xFF\xFE")) return std::nullopt;
    const std::string encoding = DeclaredEncoding(document);
    if (encoding.empty() || encoding == "utf-8" || encoding == "utf8" || encoding == "us-ascii")
        return LegibleText(document);
    if (encoding == "windows-1252" || encoding == "cp1252" || encoding == "iso-8859-1" ||
        encoding == "latin1" || encoding == "iso_8859-1")
        return Cp1252AsUtf8(document);
    return std::nullopt;
}

// One pass over the markup: every element checked against its end tag, the outlines' feeds taken.
class OpmlScanner {
  public:
    explicit OpmlScanner(std::string_view text) : text_(text) {}

    OpmlFeeds Scan() {
        while (result_.problem == OpmlProblem::None) {
            const std::size_t open = text_.find('<', at_);
            if (open == std::string_view::npos) break;
            at_ = open;
            Markup();
        }
        if (result_.problem == OpmlProblem::None && (!rootSeen_ || !open_.empty()))
            Fail(OpmlProblem::Malformed);
        if (result_.problem != OpmlProblem::None) result_.feeds.clear();
        return std::move(result_);
    }

  private:
    void Markup() {
        const std::string_view rest = text_.substr(at_);
        if (rest.starts_with("<?")) return SkipPast("?>");
        if (rest.starts_with("<!--")) return SkipPast("-->");
        if (rest.starts_with("<![CDATA[")) return SkipPast("]]>");
        // A document type declaration, with an internal subset perhaps; its entities are not used.
        if (rest.starts_with("<!")) return SkipPast(rest.find('[') < rest.find('>') ? "]>" : ">");
        if (rest.starts_with("</")) return EndTag();
        StartTag();
    }

    void SkipPast(std::string_view end) {
        const std::size_t found = text_.find(end, at_ + 2);
        if (found == std::string_view::npos) return Fail(OpmlProblem::Malformed);
        at_ = found + end.size();
    }

    std::string_view Name() {
        const std::size_t start = at_;
        while (at_ < text_.size() && IsNameChar(text_[at_]))
            ++at_;
        return text_.substr(start, at_ - start);
    }

    void SkipSpace() {
        while (at_ < text_.size() && IsSpace(text_[at_]))
            ++at_;
    }

    void EndTag() {
        at_ += 2;
        const std::string_view name = Name();
        SkipSpace();
        if (open_.empty() || name != open_.back() || at_ >= text_.size() || text_[at_] != '>')
            return Fail(OpmlProblem::Malformed);
        ++at_;
        open_.pop_back();
    }

    void StartTag() {
        ++at_;
        const std::string_view name = Name();
        if (name.empty()) return Fail(OpmlProblem::Malformed);
        if (open_.empty()) {
            if (rootSeen_) return Fail(OpmlProblem::Malformed);  // a second root
            if (name != "opml") return Fail(OpmlProblem::NotOpml);
            rootSeen_ = true;
        }
        std::optional<std::string> feed;
        for (;;) {
            const std::size_t before = at_;
            SkipSpace();
            if (at_ >= text_.size()) return Fail(OpmlProblem::Malformed);
            if (text_.substr(at_).starts_with("/>")) {
                at_ += 2;
                break;
            }
            if (text_[at_] == '>') {
                ++at_;
                if (open_.size() >= kMaxDepth) return Fail(OpmlProblem::Malformed);
                open_.push_back(name);
                break;
            }
            // Attributes are set apart by white space.
            if (at_ == before) return Fail(OpmlProblem::Malformed);
            std::optional<std::pair<std::string_view, std::string>> attribute = Attribute();
            if (!attribute) return Fail(OpmlProblem::Malformed);
            if (name == "outline" && LowerCase(std::string(attribute->first)) == "xmlurl")
                feed = std::move(attribute->second);
        }
        if (feed) TakeFeed(*feed);
    }

    std::optional<std::pair<std::string_view, std::string>> Attribute() {
        const std::string_view name = Name();
        SkipSpace();
        if (name.empty() || at_ >= text_.size() || text_[at_] != '=') return std::nullopt;
        ++at_;
        SkipSpace();
        if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) return std::nullopt;
        const std::size_t end = text_.find(text_[at_], at_ + 1);
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view value = text_.substr(at_ + 1, end - at_ - 1);
        if (value.find('<') != std::string_view::npos) return std::nullopt;
        at_ = end + 1;
        return std::pair{name, DecodeXmlReferences(value)};
    }

    void TakeFeed(std::string_view value) {
        const std::string_view url = Trimmed(value);
        // A line break would split the list file's line; other control characters have no
        // place in an address either.
        const bool control = std::any_of(url.begin(), url.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        });
        if (url.empty() || control || result_.feeds.size() >= kMaxFeeds) return;
        if (seen_.insert(std::string(url)).second) result_.feeds.emplace_back(url);
    }

    void Fail(OpmlProblem problem) {
        result_.problem = problem;
        const std::size_t end = std::min(at_, text_.size());
        result_.line =
            1 + static_cast<std::size_t>(std::count(text_.begin(), text_.begin() + end, '\n'));
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::vector<std::string_view> open_;
    bool rootSeen_ = false;
    std::set<std::string> seen_;
    OpmlFeeds result_;
};

// Text for an attribute value in double quotes.
std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20)
                    out += "&#" + std::to_string(static_cast<int>(c)) + ";";
                else
                    out += c;
        }
    }
    return out;
}

}  // namespace

OpmlFeeds ReadOpml(std::string_view document) {
    if (document.size() > kMaxOpmlBytes) return {{}, OpmlProblem::TooLarge, 0};
    const std::optional<std::string> text = AsUtf8(document);
    if (!text) return {{}, OpmlProblem::UnsupportedEncoding, 0};
    return OpmlScanner(*text).Scan();
}

std::string WriteOpml(const std::vector<std::string>& feeds, std::string_view title) {
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n";
    document += "  <head>\n    <title>" + Escaped(LegibleText(title)) + "</title>\n  </head>\n";
    document += "  <body>\n";
    for (const std::string& feed : feeds) {
        const std::string url = Escaped(LegibleText(feed));
        document += "    <outline type=\"rss\" text=\"" + url + "\" xmlUrl=\"" + url + "\"/>\n";
    }
    return document + "  </body>\n</opml>\n";
}

}  // namespace app
