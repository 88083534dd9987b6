// One endpoint of either family as the platform's calls take it, its texts, and the addresses a
// socket's Addr stands for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/winsock.h"

class TSocketAddress {
  public:
    // 0.0.0.0, port 0.
    TSocketAddress();
    explicit TSocketAddress(const platform::SOCKADDR_INET& address) : address_(address) {}
    static TSocketAddress IPv4(std::uint32_t networkOrder, int port = 0);
    // The "any" address of the family, for binding.
    static TSocketAddress Any(int family, int port = 0);
    // An IPv4 dotted address or an IPv6 address, the latter with or without its brackets;
    // blanks around are allowed. Nothing for a name.
    static std::optional<TSocketAddress> FromLiteral(const std::string& text);

    int Family() const { return address_.si_family; }
    bool IsIPv6() const { return Family() == AF_INET6; }
    int Length() const;
    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&address_); }
    sockaddr* Raw() { return reinterpret_cast<sockaddr*>(&address_); }
    static constexpr int kCapacity = sizeof(platform::SOCKADDR_INET);
    // Port in host order.
    int Port() const;
    void SetPort(int port);
    std::uint32_t IPv4Address() const { return address_.Ipv4.sin_addr.s_addr; }
    // The 16 bytes of an IPv6 address.
    const std::uint8_t* IPv6Bytes() const { return address_.Ipv6.sin6_addr.s6_addr; }
    // Dotted text, or the IPv6 text without brackets.
    std::string Text() const;
    // The text as a URL or a Host header carries it: an IPv6 address in brackets.
    std::string HostText() const;

  private:
    platform::SOCKADDR_INET address_{};
};

// An IPv6 address in brackets loses them; any other text is kept as it is.
std::string WithoutBrackets(const std::string& host);

// The addresses host stands for: itself when it is an address, otherwise every address of the
// name (a blocking lookup), IPv4 ones first. Raises ESocketException as ResolveHost does.
std::vector<TSocketAddress> ResolveHostAddresses(const std::string& host);

// The order of connection attempts to several addresses: the families alternate, IPv6 first,
// each family keeping its own order.
std::vector<TSocketAddress> AttemptOrder(const std::vector<TSocketAddress>& addresses);
