// Feeds arbitrary text to the Base64 decoder and the challenge reader, and checks what they must
// hold for any input: no reads past the end, the decoded size bound, the challenge taken from
// the decoded bytes 24 to 31, and an exact round trip through the encoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "auth/base64.h"
#include "auth/ntlm_message.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string decoded = DecodeFromBase64(text);
    Require(decoded.size() <= (size + 3) / 4 * 3);

    const NtlmChallengeInfo info = ParseNtlmChallenge(text);
    for (std::size_t index = 0; index < info.Challenge.size(); ++index) {
        const std::size_t offset = 24 + index;
        const std::uint8_t expected =
            offset < decoded.size() ? static_cast<std::uint8_t>(decoded[offset]) : 0;
        Require(info.Challenge[index] == expected);
    }

    Require(DecodeFromBase64(EncodeToBase64(text)) == text);
    return 0;
}
