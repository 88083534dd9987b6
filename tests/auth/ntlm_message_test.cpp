#include "auth/ntlm_message.h"

#include <gtest/gtest.h>

#include <string>

#include "auth/base64.h"
#include "tests/auth/byte_helpers.h"

namespace {

const NtlmChallenge kChallenge = ArrayFromHex<NtlmChallenge>("0123456789abcdef");

std::string ResponseBytes(const NtlmResponse& response) {
    return std::string(response.begin(), response.end());
}

// A type-2 message of the given size with the challenge bytes 0x11, 0x22, ... from offset 24.
std::string ChallengeMessage(std::size_t size) {
    std::string message(std::string_view("NTLMSSP\0\2\0\0\0", 12));
    message.resize(size, '\0');
    for (std::size_t offset = 24; offset < size && offset < 32; ++offset) {
        message[offset] = static_cast<char>(0x11 * (offset - 23));
    }
    return message;
}

}  // namespace

TEST(NtlmMessageTest, NegotiateWithoutNamesIsTheBare32ByteHeader) {
    const std::string text = BuildNtlmNegotiate("", "");
    EXPECT_EQ(ToHex(DecodeFromBase64(text)),
              "4e544c4d53535000010000000782000000000000000000000000000000000000");
    EXPECT_EQ(text, "TlRMTVNTUAABAAAAB4IAAAAAAAAAAAAAAAAAAAAAAAA=");
}

TEST(NtlmMessageTest, NegotiateCarriesUpperCasedWorkstationThenDomain) {
    const std::string message = DecodeFromBase64(BuildNtlmNegotiate("ws-\xE9x", "dom"));
    ASSERT_EQ(message.size(), 32u + 5 + 3);
    // Flags 0xB207, then domain (3, 3, at 37) and workstation (5, 5, at 32), little-endian.
    EXPECT_EQ(ToHex(message.substr(12, 20)), "07b2000003000300250000000500050020000000");
    EXPECT_EQ(message.substr(32), "WS-\xE9XDOM");

    const std::string domainOnly = DecodeFromBase64(BuildNtlmNegotiate("", "d"));
    EXPECT_EQ(ReadLittleEndian(domainOnly, 12, 4), 0x9207u);
    EXPECT_EQ(ReadLittleEndian(domainOnly, 20, 4), 32u);
    EXPECT_EQ(ReadLittleEndian(domainOnly, 28, 4), 0u);
}

TEST(NtlmMessageTest, ChallengeIsTakenFromOffset24AndMissingBytesAreZero) {
    const std::pair<std::size_t, const char*> sizes[] = {
        {48, "1122334455667788"}, {28, "1122334400000000"}, {24, "0000000000000000"}};
    for (const auto& [size, challenge] : sizes)
        EXPECT_EQ(ToHex(ParseNtlmChallenge(EncodeToBase64(ChallengeMessage(size))).Challenge),
                  challenge)
            << size;
    EXPECT_EQ(ToHex(ParseNtlmChallenge("").Challenge), "0000000000000000");
    // Text that is not Base64 at all still decodes; every byte comes out as 0xFF.
    EXPECT_EQ(ToHex(ParseNtlmChallenge(std::string(44, '*')).Challenge), "ffffffffffffffff");
}

TEST(NtlmMessageTest, AuthenticateLaysOutNamesAndResponsesAfterThe64ByteHeader) {
    const std::string message =
        DecodeFromBase64(BuildNtlmAuthenticate("", "h", "u", "SecREt01", kChallenge));
    ASSERT_EQ(message.size(), 116u);
    EXPECT_EQ(message.substr(0, 12), std::string_view("NTLMSSP\0\3\0\0\0", 12));
    const struct {
        std::size_t offset;
        std::uint32_t length;
        std::uint32_t dataOffset;
    } fields[] = {{12, 24, 68}, {20, 24, 92}, {28, 0, 64}, {36, 2, 64}, {44, 2, 66}, {52, 0, 0}};
    for (const auto& field : fields) {
        EXPECT_EQ(ReadLittleEndian(message, field.offset, 2), field.length) << field.offset;
        EXPECT_EQ(ReadLittleEndian(message, field.offset + 2, 2), field.length) << field.offset;
        EXPECT_EQ(ReadLittleEndian(message, field.offset + 4, 4), field.dataOffset) << field.offset;
    }
    EXPECT_EQ(ReadLittleEndian(message, 60, 4), 0x8205u);
    EXPECT_EQ(message.substr(64, 4), std::string_view("u\0h\0", 4));
    EXPECT_EQ(message.substr(68, 24), ResponseBytes(NtlmLmResponse("SecREt01", kChallenge)));
    EXPECT_EQ(message.substr(92, 24), ResponseBytes(NtlmNtResponse("SecREt01", kChallenge)));
}

TEST(NtlmMessageTest, AuthenticateWidensNamesByteForByteWithoutUpperCasing) {
    const std::string message =
        DecodeFromBase64(BuildNtlmAuthenticate("Do", "pc", "j\xE9", "", kChallenge));
    ASSERT_EQ(message.size(), 64u + 12 + 48);
    EXPECT_EQ(ReadLittleEndian(message, 32, 4), 64u);
    EXPECT_EQ(ReadLittleEndian(message, 40, 4), 68u);
    EXPECT_EQ(ReadLittleEndian(message, 48, 4), 72u);
    EXPECT_EQ(ReadLittleEndian(message, 16, 4), 76u);
    EXPECT_EQ(message.substr(64, 12), std::string_view("D\0o\0j\0\xE9\0p\0c\0", 12));
}
