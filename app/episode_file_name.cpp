#include "app/episode_file_name.h"

#include <algorithm>
#include <array>

#include "app/feed_items.h"

namespace app {
namespace {

constexpr std::size_t kMaxNameBytes = 255;
// Room left for " (99)" and the ".part" of a download under way.
constexpr std::size_t kMaxStemBytes = 200;
constexpr std::size_t kMaxExtensionBytes = 6;

// Words that hosts give every episode's file, so that the name tells no episode from another.
constexpr std::array<std::string_view, 15> kGenericStems = {
    "media",  "audio",   "episode", "file",    "download", "index",     "stream",  "play",
    "listen", "podcast", "default", "track",   "content",  "enclosure", "redirect"};

// Tracking hosts name files after the whole address they forward to: "aHR0c" starts "http" in
// Base64.
constexpr std::string_view kEncodedAddressStart = "aHR0c";

struct MimeExtension {
    std::string_view type;
    std::string_view extension;
};
constexpr std::array<MimeExtension, 16> kMimeExtensions = {{
    {"audio/mpeg", ".mp3"},     {"audio/mp3", ".mp3"},       {"audio/x-mp3", ".mp3"},
    {"audio/mp4", ".m4a"},      {"audio/x-m4a", ".m4a"},     {"audio/m4a", ".m4a"},
    {"audio/aac", ".aac"},      {"audio/ogg", ".ogg"},       {"audio/opus", ".opus"},
    {"audio/flac", ".flac"},    {"audio/wav", ".wav"},       {"audio/x-wav", ".wav"},
    {"video/mp4", ".mp4"},      {"video/x-m4v", ".m4v"},     {"video/webm", ".webm"},
    {"video/quicktime", ".mov"},
}};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    return lower;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size() && HexValue(text[at + 1]) >= 0 &&
            HexValue(text[at + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
            at += 2;
        } else {
            out += text[at];
        }
    }
    return out;
}

// ".mp3" of "ep.mp3": a short run of letters and digits after the last dot; empty otherwise.
std::string_view ExtensionOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > kMaxExtensionBytes ||
        name.size() - dot < 2)
        return {};
    const std::string_view extension = name.substr(dot);
    const bool plain = std::all_of(extension.begin() + 1, extension.end(), [](char c) {
        return (c >= '0' && c <= '9') || (Lower(c) >= 'a' && Lower(c) <= 'z');
    });
    return plain ? extension : std::string_view{};
}

std::string_view MimeExtensionOf(std::string_view type) {
    const std::string lower = LowerText(type.substr(0, type.find(';')));
    for (const MimeExtension& known : kMimeExtensions)
        if (known.type == lower) return known.extension;
    return {};
}

// text cut to at most bytes, never inside a UTF-8 sequence.
std::string CutAtCharacter(std::string text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
        --bytes;
    text.resize(bytes);
    return text;
}

// A title as a file name: no "/" or control bytes, blanks run together, no leading dot (which
// would hide the file), cut at a character boundary to leave room for the extension.
std::string TitleAsStem(std::string_view title) {
    std::string stem;
    for (char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        const char kept = c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F ? ' ' : c;
        if (kept == ' ' && (stem.empty() || stem.back() == ' ')) continue;
        if (kept == '.' && stem.empty()) continue;
        stem += kept;
    }
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.'))
        stem.pop_back();
    return CutAtCharacter(stem, kMaxStemBytes);
}

}  // namespace

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameBytes) return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return c == '/' || byte < 0x20 || byte == 0x7F;
    });
}

std::string UrlFileName(std::string_view url) {
    url = url.substr(0, url.find('#'));
    url = url.substr(0, url.find('?'));
    const std::size_t slash = url.rfind('/');
    if (slash != std::string_view::npos) url = url.substr(slash + 1);
    return PercentDecoded(url);
}

bool IsGenericFileName(std::string_view name) {
    const std::string_view extension = ExtensionOf(name);
    if (name.starts_with(kEncodedAddressStart)) return true;
    const std::string stem = LowerText(name.substr(0, name.size() - extension.size()));
    if (std::find(kGenericStems.begin(), kGenericStems.end(), stem) != kGenericStems.end())
        return true;
    // A bare number ("48213") or a hex id ("5f3a9c0e-1b2d…") means nothing to a person; a date
    // ("2024-05-01") does.
    const auto count = [&stem](auto test) { return std::count_if(stem.begin(), stem.end(), test); };
    const auto digits = count([](char c) { return c >= '0' && c <= '9'; });
    const auto hexLetters = count([](char c) { return c >= 'a' && c <= 'f'; });
    const auto dashes = count([](char c) { return c == '-'; });
    const auto length = static_cast<std::ptrdiff_t>(stem.size());
    const bool number = length > 0 && digits == length;
    const bool hexId = length >= 8 && digits > 0 && hexLetters > 0 &&
                       digits + hexLetters + dashes == length;
    return stem.empty() || number || hexId;
}

std::string EpisodeFileName(const FeedItem& item, bool sharedInFeed) {
    const std::string fromUrl = UrlFileName(item.enclosureUrl);
    const bool usable = IsSafeFileName(fromUrl) && !IsGenericFileName(fromUrl);
    if (usable && !sharedInFeed) return fromUrl;
    const std::string stem = TitleAsStem(item.title);
    if (stem.empty()) return IsSafeFileName(fromUrl) ? fromUrl : "episode";
    std::string_view extension = ExtensionOf(fromUrl);
    if (extension.empty()) extension = MimeExtensionOf(item.enclosureType);
    return stem + std::string(extension);
}

std::string UnusedFileName(const std::string& name,
                           const std::function<bool(const std::string&)>& taken) {
    if (!taken(name)) return name;
    const std::string_view extension = ExtensionOf(name);
    std::string stem = name.substr(0, name.size() - extension.size());
    // The number must fit within the longest name; five digits take any folder's episodes.
    constexpr std::size_t kNumberRoom = sizeof(" (99999)") - 1;
    if (stem.size() + extension.size() + kNumberRoom > kMaxNameBytes)
        stem = CutAtCharacter(stem, kMaxNameBytes - kNumberRoom - extension.size());
    for (int number = 2;; ++number) {
        std::string candidate =
            stem + " (" + std::to_string(number) + ")" + std::string(extension);
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace app
