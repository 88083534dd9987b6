// Base64 text for the NTLM messages: the standard alphabet with "=" padding, one unbroken line.
#pragma once

#include <string>
#include <string_view>

// Encodes bytes as Base64 text without line breaks.
std::string EncodeToBase64(std::string_view input);

// Decodes Base64 text. Never fails: characters outside the alphabet count as 63, "=" counts as 0
// in the first two places of a group and ends the group in the last two, CR and LF are skipped
// where a group would begin, and an incomplete last group is completed with padding.
std::string DecodeFromBase64(std::string_view input);
