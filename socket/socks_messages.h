// The client's SOCKS 4, 4A and 5 messages: requests built as bytes and refused when they would not
// fit their fields, and replies judged from the bytes held so far. No input or output here; the
// SOCKS socket layer (socks_wsocket.h) does the reading and sending.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace socks {

// The SOCKS error codes, raised through OnSocksError and passed on as ErrCode.
enum ErrorCode : std::uint16_t {
    errProtocol = 20001,
    errVersion = 20002,
    errAuthMethod = 20003,
    errGeneralFailure = 20004,
    errNotAllowed = 20005,
    errNetworkUnreachable = 20006,
    errHostUnreachable = 20007,
    errConnectionRefused = 20008,
    errTtlExpired = 20009,
    errCommandNotSupported = 20010,
    errAddressType = 20011,
    errUnassigned = 20012,
    errInternal = 20013,
    errAuthFailed = 20015,
    errRejected = 20016,
    errHostResolution = 20017,
};

struct Failure {
    std::uint16_t code = 0;
    std::string message;
};

// A request, or the reason it cannot be sent.
struct Request {
    std::string bytes;
    std::optional<Failure> refusal;
};

// SOCKS 5 greeting offering one method: 0 (none) or 2 (user code and password).
std::string Socks5Greeting(std::uint8_t offeredMethod);
// The user code/password message; each must fit its length byte.
Request UsercodeMessage(const std::string& usercode, const std::string& password);
// SOCKS 5 connect request naming the host (as a domain name, dotted addresses too).
Request Socks5ConnectRequest(const std::string& host, std::uint16_t port);
// SOCKS 5 connect request to an IPv6 address (address type 4, the 16 bytes in network order).
std::string Socks5ConnectRequest(const std::array<std::uint8_t, 16>& address, std::uint16_t port);
// SOCKS 4 connect request to an IPv4 address (network order) or, with host given, SOCKS 4A
// naming the host; the whole request must fit the 128-byte request block.
Request Socks4ConnectRequest(std::uint16_t port, std::uint32_t address, const std::string& usercode,
                             const std::string& host = "");

enum class ReplyKind {
    MethodSelection,  // version 5, chosen method
    AuthAnswer,       // version 1, status
    Socks4Answer,     // 0, code, six unused bytes
    Socks5Answer,     // version 5, code, reserved, address type, address, port
};

struct Verdict {
    enum Outcome { NeedMore, Complete, Failed };
    Outcome outcome = NeedMore;
    int length = 0;  // Complete: the bytes the reply takes (those held behind it are not its own)
    Failure failure;
};

// Judges the count bytes held so far of a reply. Looks at no byte beyond count.
Verdict JudgeReply(ReplyKind kind, const std::uint8_t* held, int count);

// The most bytes to read for a reply of this kind with count held and room left in the buffer: a
// SOCKS 4 answer is read no further than its eight bytes, so what follows stays on the connection.
int ReadLimit(ReplyKind kind, int count, int room);

// The bytes a SOCKS 5 answer may take: a 255-byte bound name with its fields.
constexpr int kLongestReply = 4 + 1 + 255 + 2;

}  // namespace socks
