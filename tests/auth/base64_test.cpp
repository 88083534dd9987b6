#include "auth/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(Base64Test, MatchesTheStandardTestVectorsBothWays) {
    const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(EncodeToBase64(plain), encoded);
        EXPECT_EQ(DecodeFromBase64(encoded), plain);
    }
}

TEST(Base64Test, LongInputOfEveryByteValueRoundTripsOnOneLine) {
    std::string allBytes;
    for (int value = 0; value < 256 * 3; ++value)
        allBytes += static_cast<char>(value % 256);
    const std::string encoded = EncodeToBase64(allBytes);
    EXPECT_EQ(encoded.size(), allBytes.size() / 3 * 4);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(encoded.substr(0, 8), "AAECAwQF");
    EXPECT_EQ(DecodeFromBase64(encoded), allBytes);
}

TEST(Base64Test, DecodesLenientlyAsTheCodecAlwaysHas) {
    const std::pair<std::string, std::string> cases[] = {
        // Line breaks are skipped only where a group begins; inside a group CR and LF are
        // ordinary invalid characters, worth 63 each.
        {"Zm9v\r\nYmFy", "foobar"},
        {"\r\n\nZm9vYg==\r\nZm8=\r\n", "foobfo"},
        {"Zm\r\n9v", "fo\xFF\xF6"},
        // Padding ends a group only in its last two places.
        {"Zg=A", "f"},
        {"=AAA", std::string(3, '\0')},
        {"A=AA", std::string(3, '\0')},
        {"Zg==Zm8=", "ffo"},
        // Characters outside the alphabet count as six bits set.
        {"Zm9*", "fo\x7F"},
        {"\xC3\x80-.", "\xFF\xFF\xFF"},
        {"////", "\xFF\xFF\xFF"},
        // An incomplete last group is completed with padding.
        {"Zm9vYmE", "fooba"},
        {"Zm9vYg", "foob"},
        {"Zm9vY", "foo\x60"},
        {"Zm9v\r\nYg", "foob"},
    };
    for (const auto& [encoded, plain] : cases)
        EXPECT_EQ(DecodeFromBase64(encoded), plain) << encoded;
}
