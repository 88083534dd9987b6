// Address splitting and the small text helpers of the HTTP client. No state, no errors; 8-bit
// strings, positions counted from 1 as the rest of the client counts them.
#pragma once

#include <string>

// Splits URL into protocol (lower case), user, password, host, port and path (with its query).
// On entry Path holds the current path, the base of the relative forms "./" and "../"; on return
// every output holds its part, empty when absent. Nothing is percent-decoded, no default filled in.
// An IPv6 host is given without its brackets.
void SplitUrl(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path);

// The host as an address, a Host header or a CONNECT line writes it: an IPv6 address in brackets.
std::string UrlHost(const std::string& host);

// The port a scheme uses when the address names none: "443" for https, "80" otherwise.
std::string DefaultPort(const std::string& scheme);

// The position (from 1) at which the last occurrence of Sub in S begins; 0 when there is none.
int LastPos(const std::string& Sub, const std::string& S);

// A–Z become a–z; every other byte stays (header names and schemes are ASCII).
std::string LowerCase(std::string text);

bool IsHexChar(char ch);
// The digit's value; only meaningful when IsHexChar(ch).
int HexCharValue(char ch);

// Path as it may stand in a request line: the "#fragment" dropped (it is never sent), and each byte
// that may not stand there (space, control bytes, bytes from 0x80, and " < > \ ^ ` { | }) written
// as "%XX". What is already percent-encoded stays as it is.
std::string RequestTarget(const std::string& Path);
