#include "app/xml_text.h"

#include <charconv>
#include <cstdint>
#include <optional>

namespace app {
namespace {

// The longest reference worth decoding ("#x10FFFF" and a few leading zeros).
constexpr std::size_t kMaxReferenceLength = 12;

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

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string DecodeXmlReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendXmlText(out, text, std::string::npos);
    return out;
}

bool AppendXmlText(std::string& out, std::string_view text, std::size_t limit) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t amp = text.find('&', at);
        if (!AppendWithin(out, text.substr(at, amp - at), limit)) return false;
        if (amp == std::string_view::npos) break;
        std::size_t semicolon = text.substr(amp + 1, kMaxReferenceLength + 1).find(';');
        std::optional<std::string> decoded;
        if (semicolon != std::string_view::npos)
            decoded = DecodeReference(text.substr(amp + 1, semicolon));
        if (!AppendWithin(out, decoded ? *decoded : "&", limit)) return false;
        at = decoded ? amp + semicolon + 2 : amp + 1;
    }
    return true;
}

bool AppendWithin(std::string& out, std::string_view text, std::size_t limit) {
    const std::size_t room = limit > out.size() ? limit - out.size() : 0;
    if (text.size() <= room) {
        out.append(text);
        return true;
    }
    std::size_t cut = room;
    while (cut > 0 && IsContinuationByte(text[cut]))
        --cut;
    out.append(text.substr(0, cut));
    return false;
}

}  // namespace app
