// Splits arbitrary text as a URL (with an arbitrary current path as the base of relative forms)
// and checks that the parts rebuilt into an absolute URL split again into the same parts: a
// relocation target rebuilt from its parts must lead to the same place. The text made a request
// target holds only what a request line may carry.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/url.h"

namespace {

struct Parts {
    std::string proto, user, pass, host, port, path;
    bool operator==(const Parts&) const = default;
};

Parts Split(const std::string& url, const std::string& currentPath) {
    Parts parts;
    parts.path = currentPath;
    SplitUrl(url, parts.proto, parts.user, parts.pass, parts.host, parts.port, parts.path);
    return parts;
}

std::string Rebuild(const Parts& parts) {
    std::string url = parts.proto + "://";
    if (!parts.user.empty() || !parts.pass.empty())
        url += parts.user + (parts.pass.empty() ? "" : ":" + parts.pass) + "@";
    url += UrlHost(parts.host);
    // An empty port keeps its separator when the host holds a colon, which would read as one.
    if (!parts.port.empty() || parts.host.find(':') != std::string::npos) url += ":" + parts.port;
    return url + parts.path;
}

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

// The input is "<current path>\n<url>", or a URL alone.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    const std::string currentPath = newline == std::string::npos ? "" : input.substr(0, newline);
    const std::string url = newline == std::string::npos ? input : input.substr(newline + 1);

    // The request target never carries a byte a request line may not hold, and encoding it again
    // changes nothing.
    const std::string target = RequestTarget(url);
    Require(std::none_of(target.begin(), target.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte >= 0x7F ||
               std::string_view("#\"<>\\^`{|}").find(c) != std::string_view::npos;
    }));
    Require(RequestTarget(target) == target);

    const Parts parts = Split(url, currentPath);
    Require(parts.host.find_first_of("/?@") == std::string::npos);
    if (parts.host.empty()) return 0;  // a relative form ("./a", "/a", "http:a"): only a path
    Require(Split(Rebuild(parts), "/elsewhere/") == parts);
    return 0;
}
