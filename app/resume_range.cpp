#include "app/resume_range.h"

#include <algorithm>
#include <charconv>

namespace app {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A decimal number that is the whole of text; nothing for anything else (signs included).
std::optional<std::int64_t> WholeNumber(std::string_view text) {
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || text.front() == '-' || error != std::errc() ||
        end != text.data() + text.size())
        return std::nullopt;
    return number;
}

}  // namespace

bool IsPlainHeaderValue(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::optional<std::string_view> HeaderValue(const std::vector<std::string>& headerLines,
                                            std::string_view name) {
    for (const std::string& line : headerLines) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && EqualNoCase(Trimmed(line.substr(0, colon)), name))
            return Trimmed(std::string_view(line).substr(colon + 1));
    }
    return std::nullopt;
}

std::string RangeValidatorOf(const std::vector<std::string>& headerLines) {
    const std::optional<std::string_view> etag = HeaderValue(headerLines, "ETag");
    if (etag && etag->size() >= 2 && etag->front() == '"' && etag->back() == '"' &&
        IsPlainHeaderValue(*etag))
        return std::string(*etag);
    const std::optional<std::string_view> modified = HeaderValue(headerLines, "Last-Modified");
    return modified && IsPlainHeaderValue(*modified) ? std::string(*modified) : std::string();
}

std::vector<std::string> ResumeRequestLines(std::int64_t from, const std::string& validator) {
    return {"Range: bytes=" + std::to_string(from) + "-", "If-Range: " + validator};
}

bool ContinuesAt(const std::vector<std::string>& headerLines, std::int64_t from,
                 std::int64_t expectedTotal) {
    // "bytes <first>-<last>/<total>"
    const std::optional<std::string_view> range = HeaderValue(headerLines, "Content-Range");
    if (!range || !range->starts_with("bytes ")) return false;
    const std::string_view spec = Trimmed(range->substr(6));
    const std::size_t dash = spec.find('-');
    const std::size_t slash = spec.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return false;
    const auto first = WholeNumber(spec.substr(0, dash));
    const auto last = WholeNumber(spec.substr(dash + 1, slash - dash - 1));
    const auto total = WholeNumber(spec.substr(slash + 1));
    return first && last && total && *first == from && *last + 1 == *total && *last >= *first &&
           (expectedTotal == -1 || *total == expectedTotal);
}

}  // namespace app
