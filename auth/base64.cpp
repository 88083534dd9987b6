#include "auth/base64.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPadding = '=';

std::uint8_t SextetValue(char character) {
    if (character >= 'A' && character <= 'Z') return character - 'A';
    if (character >= 'a' && character <= 'z') return character - 'a' + 26;
    if (character >= '0' && character <= '9') return character - '0' + 52;
    if (character == '+') return 62;
    if (character == kPadding) return 0;
    // Anything else is taken as all six bits set, so malformed text still decodes.
    return 63;
}

bool IsLineBreak(char character) {
    return character == '\r' || character == '\n';
}

}  // namespace

std::string EncodeToBase64(std::string_view input) {
    std::string output;
    output.reserve((input.size() + 2) / 3 * 4);
    for (std::size_t position = 0; position < input.size(); position += 3) {
        const std::size_t groupSize = std::min<std::size_t>(3, input.size() - position);
        std::uint32_t bits = 0;
        for (std::size_t index = 0; index < 3; ++index) {
            const std::uint8_t byte =
                index < groupSize ? static_cast<std::uint8_t>(input[position + index]) : 0;
            bits = (bits << 8) | byte;
        }
        for (std::size_t index = 0; index < 4; ++index) {
            output += index <= groupSize ? kAlphabet[(bits >> (18 - 6 * index)) & 0x3F] : kPadding;
        }
    }
    return output;
}

std::string DecodeFromBase64(std::string_view input) {
    std::string output;
    output.reserve(input.size() / 4 * 3 + 3);
    std::size_t position = 0;
    while (position < input.size()) {
        if (IsLineBreak(input[position])) {
            ++position;
            continue;
        }
        // Characters missing from an incomplete last group count as padding.
        char group[4] = {kPadding, kPadding, kPadding, kPadding};
        for (std::size_t index = 0; index < 4 && position + index < input.size(); ++index) {
            group[index] = input[position + index];
        }
        position += 4;

        const std::uint8_t values[4] = {SextetValue(group[0]), SextetValue(group[1]),
                                        SextetValue(group[2]), SextetValue(group[3])};
        output += static_cast<char>((values[0] << 2) | (values[1] >> 4));
        if (group[2] == kPadding) continue;
        output += static_cast<char>(((values[1] & 0x0F) << 4) | (values[2] >> 2));
        if (group[3] == kPadding) continue;
        output += static_cast<char>(((values[2] & 0x03) << 6) | values[3]);
    }
    return output;
}
