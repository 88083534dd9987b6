#include "auth/des.h"

#include <cstddef>

namespace {

// Permutation and selection tables: entry i names the input bit (1 = most significant) that
// becomes output bit i.
constexpr std::uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::uint8_t kFinalPermutation[64] = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25};

constexpr std::uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr std::uint8_t kRoundPermutation[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                                                26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                                                3,  9, 19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kKeyChoice1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kKeyChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr int kKeyRotations[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// Each box maps 6 bits to 4: the outer two bits pick the row, the inner four the column.
constexpr std::uint8_t kSubstitutionBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

enum class Direction { Encrypt, Decrypt };

template <std::size_t OutputBits>
std::uint64_t Permute(std::uint64_t input, int inputBits, const std::uint8_t (&table)[OutputBits]) {
    std::uint64_t output = 0;
    for (std::uint8_t sourceBit : table) {
        output = (output << 1) | ((input >> (inputBits - sourceBit)) & 1);
    }
    return output;
}

std::uint64_t ToNumber(const DesBlock& block) {
    std::uint64_t number = 0;
    for (std::uint8_t byte : block)
        number = (number << 8) | byte;
    return number;
}

DesBlock ToBlock(std::uint64_t number) {
    DesBlock block;
    for (int index = 7; index >= 0; --index, number >>= 8)
        block[index] = number & 0xFF;
    return block;
}

std::uint32_t RotateLeft28(std::uint32_t value, int count) {
    return ((value << count) | (value >> (28 - count))) & 0x0FFFFFFF;
}

std::array<std::uint64_t, 16> RoundKeys(const DesBlock& key) {
    const std::uint64_t chosen = Permute(ToNumber(key), 64, kKeyChoice1);
    std::uint32_t left = static_cast<std::uint32_t>(chosen >> 28);
    std::uint32_t right = static_cast<std::uint32_t>(chosen & 0x0FFFFFFF);
    std::array<std::uint64_t, 16> keys;
    for (int round = 0; round < 16; ++round) {
        left = RotateLeft28(left, kKeyRotations[round]);
        right = RotateLeft28(right, kKeyRotations[round]);
        keys[round] = Permute((static_cast<std::uint64_t>(left) << 28) | right, 56, kKeyChoice2);
    }
    return keys;
}

std::uint32_t RoundFunction(std::uint32_t half, std::uint64_t roundKey) {
    const std::uint64_t mixed = Permute(half, 32, kExpansion) ^ roundKey;
    std::uint32_t substituted = 0;
    for (int box = 0; box < 8; ++box) {
        const unsigned sixBits = (mixed >> (42 - 6 * box)) & 0x3F;
        const unsigned row = ((sixBits >> 4) & 0x2) | (sixBits & 0x1);
        const unsigned column = (sixBits >> 1) & 0xF;
        substituted = (substituted << 4) | kSubstitutionBoxes[box][row * 16 + column];
    }
    return static_cast<std::uint32_t>(Permute(substituted, 32, kRoundPermutation));
}

DesBlock ProcessBlock(const DesBlock& block, const DesBlock& key, Direction direction) {
    const std::array<std::uint64_t, 16> roundKeys = RoundKeys(key);
    const std::uint64_t permuted = Permute(ToNumber(block), 64, kInitialPermutation);
    std::uint32_t left = static_cast<std::uint32_t>(permuted >> 32);
    std::uint32_t right = static_cast<std::uint32_t>(permuted);
    for (int round = 0; round < 16; ++round) {
        // Decryption is the same network with the round keys taken in reverse.
        const int keyIndex = direction == Direction::Encrypt ? round : 15 - round;
        const std::uint32_t next = left ^ RoundFunction(right, roundKeys[keyIndex]);
        left = right;
        right = next;
    }
    const std::uint64_t swapped = (static_cast<std::uint64_t>(right) << 32) | left;
    return ToBlock(Permute(swapped, 64, kFinalPermutation));
}

}  // namespace

DesBlock DesEncryptBlock(const DesBlock& block, const DesBlock& key) {
    return ProcessBlock(block, key, Direction::Encrypt);
}

DesBlock DesDecryptBlock(const DesBlock& block, const DesBlock& key) {
    return ProcessBlock(block, key, Direction::Decrypt);
}

DesBlock DesKeyFromSevenBytes(std::span<const std::uint8_t, 7> keyBytes) {
    std::uint64_t bits = 0;
    for (std::uint8_t byte : keyBytes)
        bits = (bits << 8) | byte;
    DesBlock key;
    for (int index = 0; index < 8; ++index) {
        // Seven bits per key byte, most significant first; the parity bit stays 0.
        key[index] = static_cast<std::uint8_t>(((bits >> (49 - 7 * index)) & 0x7F) << 1);
    }
    return key;
}
