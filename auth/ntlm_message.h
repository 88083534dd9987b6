// The NTLM negotiate (type 1), challenge (type 2) and authenticate (type 3) messages, carried as
// Base64 text in the HTTP authentication headers.
#pragma once

#include <string>
#include <string_view>

#include "auth/ntlm_response.h"

// What the client keeps of a type-2 message.
struct NtlmChallengeInfo {
    NtlmChallenge Challenge{};
};

// The type-1 message as Base64 text; both names are sent upper-cased.
std::string BuildNtlmNegotiate(std::string_view workstation, std::string_view domain);

// Reads the server challenge (bytes 24 to 31) out of a Base64 type-2 message. Never fails:
// challenge bytes beyond the end of the decoded message count as zero.
NtlmChallengeInfo ParseNtlmChallenge(std::string_view text);

// The type-3 message as Base64 text, answering the challenge with the LM and NT responses.
std::string BuildNtlmAuthenticate(std::string_view domain, std::string_view workstation,
                                  std::string_view user, std::string_view password,
                                  const NtlmChallenge& challenge);
