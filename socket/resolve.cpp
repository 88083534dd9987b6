#include "socket/resolve.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "socket/socket_errors.h"
#include "socket/socket_library.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

constexpr std::size_t kMaxHostLength = 256;
constexpr std::size_t kMaxPortOrProtoLength = 31;
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

}  // namespace

int LeadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    int value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        int digit = text[i] - '0';
        value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
    }
    return value;
}

bool IsDottedAddress(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    if (i < n && text[i] == '.') return false;
    int dots = 0;
    int group = 0;
    for (; i < n; ++i) {
        char c = text[i];
        if (c == '.') {
            if (++dots > 3) return false;
            if (i + 1 >= n || !IsDigit(text[i + 1])) return false;
            group = 0;
        } else if (IsDigit(c)) {
            group = group * 10 + (c - '0');
            if (group > 255) return false;
        } else {
            // Only trailing blanks may follow the last group.
            if (std::any_of(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(),
                            [](char rest) { return rest != ' '; }))
                return false;
            break;
        }
    }
    return dots == 3;
}

std::string TrimBlanks(const std::string& text) {
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::uint32_t ResolveHost(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostLength)
        throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid Hostname.");
    std::string trimmed = TrimBlanks(host);
    if (IsDottedAddress(host)) {
        std::uint32_t address = WSocket_inet_addr(trimmed.c_str());
        if (address == kAllOnes && trimmed != "255.255.255.255")
            throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid IP address.");
        return address;
    }
    hostent* entry = WSocket_gethostbyname(trimmed.c_str());
    // An answer without an address is a failure, whatever the resolver said.
    bool noAddress = entry && (!entry->h_addr_list || !entry->h_addr_list[0]);
    if (!entry || noAddress)
        throw ESocketException(
            "Winsock Resolve Host: Cannot convert host address '" + host + "' - " +
            SocketErrorMessage(noAddress ? platform::WSANO_RECOVERY : WSocket_WSAGetLastError()));
    std::uint32_t address;
    std::copy_n(entry->h_addr_list[0], 4, reinterpret_cast<char*>(&address));
    return address;
}

int ResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() > kMaxPortOrProtoLength)
        throw ESocketException("Winsock Resolve Port: Invalid Port.");
    if (proto.empty() || proto.size() > kMaxPortOrProtoLength)
        throw ESocketException("Winsock Resolve Port: Invalid Proto.");
    if (IsDigit(port[0])) {
        int number = LeadingNumber(port);
        if (number > 65535) throw ESocketException("Winsock Resolve Port: Invalid Port.");
        return number;
    }
    std::string trimmedProto = TrimBlanks(proto);
    servent* entry = WSocket_getservbyname(TrimBlanks(port).c_str(),
                                           trimmedProto.empty() ? nullptr : trimmedProto.c_str());
    if (!entry)
        throw ESocketException("Winsock Resolve Port: Cannot convert port '" + port + "' - " +
                               SocketErrorMessage(WSocket_WSAGetLastError()));
    return WSocket_ntohs(static_cast<platform::u_short>(entry->s_port));
}

int ResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() > kMaxPortOrProtoLength)
        throw ESocketException("Winsock Resolve Proto: Invalid Protocol.");
    if (IsDigit(proto[0])) return LeadingNumber(proto);
    std::string name = Lowered(TrimBlanks(proto));
    if (name == "tcp") return IPPROTO_TCP;
    if (name == "udp") return IPPROTO_UDP;
    if (name == "raw") return IPPROTO_RAW;
    protoent* entry = WSocket_getprotobyname(name.c_str());
    if (!entry)
        throw ESocketException("Winsock Resolve Proto: Cannot convert protocol '" + name + "' - " +
                               SocketErrorMessage(WSocket_WSAGetLastError()));
    return entry->p_proto;
}

std::string LocalMachineName() {
    char name[64];
    int result = HoldSocketLibrary([&name] { return WSocket_gethostname(name, sizeof name); });
    if (result != 0) throw ESocketException("Winsock Get Host Name failed");
    return name;
}
