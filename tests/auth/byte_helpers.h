// Hex and little-endian helpers for checking byte strings in the codec tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

template <typename Bytes>
std::string ToHex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (auto byte : bytes) {
        const auto value = static_cast<std::uint8_t>(byte);
        hex += kDigits[value >> 4];
        hex += kDigits[value & 0xF];
    }
    return hex;
}

template <typename Array>
Array ArrayFromHex(std::string_view hex) {
    Array array{};
    for (std::size_t index = 0; index < array.size() && 2 * index + 1 < hex.size(); ++index)
        array[index] = static_cast<std::uint8_t>(
            std::stoi(std::string(hex.substr(2 * index, 2)), nullptr, 16));
    return array;
}

inline std::uint32_t ReadLittleEndian(std::string_view bytes, std::size_t offset, int size) {
    std::uint32_t value = 0;
    for (int index = size - 1; index >= 0; --index) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes.at(offset + index));
    }
    return value;
}
