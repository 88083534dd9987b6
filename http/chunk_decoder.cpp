#include "http/chunk_decoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "http/url.h"

void TChunkDecoder::Reset() {
    *this = TChunkDecoder();
}

bool TChunkDecoder::SkipPastLineEnd(const char*& pos, const char* end) {
    const void* lf = std::memchr(pos, '\n', static_cast<std::size_t>(end - pos));
    if (!lf) {
        pos = end;
        return false;
    }
    pos = static_cast<const char*>(lf) + 1;
    return true;
}

TChunkDecoder::Piece TChunkDecoder::Next(const char*& pos, const char* end) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    while (pos < end && !failed_) {
        switch (phase_) {
            case chunkSize:
                if (!IsHexChar(*pos)) {
                    // Without a digit the line holds no size at all; reading it as 0 would take
                    // a cut body for a complete one.
                    if (!sizeDigitSeen_) {
                        failed_ = true;
                        break;
                    }
                    phase_ = chunkExtension;
                    sizeRead_ = true;
                    break;
                }
                sizeDigitSeen_ = true;
                if (chunkLength_ > (kMax - HexCharValue(*pos)) / 16) {
                    failed_ = true;
                    break;
                }
                chunkLength_ = chunkLength_ * 16 + HexCharValue(*pos);
                ++pos;
                break;
            case chunkExtension:
                if (SkipPastLineEnd(pos, end))
                    phase_ = chunkLength_ == 0 ? chunkTrailer : chunkData;
                break;
            case chunkData: {
                auto n = static_cast<int>(
                    std::min<std::int64_t>(end - pos, chunkLength_ - chunkBytesRead_));
                Piece piece{pos, n};
                pos += n;
                chunkBytesRead_ += n;
                if (chunkBytesRead_ >= chunkLength_) phase_ = chunkDataEnd;
                if (n > 0) return piece;
                break;
            }
            case chunkDataEnd:
                if (SkipPastLineEnd(pos, end)) {
                    phase_ = chunkSize;
                    chunkLength_ = 0;
                    sizeDigitSeen_ = false;
                    chunkBytesRead_ = 0;
                }
                break;
            case chunkTrailer: {
                const char byte = *pos++;
                if (byte == '\n') {
                    if (trailerLineEmpty_) phase_ = chunkDone;
                    trailerLineEmpty_ = true;
                } else if (byte != '\r') {
                    trailerLineEmpty_ = false;
                }
                break;
            }
            case chunkDone:
                return {};
        }
    }
    return {};
}
