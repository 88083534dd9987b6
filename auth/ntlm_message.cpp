#include "auth/ntlm_message.h"

#include <algorithm>
#include <cstdint>

#include "auth/base64.h"
#include "auth/ntlm_text.h"

namespace {

constexpr std::string_view kSignature{"NTLMSSP\0", 8};

constexpr std::uint32_t kNegotiateMessageType = 1;
constexpr std::uint32_t kAuthenticateMessageType = 3;

constexpr std::uint32_t kNegotiateUnicode = 0x0001;
constexpr std::uint32_t kNegotiateOem = 0x0002;
constexpr std::uint32_t kRequestTarget = 0x0004;
constexpr std::uint32_t kNegotiateNtlm = 0x0200;
constexpr std::uint32_t kDomainSupplied = 0x1000;
constexpr std::uint32_t kWorkstationSupplied = 0x2000;
constexpr std::uint32_t kNegotiateAlwaysSign = 0x8000;

constexpr std::uint32_t kNegotiateHeaderSize = 32;
constexpr std::uint32_t kAuthenticateHeaderSize = 64;
constexpr std::size_t kChallengeOffset = 24;

// Builds a message with every number written little-endian.
class MessageWriter {
  public:
    explicit MessageWriter(std::uint32_t messageType) : bytes_(kSignature) {
        AppendNumber(messageType, 4);
    }

    void AppendNumber(std::uint32_t value, int size) {
        for (int index = 0; index < size; ++index) {
            bytes_ += static_cast<char>((value >> (8 * index)) & 0xFF);
        }
    }

    // A field descriptor: length, maximum length (the same) and the offset of the data.
    void AppendFieldDescriptor(std::size_t length, std::uint32_t offset) {
        AppendNumber(static_cast<std::uint32_t>(length), 2);
        AppendNumber(static_cast<std::uint32_t>(length), 2);
        AppendNumber(offset, 4);
    }

    void AppendBytes(std::string_view data) { bytes_ += data; }
    void AppendBytes(const NtlmResponse& data) { bytes_.append(data.begin(), data.end()); }

    std::string ToBase64() const { return EncodeToBase64(bytes_); }

  private:
    std::string bytes_;
};

}  // namespace

std::string BuildNtlmNegotiate(std::string_view workstation, std::string_view domain) {
    const std::string upperWorkstation = NtlmUpperCase(workstation);
    const std::string upperDomain = NtlmUpperCase(domain);

    std::uint32_t flags =
        kNegotiateUnicode | kNegotiateOem | kRequestTarget | kNegotiateNtlm | kNegotiateAlwaysSign;
    if (!upperWorkstation.empty()) flags |= kWorkstationSupplied;
    if (!upperDomain.empty()) flags |= kDomainSupplied;
    const std::uint32_t workstationOffset = upperWorkstation.empty() ? 0 : kNegotiateHeaderSize;
    const std::uint32_t domainOffset =
        upperDomain.empty()
            ? 0
            : kNegotiateHeaderSize + static_cast<std::uint32_t>(upperWorkstation.size());

    MessageWriter message(kNegotiateMessageType);
    message.AppendNumber(flags, 4);
    message.AppendFieldDescriptor(upperDomain.size(), domainOffset);
    message.AppendFieldDescriptor(upperWorkstation.size(), workstationOffset);
    message.AppendBytes(upperWorkstation);
    message.AppendBytes(upperDomain);
    return message.ToBase64();
}

NtlmChallengeInfo ParseNtlmChallenge(std::string_view text) {
    const std::string message = DecodeFromBase64(text);
    NtlmChallengeInfo info;
    if (message.size() > kChallengeOffset) {
        const std::string_view available =
            std::string_view(message).substr(kChallengeOffset, info.Challenge.size());
        std::copy(available.begin(), available.end(), info.Challenge.begin());
    }
    return info;
}

std::string BuildNtlmAuthenticate(std::string_view domain, std::string_view workstation,
                                  std::string_view user, std::string_view password,
                                  const NtlmChallenge& challenge) {
    const std::string wideDomain = NtlmWiden(domain);
    const std::string wideUser = NtlmWiden(user);
    const std::string wideWorkstation = NtlmWiden(workstation);
    const NtlmResponse lmResponse = NtlmLmResponse(password, challenge);
    const NtlmResponse ntResponse = NtlmNtResponse(password, challenge);

    const std::uint32_t domainOffset = kAuthenticateHeaderSize;
    const std::uint32_t userOffset = domainOffset + static_cast<std::uint32_t>(wideDomain.size());
    const std::uint32_t workstationOffset =
        userOffset + static_cast<std::uint32_t>(wideUser.size());
    const std::uint32_t lmOffset =
        workstationOffset + static_cast<std::uint32_t>(wideWorkstation.size());
    const std::uint32_t ntOffset = lmOffset + static_cast<std::uint32_t>(lmResponse.size());

    MessageWriter message(kAuthenticateMessageType);
    message.AppendFieldDescriptor(lmResponse.size(), lmOffset);
    message.AppendFieldDescriptor(ntResponse.size(), ntOffset);
    message.AppendFieldDescriptor(wideDomain.size(), domainOffset);
    message.AppendFieldDescriptor(wideUser.size(), userOffset);
    message.AppendFieldDescriptor(wideWorkstation.size(), workstationOffset);
    message.AppendFieldDescriptor(0, 0);  // no session key
    message.AppendNumber(kNegotiateUnicode | kRequestTarget | kNegotiateNtlm | kNegotiateAlwaysSign,
                         4);
    message.AppendBytes(wideDomain);
    message.AppendBytes(wideUser);
    message.AppendBytes(wideWorkstation);
    message.AppendBytes(lmResponse);
    message.AppendBytes(ntResponse);
    return message.ToBase64();
}
