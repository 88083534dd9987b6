// The LM and NT answers of NTLM version 1 to an 8-byte server challenge.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "auth/des.h"

using NtlmChallenge = DesBlock;
using NtlmResponse = std::array<std::uint8_t, 24>;

// LM answer: only the first 14 bytes of the password count, with "a" to "z" upper-cased.
NtlmResponse NtlmLmResponse(std::string_view password, const NtlmChallenge& challenge);
// NT answer: the MD4 of the whole password, each byte widened to two.
NtlmResponse NtlmNtResponse(std::string_view password, const NtlmChallenge& challenge);
