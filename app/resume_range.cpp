#include "app/resume_range.h"

#include <algorithm>
#include <charconv>

#include "http/url.h"
#include "socket/resolve.h"

namespace app {
namespace {

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

std::optional<std::string> HeaderValue(const std::vector<std::string>& headerLines,
                                       std::string_view name) {
    const std::string wanted = LowerCase(std::string(name));
    for (const std::string& line : headerLines) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && LowerCase(TrimBlanks(line.substr(0, colon))) == wanted)
            return TrimBlanks(line.substr(colon + 1));
    }
    return std::nullopt;
}

std::string RangeValidatorOf(const std::vector<std::string>& headerLines) {
    const std::optional<std::string> etag = HeaderValue(headerLines, "ETag");
    if (etag && etag->size() >= 2 && etag->front() == '"' && etag->back() == '"' &&
        IsPlainHeaderValue(*etag))
        return *etag;
    const std::optional<std::string> modified = HeaderValue(headerLines, "Last-Modified");
    return modified && IsPlainHeaderValue(*modified) ? *modified : std::string();
}

std::vector<std::string> ResumeRequestLines(std::int64_t from, const std::string& validator) {
    return {"Range: bytes=" + std::to_string(from) + "-", "If-Range: " + validator};
}

bool ContinuesAt(const std::vector<std::string>& headerLines, std::int64_t from,
                 std::int64_t expectedTotal) {
    // "bytes <first>-<last>/<total>"
    const std::optional<std::string> range = HeaderValue(headerLines, "Content-Range");
    if (!range || !range->starts_with("bytes ")) return false;
    const std::string byteRange = TrimBlanks(range->substr(6));
    const std::size_t dash = byteRange.find('-');
    const std::size_t slash = byteRange.find('/');
    if (dash == std::string::npos || slash == std::string::npos || slash < dash) return false;
    const auto first = WholeNumber(std::string_view(byteRange).substr(0, dash));
    const auto last = WholeNumber(std::string_view(byteRange).substr(dash + 1, slash - dash - 1));
    const auto total = WholeNumber(std::string_view(byteRange).substr(slash + 1));
    return first && last && total && *first == from && *last + 1 == *total && *last >= *first &&
           (expectedTotal == -1 || *total == expectedTotal);
}

}  // namespace app
