// The kinds of trace lines and the logger's destinations, and the set of them a logger keeps.
// Producers ask for a kind through their LogEnabled hook; no kind is enabled without a logger.
#pragma once

#include <cstdint>
#include <initializer_list>

enum TLogOption : std::uint8_t {
    loDestEvent,
    loDestFile,
    loDestOutDebug,
    loAddStamp,
    loWsockErr,
    loWsockInfo,
    loWsockDump,
    loSslErr,
    loSslInfo,
    loSslDump,
    loProtSpecErr,
    loProtSpecInfo,
    loProtSpecDump
};

// A set of TLogOption, bit n for value n.
class TLogOptions {
  public:
    constexpr TLogOptions() = default;
    constexpr TLogOptions(std::initializer_list<TLogOption> options) {
        for (auto option : options)
            Include(option);
    }
    constexpr bool Contains(TLogOption option) const { return bits_ & Bit(option); }
    constexpr void Include(TLogOption option) { bits_ |= Bit(option); }
    constexpr void Exclude(TLogOption option) { bits_ &= static_cast<std::uint16_t>(~Bit(option)); }
    constexpr std::uint16_t Bits() const { return bits_; }
    constexpr bool operator==(const TLogOptions&) const = default;

  private:
    static constexpr std::uint16_t Bit(TLogOption option) {
        return static_cast<std::uint16_t>(1u << option);
    }
    std::uint16_t bits_ = 0;
};
