// Judges arbitrary bytes as a SOCKS reply (the first byte picks which one), as they would arrive
// one more byte at a time, each time from a buffer holding exactly the bytes received (so a look
// beyond them is caught). The verdict must be final once given: "need more" until some count,
// then the same completion or failure for every longer count (but an authentication answer of
// more than its two bytes is a protocol error); a completion takes exactly the bytes received
// when it came, a failure carries a SOCKS error code and a text, and the read limit never reaches
// past the reply buffer or, for SOCKS 4, past the answer's eight bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "socket/socks_messages.h"

namespace {

constexpr int kReplyBufferSize = 512;
constexpr int kSocks4AnswerLength = 8;
constexpr int kAuthAnswerLength = 2;

void Require(bool condition) {
    if (!condition) std::abort();
}

socks::Verdict Judge(socks::ReplyKind kind, const std::uint8_t* data, int count) {
    auto held = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(count));
    std::copy(data, data + count, held.get());
    return socks::JudgeReply(kind, held.get(), count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kReplyBufferSize) return -1;
    const auto kind = static_cast<socks::ReplyKind>(data[0] % 4);
    const std::uint8_t* reply = data + 1;
    const int length = static_cast<int>(size - 1);

    std::optional<socks::Verdict> final;
    for (int count = 0; count <= length; ++count) {
        const int limit = socks::ReadLimit(kind, count, kReplyBufferSize - count);
        Require(limit >= 0 && limit <= kReplyBufferSize - count);
        if (kind == socks::ReplyKind::Socks4Answer)
            Require(count + limit <= kSocks4AnswerLength || limit == 0);

        const socks::Verdict verdict = Judge(kind, reply, count);
        // The authentication answer is two bytes, and more held at once is a protocol error.
        if (kind == socks::ReplyKind::AuthAnswer && count > kAuthAnswerLength) {
            Require(verdict.outcome == socks::Verdict::Failed &&
                    (verdict.failure.code == socks::errProtocol ||
                     verdict.failure.code == socks::errVersion));
            continue;
        }
        if (final) {
            Require(verdict.outcome == final->outcome && verdict.length == final->length &&
                    verdict.failure.code == final->failure.code);
            continue;
        }
        if (verdict.outcome == socks::Verdict::NeedMore) continue;
        final = verdict;
        if (verdict.outcome == socks::Verdict::Complete) {
            Require(verdict.length == count && count <= socks::kLongestReply);
        } else {
            Require(verdict.failure.code >= socks::errProtocol &&
                    verdict.failure.code <= socks::errHostResolution &&
                    !verdict.failure.message.empty());
        }
    }
    return 0;
}
