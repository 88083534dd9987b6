// MD4 message digest (RFC 1320), the hash behind the NTLM response.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/exception.h"

using Md4Hash = std::array<std::uint8_t, 16>;

// Raised when data is added to, or a digest taken from, a context that was not initialised.
class MD4Exception : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

// An incremental MD4 computation: Init, any number of Update calls, then Final. Final leaves the
// context uninitialised again, so a further use needs a fresh Init.
class Md4Context {
  public:
    void Init();
    void Update(std::string_view data);
    Md4Hash Final();

  private:
    static constexpr std::size_t kBlockSize = 64;

    void RequireInitialised() const;
    void ProcessBlock(const std::uint8_t* block);

    bool initialised_ = false;
    std::array<std::uint32_t, 4> state_{};
    std::uint64_t byteCount_ = 0;
    std::array<std::uint8_t, kBlockSize> pending_{};
};

// The MD4 digest of the given bytes.
Md4Hash Md4Digest(std::string_view data);
