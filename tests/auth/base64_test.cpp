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

TEST(Base64Test, LineBreaksAreSkippedOnlyWhereAGroupBegins) {
    EXPECT_EQ(DecodeFromBase64("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(DecodeFromBase64("\r\n\nZm9vYg==\r\nZm8=\r\n"), "foobfo");
    // Inside a group CR and LF are ordinary invalid characters, worth 63 each.
    EXPECT_EQ(DecodeFromBase64("Zm\r\n9v"), std::string("fo\xFF\xF6"));
}

TEST(Base64Test, PaddingEndsAGroupOnlyInItsLastTwoPlaces) {
    EXPECT_EQ(DecodeFromBase64("Zg=="), "f");
    EXPECT_EQ(DecodeFromBase64("Zg=A"), "f");
    EXPECT_EQ(DecodeFromBase64("Zm8="), "fo");
    EXPECT_EQ(DecodeFromBase64("=AAA"), std::string(3, '\0'));
    EXPECT_EQ(DecodeFromBase64("A=AA"), std::string(3, '\0'));
    EXPECT_EQ(DecodeFromBase64("Zg==Zm8="), "ffo");
}

TEST(Base64Test, CharactersOutsideTheAlphabetCountAsSixBitsSet) {
    EXPECT_EQ(DecodeFromBase64("Zm9*"), DecodeFromBase64("Zm9/"));
    EXPECT_EQ(DecodeFromBase64("\xC3\x80-."), DecodeFromBase64("////"));
    EXPECT_EQ(DecodeFromBase64("////"), std::string(3, '\xFF'));
}

TEST(Base64Test, AnIncompleteLastGroupIsCompletedWithPadding) {
    EXPECT_EQ(DecodeFromBase64("Zm9vYmE"), "fooba");
    EXPECT_EQ(DecodeFromBase64("Zm9vYg"), "foob");
    EXPECT_EQ(DecodeFromBase64("Zm9vY"), std::string("foo\x60"));
    EXPECT_EQ(DecodeFromBase64("Zm9v\r\nYg"), "foob");
}
