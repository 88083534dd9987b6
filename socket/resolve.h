// Turning the socket's address, port and protocol texts into numbers. The resolvers raise
// ESocketException on failure.
#pragma once

#include <cstdint>
#include <string>

// The decimal digits after leading blanks, up to the first non-digit; 0 without digits.
int LeadingNumber(const std::string& text);
// Four decimal groups of at most 255 separated by single points, blanks around allowed.
bool IsDottedAddress(const std::string& text);
// Leading and trailing characters of codes 0 to 32 removed.
std::string TrimBlanks(const std::string& text);

// An IPv4 address in network order; a name is looked up with a blocking call.
std::uint32_t ResolveHost(const std::string& host);
// A port number in host order.
int ResolvePort(const std::string& port, const std::string& proto);
int ResolveProto(const std::string& proto);
std::string LocalMachineName();
