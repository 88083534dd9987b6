// Single-block DES (FIPS 46), as the NTLM responses use it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// One 64-bit DES block or key, first byte holding the most significant bits.
using DesBlock = std::array<std::uint8_t, 8>;

// Encrypts one block. The lowest bit of every key byte (its parity bit) is ignored.
DesBlock DesEncryptBlock(const DesBlock& block, const DesBlock& key);
// Decrypts one block: the inverse of DesEncryptBlock under the same key.
DesBlock DesDecryptBlock(const DesBlock& block, const DesBlock& key);

// Spreads 56 key bits over eight bytes, seven bits each in the upper bit positions, with every
// parity bit cleared.
DesBlock DesKeyFromSevenBytes(std::span<const std::uint8_t, 7> keyBytes);
