#include "auth/ntlm_response.h"

#include <gtest/gtest.h>

#include "tests/auth/byte_helpers.h"

namespace {

const NtlmChallenge kChallenge = ArrayFromHex<NtlmChallenge>("0123456789abcdef");

}  // namespace

TEST(NtlmResponseTest, MatchesThePublishedVersionOneExample) {
    EXPECT_EQ(ToHex(NtlmLmResponse("SecREt01", kChallenge)),
              "c337cd5cbd44fc9782a667af6d427c6de67c20c2d3e77c56");
    EXPECT_EQ(ToHex(NtlmNtResponse("SecREt01", kChallenge)),
              "25a98c1c31e81847466b29b2df4680f39958fb8c213a9cc6");
}

TEST(NtlmResponseTest, LmResponseIgnoresAsciiCaseAndEverythingPastFourteenBytesNtDoesNot) {
    const NtlmResponse lm = NtlmLmResponse("SecREt01", kChallenge);
    EXPECT_EQ(NtlmLmResponse("secret01", kChallenge), lm);
    EXPECT_EQ(NtlmLmResponse("SECRET01", kChallenge), lm);
    EXPECT_EQ(NtlmLmResponse("abcdefghijklmnOPQ", kChallenge),
              NtlmLmResponse("ABCDEFGHIJKLMNxyz", kChallenge));
    // Only "a" to "z" are upper-cased.
    EXPECT_NE(NtlmLmResponse("\xE4", kChallenge), NtlmLmResponse("\xC4", kChallenge));
    EXPECT_NE(NtlmLmResponse("SecREt01", ArrayFromHex<NtlmChallenge>("0123456789abcdee")), lm);
    // The NT response depends on case and on the whole password.
    EXPECT_NE(NtlmNtResponse("secret01", kChallenge), NtlmNtResponse("SecREt01", kChallenge));
    EXPECT_NE(NtlmNtResponse("abcdefghijklmnOPQ", kChallenge),
              NtlmNtResponse("abcdefghijklmnOPR", kChallenge));
}
