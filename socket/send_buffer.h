// One chunk of a socket's send chain: bytes are appended at WritePos and taken out at ReadPos.
#pragma once

#include <memory>

class TBuffer {
  public:
    explicit TBuffer(int size);

    // A size of 0 or less means 1514. Keeps the bytes written; never below WritePos.
    void Resize(int newSize);
    // Copies what fits; returns the count copied (0 when full).
    int Append(const void* source, int len);
    // The unsent bytes, or nullptr with len 0.
    const char* ReadablePart(int& len) const;
    // Removes up to len unsent bytes; both positions return to 0 when nothing is left.
    int Consume(int len);

    int Capacity() const { return FCapacity; }
    int WritePos() const { return FWritePos; }
    int ReadPos() const { return FReadPos; }

  private:
    std::unique_ptr<char[]> FData;
    int FCapacity = 0;
    int FWritePos = 0;
    int FReadPos = 0;
};
