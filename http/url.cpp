#include "http/url.h"

#include <algorithm>
#include <string_view>

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool IsSchemeText(const std::string& lowered) {
    return std::all_of(lowered.begin(), lowered.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
}

// The directory of a path: up to and including its last "/", or "/" when it has none.
std::string DirectoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "/" : path.substr(0, slash + 1);
}

// One level up from a directory ending in "/"; the root stays the root.
std::string ParentDirectory(const std::string& directory) {
    return DirectoryOf(directory.substr(0, directory.size() - 1));
}

std::string ResolveParentForm(const std::string& url, const std::string& currentPath) {
    std::string directory = ParentDirectory(DirectoryOf(currentPath));
    std::string rest = url.substr(3);
    while (StartsWith(rest, "../")) {
        rest.erase(0, 3);
        directory = ParentDirectory(directory);
    }
    return directory + rest;
}

void SplitUserInfo(const std::string& userInfo, std::string& User, std::string& Pass) {
    auto separator = userInfo.find(':');
    if (separator == std::string::npos) {
        User = userInfo;
    } else {
        User = userInfo.substr(0, separator);
        Pass = userInfo.substr(separator + 1);
    }
}

// The text of an IPv6 address: hexadecimal digits, points and at least leastColons colons.
bool LooksLikeIPv6(const std::string& text, int leastColons) {
    static constexpr std::string_view kAddressCharacters = "0123456789abcdefABCDEF:.";
    return std::count(text.begin(), text.end(), ':') >= leastColons &&
           text.find_first_not_of(kAddressCharacters) == std::string::npos;
}

// An IPv6 address stands in brackets, a port after them; written without brackets (as a proxy
// text may be) it has no port, since its colons would leave none to tell.
bool SplitIPv6Host(const std::string& hostPort, std::string& Host, std::string& Port) {
    if (!hostPort.empty() && hostPort[0] == '[') {
        auto close = hostPort.find(']');
        // Brackets around anything else are no address: the host is split as any other.
        if (close == std::string::npos || !LooksLikeIPv6(hostPort.substr(1, close - 1), 1))
            return false;
        Host = hostPort.substr(1, close - 1);
        if (close + 1 < hostPort.size() && hostPort[close + 1] == ':')
            Port = hostPort.substr(close + 2);
        return true;
    }
    if (!LooksLikeIPv6(hostPort, 2)) return false;
    Host = hostPort;
    return true;
}

void SplitAuthority(const std::string& authority, std::string& User, std::string& Pass,
                    std::string& Host, std::string& Port) {
    auto colon = authority.rfind(':');
    auto at = authority.rfind('@');
    auto hostStart = at == std::string::npos ? 0 : at + 1;
    if (SplitIPv6Host(authority.substr(hostStart), Host, Port)) {
        if (at != std::string::npos) SplitUserInfo(authority.substr(0, at), User, Pass);
        return;
    }
    if (colon == std::string::npos && at == std::string::npos) {
        Host = authority;
        return;
    }
    if (colon != std::string::npos && (at == std::string::npos || colon > at)) {
        Port = authority.substr(colon + 1);
        Host = authority.substr(hostStart, colon - hostStart);
        if (at == std::string::npos) return;
    } else {
        Host = authority.substr(at + 1);
    }
    SplitUserInfo(authority.substr(0, at), User, Pass);
}

}  // namespace

void SplitUrl(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path) {
    const std::string currentPath = Path;
    Proto.clear();
    User.clear();
    Pass.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    if (URL.empty()) return;

    if (StartsWith(URL, "./")) {
        Path = DirectoryOf(currentPath) + URL.substr(2);
        return;
    }
    if (StartsWith(URL, "../")) {
        Path = ResolveParentForm(URL, currentPath);
        return;
    }

    std::string rest;
    bool schemeAccepted = false;
    auto schemeEnd = URL.find("://");
    if (schemeEnd != std::string::npos) {
        std::string scheme = LowerCase(URL.substr(0, schemeEnd));
        if (IsSchemeText(scheme)) {
            Proto = scheme;
            rest = URL.substr(schemeEnd + 3);
            schemeAccepted = true;
        } else {
            // A "://" inside the query does not end a scheme.
            Proto = "http";
        }
    }
    if (!schemeAccepted) {
        if (URL[0] == '/') {
            Proto = "http";
            if (URL.size() > 1 && URL[1] != '/') {
                Path = URL;
                return;
            }
            rest = URL.substr(1);
        } else if (LowerCase(URL.substr(0, 5)) == "http:") {
            Proto = "http";
            if (URL.size() > 6 && URL[6] != '/') {
                Path = URL.substr(5);
                return;
            }
            rest = URL.size() > 6 ? URL.substr(6) : std::string();
        } else if (LowerCase(URL.substr(0, 7)) == "mailto:") {
            Proto = "mailto";
            rest = URL.substr(URL.find(':') + 1);
        } else {
            rest = URL;
        }
    }

    auto pathStart = std::min(rest.find('/'), rest.find('?'));
    std::string authority = rest.substr(0, pathStart);
    if (pathStart != std::string::npos) Path = rest.substr(pathStart);
    SplitAuthority(authority, User, Pass, Host, Port);
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    });
    return text;
}

std::string UrlHost(const std::string& host) {
    return LooksLikeIPv6(host, 1) ? "[" + host + "]" : host;
}

std::string DefaultPort(const std::string& scheme) {
    return scheme == "https" ? "443" : "80";
}

int LastPos(const std::string& Sub, const std::string& S) {
    if (Sub.empty()) return 0;
    auto found = S.rfind(Sub);
    return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
}

bool IsHexChar(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

int HexCharValue(char ch) {
    auto code = static_cast<unsigned char>(ch);
    if (ch >= '0' && ch <= '9') return code - '0';
    return (code & 0x0F) + 9;
}

std::string RequestTarget(const std::string& Path) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    static constexpr std::string_view kUnsafe = "\"<>\\^`{|}";
    std::string target;
    target.reserve(Path.size());
    for (char ch : Path.substr(0, Path.find('#'))) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte >= 0x7F || kUnsafe.find(ch) != std::string_view::npos) {
            target += '%';
            target += kHexDigits[byte >> 4];
            target += kHexDigits[byte & 0x0F];
        } else {
            target += ch;
        }
    }
    return target;
}
