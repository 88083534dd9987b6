#include "socket/send_buffer.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kDefaultSize = 1514;
}

TBuffer::TBuffer(int size) {
    Resize(size);
}

void TBuffer::Resize(int newSize) {
    if (newSize <= 0) newSize = kDefaultSize;
    if (newSize == FCapacity) return;
    auto block = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(newSize));
    if (FWritePos != FReadPos)
        std::memcpy(block.get(), FData.get(), static_cast<std::size_t>(FWritePos));
    FData = std::move(block);
    FCapacity = newSize;
}

int TBuffer::Append(const void* source, int len) {
    int count = std::min(len, FCapacity - FWritePos);
    if (count <= 0) return 0;
    std::memcpy(FData.get() + FWritePos, source, static_cast<std::size_t>(count));
    FWritePos += count;
    return count;
}

const char* TBuffer::ReadablePart(int& len) const {
    len = FWritePos - FReadPos;
    if (len > 0) return FData.get() + FReadPos;
    len = 0;
    return nullptr;
}

int TBuffer::Consume(int len) {
    int count = std::max(0, std::min(len, FWritePos - FReadPos));
    FReadPos += count;
    if (FReadPos == FWritePos) FReadPos = FWritePos = 0;
    return count;
}
