// Byte-string conversions shared by the NTLM responses and messages.
#pragma once

#include <string>
#include <string_view>

// Changes only "a" to "z"; every other byte stays as it is.
std::string NtlmUpperCase(std::string_view text);
// Follows every byte with a 0 byte, taking each byte as the character code of the same value.
std::string NtlmWiden(std::string_view text);
