// The decoder of the chunked transfer coding: size line (hexadecimal, an extension after it
// skipped), data, line end, and so on until the zero-size chunk; then trailer fields, skipped up to
// the blank line that ends them, so that none is left to be read as the next response.
#pragma once

#include <cstdint>

class TChunkDecoder {
  public:
    enum Phase { chunkSize, chunkExtension, chunkData, chunkDataEnd, chunkTrailer, chunkDone };

    struct Piece {
        const char* data = nullptr;
        int length = 0;
    };

    void Reset();
    // Consumes bytes from [pos, end) until it holds a piece of chunk data, the input is used up,
    // the body has ended or the size line is unreadable. Returns the data piece (empty when none).
    Piece Next(const char*& pos, const char* end);

    Phase CurrentPhase() const { return phase_; }
    bool Done() const { return phase_ == chunkDone; }
    // A size line that does not begin with a hexadecimal digit, or a size that does not fit a
    // signed 64-bit number.
    bool Failed() const { return failed_; }
    // True once after each completed size line, for the trace.
    bool TakeSizeRead() {
        bool read = sizeRead_;
        sizeRead_ = false;
        return read;
    }
    std::int64_t ChunkLength() const { return chunkLength_; }

  private:
    bool SkipPastLineEnd(const char*& pos, const char* end);

    Phase phase_ = chunkSize;
    std::int64_t chunkLength_ = 0;
    std::int64_t chunkBytesRead_ = 0;
    bool failed_ = false;
    bool sizeDigitSeen_ = false;
    bool sizeRead_ = false;
    bool trailerLineEmpty_ = true;
};
