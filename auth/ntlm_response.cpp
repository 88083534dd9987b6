#include "auth/ntlm_response.h"

#include <algorithm>
#include <span>

#include "auth/md4.h"
#include "auth/ntlm_text.h"

namespace {

using ResponseKeyMaterial = std::array<std::uint8_t, 21>;

constexpr std::size_t kLmPasswordLength = 14;
constexpr DesBlock kLmMagic = {'K', 'G', 'S', '!', '@', '#', '$', '%'};

DesBlock DesKeyAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return DesKeyFromSevenBytes(bytes.subspan(offset).first<7>());
}

// Each 7-byte third of the key material encrypts the challenge; the three blocks are the answer.
NtlmResponse ThreeKeyAnswer(const ResponseKeyMaterial& material, const NtlmChallenge& challenge) {
    NtlmResponse response;
    for (std::size_t third = 0; third < 3; ++third) {
        const DesBlock block = DesEncryptBlock(challenge, DesKeyAt(material, 7 * third));
        std::copy(block.begin(), block.end(), response.begin() + 8 * third);
    }
    return response;
}

}  // namespace

NtlmResponse NtlmLmResponse(std::string_view password, const NtlmChallenge& challenge) {
    std::array<std::uint8_t, kLmPasswordLength> lmPassword{};
    const std::string upper = NtlmUpperCase(password.substr(0, kLmPasswordLength));
    std::copy(upper.begin(), upper.end(), lmPassword.begin());

    ResponseKeyMaterial material{};
    for (std::size_t half = 0; half < 2; ++half) {
        const DesBlock hashHalf = DesEncryptBlock(kLmMagic, DesKeyAt(lmPassword, 7 * half));
        std::copy(hashHalf.begin(), hashHalf.end(), material.begin() + 8 * half);
    }
    return ThreeKeyAnswer(material, challenge);
}

NtlmResponse NtlmNtResponse(std::string_view password, const NtlmChallenge& challenge) {
    const Md4Hash hash = Md4Digest(NtlmWiden(password));
    ResponseKeyMaterial material{};
    std::copy(hash.begin(), hash.end(), material.begin());
    return ThreeKeyAnswer(material, challenge);
}
