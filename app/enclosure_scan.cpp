#include "app/enclosure_scan.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>

namespace app {
namespace {

constexpr std::string_view kElementStart = "<enclosure";
constexpr std::size_t kMaxNameBytes = 255;
// The longest reference worth decoding ("#x10FFFF" and a few leading zeros).
constexpr std::size_t kMaxReferenceLength = 12;

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

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The text a reference stands for (name is what lies between "&" and ";"), if it is one.
std::optional<std::string> DecodeReference(std::string_view name) {
    if (name == "amp") return "&";
    if (name == "lt") return "<";
    if (name == "gt") return ">";
    if (name == "quot") return "\"";
    if (name == "apos") return "'";
    if (name.size() < 2 || name[0] != '#') return std::nullopt;
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string_view digits = name.substr(hex ? 2 : 1);
    std::uint32_t code = 0;
    auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    bool valid = error == std::errc{} && end == digits.data() + digits.size() && !digits.empty() &&
                 code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (!valid) return std::nullopt;
    std::string text;
    AppendUtf8(text, code);
    return text;
}

}  // namespace

std::vector<std::string> FindEnclosureUrls(std::string_view document) {
    std::vector<std::string> urls;
    std::size_t at = 0;
    while ((at = document.find(kElementStart, at)) != std::string_view::npos) {
        at += kElementStart.size();
        if (at >= document.size() || !IsXmlSpace(document[at])) continue;
        std::optional<std::string_view> url;
        at = ReadAttributes(document, at, url);
        if (url) urls.push_back(DecodeXmlReferences(*url));
    }
    return urls;
}

std::string DecodeXmlReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t amp = text.find('&', at);
        out.append(text.substr(at, amp - at));
        if (amp == std::string_view::npos) break;
        std::size_t semicolon = text.substr(amp + 1, kMaxReferenceLength + 1).find(';');
        std::optional<std::string> decoded;
        if (semicolon != std::string_view::npos)
            decoded = DecodeReference(text.substr(amp + 1, semicolon));
        if (decoded) {
            out += *decoded;
            at = amp + semicolon + 2;
        } else {
            out += '&';
            at = amp + 1;
        }
    }
    return out;
}

std::string EnclosureFileName(std::string_view url) {
    std::size_t slash = url.rfind('/');
    return std::string(slash == std::string_view::npos ? url : url.substr(slash + 1));
}

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameBytes) return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

}  // namespace app
