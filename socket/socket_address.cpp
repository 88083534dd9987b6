#include "socket/socket_address.h"

#include <algorithm>

#include "socket/resolve.h"
#include "socket/socket_errors.h"
#include "socket/socket_library.h"

using platform::SOCKADDR_INET;

TSocketAddress::TSocketAddress() {
    address_.Ipv4.sin_family = AF_INET;
}

TSocketAddress TSocketAddress::IPv4(std::uint32_t networkOrder, int port) {
    TSocketAddress address;
    address.address_.Ipv4.sin_addr.s_addr = networkOrder;
    address.SetPort(port);
    return address;
}

TSocketAddress TSocketAddress::Any(int family, int port) {
    TSocketAddress address;
    if (family == AF_INET6) {
        address.address_ = SOCKADDR_INET{};
        address.address_.Ipv6.sin6_family = AF_INET6;
        address.address_.Ipv6.sin6_addr = in6addr_any;
    }
    address.SetPort(port);
    return address;
}

std::optional<TSocketAddress> TSocketAddress::FromLiteral(const std::string& text) {
    std::string trimmed = WithoutBrackets(TrimBlanks(text));
    TSocketAddress address;
    if (trimmed.find(':') != std::string::npos) {
        address.address_ = SOCKADDR_INET{};
        address.address_.Ipv6.sin6_family = AF_INET6;
        if (WSocket_inet_pton(AF_INET6, trimmed.c_str(), &address.address_.Ipv6.sin6_addr) == 1)
            return address;
        return std::nullopt;
    }
    if (!IsDottedAddress(text)) return std::nullopt;
    std::uint32_t value = WSocket_inet_addr(trimmed.c_str());
    if (value == INADDR_NONE && trimmed != "255.255.255.255") return std::nullopt;
    return IPv4(value);
}

int TSocketAddress::Length() const {
    return IsIPv6() ? sizeof address_.Ipv6 : sizeof address_.Ipv4;
}

int TSocketAddress::Port() const {
    return WSocket_ntohs(IsIPv6() ? address_.Ipv6.sin6_port : address_.Ipv4.sin_port);
}

void TSocketAddress::SetPort(int port) {
    auto networkPort = WSocket_htons(static_cast<platform::u_short>(port));
    if (IsIPv6())
        address_.Ipv6.sin6_port = networkPort;
    else
        address_.Ipv4.sin_port = networkPort;
}

std::string TSocketAddress::Text() const {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = IsIPv6() ? static_cast<const void*>(&address_.Ipv6.sin6_addr)
                               : static_cast<const void*>(&address_.Ipv4.sin_addr);
    const char* written = WSocket_inet_ntop(Family(), raw, text, sizeof text);
    return written ? written : "";
}

std::string TSocketAddress::HostText() const {
    return IsIPv6() ? "[" + Text() + "]" : Text();
}

std::string WithoutBrackets(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

std::vector<TSocketAddress> ResolveHostAddresses(const std::string& host) {
    if (host.empty() || host.size() > 256)
        throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid Hostname.");
    if (auto literal = TSocketAddress::FromLiteral(host)) return {*literal};
    if (IsDottedAddress(host))
        throw ESocketException("Winsock Resolve Host: '" + host + "' Invalid IP address.");
    // The most a lookup's reply buffer holds, so that both ways of resolving agree.
    constexpr int kMostAddresses = 36;
    SOCKADDR_INET found[kMostAddresses];
    int count = WSocket_getaddresses(TrimBlanks(host).c_str(), found, kMostAddresses);
    if (count <= 0)
        throw ESocketException(
            "Winsock Resolve Host: Cannot convert host address '" + host + "' - " +
            SocketErrorMessage(count == 0 ? platform::WSANO_DATA : WSocket_WSAGetLastError()));
    std::vector<TSocketAddress> addresses;
    for (int i = 0; i < count; ++i)
        addresses.emplace_back(found[i]);
    return addresses;
}

std::vector<TSocketAddress> AttemptOrder(const std::vector<TSocketAddress>& addresses) {
    std::vector<TSocketAddress> ipv6, ipv4, ordered;
    for (const auto& address : addresses)
        (address.IsIPv6() ? ipv6 : ipv4).push_back(address);
    for (std::size_t i = 0; i < std::max(ipv6.size(), ipv4.size()); ++i) {
        if (i < ipv6.size()) ordered.push_back(ipv6[i]);
        if (i < ipv4.size()) ordered.push_back(ipv4[i]);
    }
    return ordered;
}
