// Continuing a download cut short: the request lines that ask for the rest of the file, and the
// check that an answer really is that rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The validator a later request may name in If-Range: a strong ETag, or else the Last-Modified
// date (a weak ETag cannot name bytes). Empty when the answer has neither: it cannot be continued.
std::string RangeValidatorOf(const std::vector<std::string>& headerLines);

// "Range: bytes=<from>-" and "If-Range: <validator>": the server sends the rest only while the
// file is the one validator names, and the whole file otherwise.
std::vector<std::string> ResumeRequestLines(std::int64_t from, const std::string& validator);

// Whether a 206 answer with these header lines continues a file of which `from` bytes are kept:
// its Content-Range starts at from, runs to the end, and gives the total expected (-1: any).
bool ContinuesAt(const std::vector<std::string>& headerLines, std::int64_t from,
                 std::int64_t expectedTotal);

// Whether text may go into a header line as a value sent back: no control bytes, so a value a
// server (or a damaged history) gave cannot start a line of its own.
bool IsPlainHeaderValue(std::string_view text);

// The value of the first header line called name (compared without case), trimmed.
std::optional<std::string> HeaderValue(const std::vector<std::string>& headerLines,
                                       std::string_view name);

}  // namespace app
