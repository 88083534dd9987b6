#include "auth/md4.h"

#include <bit>
#include <string>

namespace {

struct Md4Round {
    std::uint32_t (*mix)(std::uint32_t, std::uint32_t, std::uint32_t);
    std::uint32_t constant;
    std::array<std::uint8_t, 16> wordOrder;
    std::array<int, 4> shifts;
};

constexpr Md4Round kRounds[3] = {
    {[](std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (~x & z); },
     0x00000000,
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
     {3, 7, 11, 19}},
    {[](std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (x & z) | (y & z); },
     0x5A827999,
     {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15},
     {3, 5, 9, 13}},
    {[](std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; },
     0x6ED9EBA1,
     {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15},
     {3, 9, 11, 15}},
};

}  // namespace

void Md4Context::Init() {
    state_ = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    byteCount_ = 0;
    initialised_ = true;
}

void Md4Context::RequireInitialised() const {
    if (!initialised_) throw MD4Exception("MD4 not initialized");
}

void Md4Context::Update(std::string_view data) {
    RequireInitialised();
    for (char character : data) {
        pending_[byteCount_ % kBlockSize] = static_cast<std::uint8_t>(character);
        ++byteCount_;
        if (byteCount_ % kBlockSize == 0) ProcessBlock(pending_.data());
    }
}

Md4Hash Md4Context::Final() {
    RequireInitialised();
    const std::uint64_t bitCount = byteCount_ * 8;
    // Pad with 0x80 and zeros up to 56 bytes of a block, then the bit count, low byte first.
    std::string padding(1, '\x80');
    padding.append((kBlockSize + 55 - byteCount_ % kBlockSize) % kBlockSize, '\0');
    for (int index = 0; index < 8; ++index) {
        padding += static_cast<char>((bitCount >> (8 * index)) & 0xFF);
    }
    Update(padding);

    Md4Hash digest;
    for (std::size_t index = 0; index < digest.size(); ++index) {
        digest[index] = static_cast<std::uint8_t>(state_[index / 4] >> (8 * (index % 4)));
    }
    initialised_ = false;
    return digest;
}

void Md4Context::ProcessBlock(const std::uint8_t* block) {
    std::uint32_t words[16];
    for (int index = 0; index < 16; ++index) {
        const std::uint8_t* bytes = block + 4 * index;
        words[index] = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                       (static_cast<std::uint32_t>(bytes[3]) << 24);
    }
    std::array<std::uint32_t, 4> registers = state_;
    for (const Md4Round& round : kRounds) {
        for (int step = 0; step < 16; ++step) {
            // The register updated moves backwards each step: a, d, c, b, a, ...
            const int target = (4 - step % 4) % 4;
            std::uint32_t& updated = registers[target];
            const std::uint32_t mixed =
                round.mix(registers[(target + 1) % 4], registers[(target + 2) % 4],
                          registers[(target + 3) % 4]);
            updated = std::rotl(updated + mixed + words[round.wordOrder[step]] + round.constant,
                                round.shifts[step % 4]);
        }
    }
    for (int index = 0; index < 4; ++index)
        state_[index] += registers[index];
}

Md4Hash Md4Digest(std::string_view data) {
    Md4Context context;
    context.Init();
    context.Update(data);
    return context.Final();
}
