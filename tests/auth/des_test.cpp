#include "auth/des.h"

#include <gtest/gtest.h>

#include "tests/auth/byte_helpers.h"

namespace {

struct KnownAnswer {
    const char* key;
    const char* plaintext;
    const char* ciphertext;
};

// Published validation vectors: the NIST variable-plaintext, variable-key, permutation and
// substitution tests, the FIPS 81 sample, and the classic worked example.
constexpr KnownAnswer kKnownAnswers[] = {
    {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
    {"0101010101010101", "4000000000000000", "dd7f121ca5015619"},
    {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
    {"4001010101010101", "0000000000000000", "0eec1487dd8c26d5"},
    {"1046913489980131", "0000000000000000", "88d55e54f54c97b4"},
    {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
    {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
    {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {"0000000000000000", "0000000000000000", "8ca64de9c1b123a7"},
    {"ffffffffffffffff", "ffffffffffffffff", "7359b2163e4edc58"},
    {"3000000000000000", "1000000000000001", "958e6e627a05557b"},
    {"1111111111111111", "1111111111111111", "f40379ab9e0ec533"},
    {"fedcba9876543210", "0123456789abcdef", "ed39d950fa74bcc4"},
};

DesBlock Block(const char* hex) {
    return ArrayFromHex<DesBlock>(hex);
}

}  // namespace

TEST(DesTest, EncryptsAndDecryptsThePublishedVectorsWhateverTheKeyParity) {
    for (const KnownAnswer& answer : kKnownAnswers) {
        DesBlock key = Block(answer.key);
        EXPECT_EQ(ToHex(DesEncryptBlock(Block(answer.plaintext), key)), answer.ciphertext)
            << "key " << answer.key;
        EXPECT_EQ(ToHex(DesDecryptBlock(Block(answer.ciphertext), key)), answer.plaintext)
            << "key " << answer.key;
        for (auto& byte : key)
            byte ^= 0x01;  // the parity bits
        EXPECT_EQ(ToHex(DesEncryptBlock(Block(answer.plaintext), key)), answer.ciphertext)
            << "key " << answer.key << " with its parity bits flipped";
    }
}

TEST(DesTest, WeakKeysMakeEncryptionItsOwnInverse) {
    const DesBlock plaintext = Block("0123456789abcdef");
    for (const char* weakKey :
         {"0101010101010101", "fefefefefefefefe", "e0e0e0e0f1f1f1f1", "1f1f1f1f0e0e0e0e"}) {
        const DesBlock key = Block(weakKey);
        EXPECT_EQ(DesEncryptBlock(DesEncryptBlock(plaintext, key), key), plaintext) << weakKey;
        EXPECT_EQ(DesEncryptBlock(plaintext, key), DesDecryptBlock(plaintext, key)) << weakKey;
    }
}

TEST(DesTest, SevenByteKeyBitsLandInTheUpperSevenBitsOfEachKeyByte) {
    for (int bit = 0; bit < 56; ++bit) {
        std::array<std::uint8_t, 7> keyBytes{};
        keyBytes[bit / 8] = static_cast<std::uint8_t>(0x80 >> (bit % 8));
        DesBlock expected{};
        expected[bit / 7] = static_cast<std::uint8_t>(0x80 >> (bit % 7));
        EXPECT_EQ(DesKeyFromSevenBytes(keyBytes), expected) << "bit " << bit;
    }
    const std::array<std::uint8_t, 7> allSet = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ToHex(DesKeyFromSevenBytes(allSet)), "fefefefefefefefe");
}
