#include "socket/socks_messages.h"

#include <algorithm>

namespace socks {

namespace {

constexpr std::size_t kLengthByteLimit = 255;
constexpr std::size_t kSocks4RequestBlock = 128;
constexpr int kSocks4AnswerLength = 8;

void AppendPort(std::string& bytes, std::uint16_t port) {
    bytes += static_cast<char>(port >> 8);
    bytes += static_cast<char>(port & 0xFF);
}

Request Refused(const std::string& message) {
    return {{}, Failure{errProtocol, message}};
}

Verdict NeedMore() {
    return {};
}

Verdict Complete(int length) {
    return {Verdict::Complete, length, {}};
}

Verdict Fail(std::uint16_t code, std::string message) {
    return {Verdict::Failed, 0, {code, std::move(message)}};
}

Verdict VersionError() {
    return Fail(errVersion, "socks version error");
}

Verdict Unassigned(int value) {
    return Fail(errUnassigned, "unassigned error #" + std::to_string(value));
}

Verdict JudgeMethodSelection(const std::uint8_t* held, int count) {
    if (count >= 1 && held[0] != 5) return VersionError();
    // The server may say nothing more before our next message: more is not a SOCKS 5 server.
    if (count > 2) return Fail(errProtocol, "too much data availaible");
    if (count < 2) return NeedMore();
    return Complete(2);
}

// The status byte alone decides: a verdict is never taken before it has arrived.
Verdict JudgeAuthAnswer(const std::uint8_t* held, int count) {
    if (count >= 1 && held[0] != 1) return VersionError();
    if (count > 2) return Fail(errProtocol, "too much data availaible");
    if (count < 2) return NeedMore();
    if (held[1] != 0) return Fail(errAuthFailed, "socks authentication failed");
    return Complete(2);
}

Verdict JudgeSocks4Answer(const std::uint8_t* held, int count) {
    if (count < kSocks4AnswerLength) return NeedMore();
    if (held[0] != 0) return VersionError();
    switch (held[1]) {
        case 90:
            return Complete(kSocks4AnswerLength);
        case 91:
            return Fail(errRejected, "request rejected or failed");
        case 92:
            return Fail(errConnectionRefused, "connection refused");
        case 93:
            return Fail(errAuthFailed, "authentification failed");
        default:
            return Unassigned(held[1]);
    }
}

Verdict Socks5ReplyCodeError(std::uint8_t code) {
    static const char* const messages[] = {
        "general SOCKS server failure", "connection not allowed by ruleset",
        "network unreachable",          "host unreachable",
        "connection refused",           "time to live expired",
        "command not supported",        "address type not supported",
    };
    if (code >= 1 && code <= 8)
        return Fail(static_cast<std::uint16_t>(errGeneralFailure + code - 1), messages[code - 1]);
    return Unassigned(code);
}

Verdict JudgeSocks5Answer(const std::uint8_t* held, int count) {
    if (count >= 1 && held[0] != 5) return VersionError();
    if (count >= 2 && held[1] != 0) return Socks5ReplyCodeError(held[1]);
    if (count < 4) return NeedMore();
    int length;
    switch (held[3]) {
        case 1:  // IPv4 address
            length = 4 + 4 + 2;
            break;
        case 4:  // IPv6 address
            length = 4 + 16 + 2;
            break;
        case 3:  // a name behind its length byte
            if (count < 5) return NeedMore();
            length = 4 + 1 + held[4] + 2;
            break;
        default:
            return Fail(errAddressType, "address type not supported");
    }
    return count >= length ? Complete(length) : NeedMore();
}

}  // namespace

std::string Socks5Greeting(std::uint8_t offeredMethod) {
    return {5, 1, static_cast<char>(offeredMethod)};
}

Request UsercodeMessage(const std::string& usercode, const std::string& password) {
    if (usercode.size() > kLengthByteLimit)
        return Refused("socks user code too long (at most 255 bytes)");
    if (password.size() > kLengthByteLimit)
        return Refused("socks password too long (at most 255 bytes)");
    std::string bytes{1, static_cast<char>(usercode.size())};
    bytes += usercode;
    bytes += static_cast<char>(password.size());
    bytes += password;
    return {bytes, {}};
}

Request Socks5ConnectRequest(const std::string& host, std::uint16_t port) {
    if (host.size() > kLengthByteLimit)
        return Refused("host name too long for the socks server (at most 255 bytes)");
    std::string bytes{5, 1, 0, 3, static_cast<char>(host.size())};
    bytes += host;
    AppendPort(bytes, port);
    return {bytes, {}};
}

std::string Socks5ConnectRequest(const std::array<std::uint8_t, 16>& address, std::uint16_t port) {
    std::string bytes{5, 1, 0, 4};
    bytes.append(address.begin(), address.end());
    AppendPort(bytes, port);
    return bytes;
}

Request Socks4ConnectRequest(std::uint16_t port, std::uint32_t address, const std::string& usercode,
                             const std::string& host) {
    std::size_t size = 9 + usercode.size() + (host.empty() ? 0 : host.size() + 1);
    if (size > kSocks4RequestBlock)
        return Refused("socks 4 request too long (user code and host name: at most " +
                       std::to_string(kSocks4RequestBlock - 9 - (host.empty() ? 0 : 1)) +
                       " bytes)");
    std::string bytes{4, 1};
    AppendPort(bytes, port);
    if (host.empty())
        bytes.append(reinterpret_cast<const char*>(&address), 4);
    else
        bytes += std::string{0, 0, 0, 1};  // 0.0.0.1: the host name follows the user code
    bytes += usercode;
    bytes += '\0';
    if (!host.empty()) {
        bytes += host;
        bytes += '\0';
    }
    return {bytes, {}};
}

Verdict JudgeReply(ReplyKind kind, const std::uint8_t* held, int count) {
    switch (kind) {
        case ReplyKind::MethodSelection:
            return JudgeMethodSelection(held, count);
        case ReplyKind::AuthAnswer:
            return JudgeAuthAnswer(held, count);
        case ReplyKind::Socks4Answer:
            return JudgeSocks4Answer(held, count);
        case ReplyKind::Socks5Answer:
            return JudgeSocks5Answer(held, count);
    }
    return Fail(errInternal, "internal error");
}

int ReadLimit(ReplyKind kind, int count, int room) {
    if (kind == ReplyKind::Socks4Answer) return std::max(0, kSocks4AnswerLength - count);
    return room;
}

}  // namespace socks
