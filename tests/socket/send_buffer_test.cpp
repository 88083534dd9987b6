#include "socket/send_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Readable(TBuffer& buffer) {
    int len = 0;
    const char* data = buffer.ReadablePart(len);
    return data ? std::string(data, static_cast<std::size_t>(len)) : "none, " + std::to_string(len);
}

TEST(SendBuffer, AppendsReadsAndConsumes) {
    TBuffer buffer(8);
    EXPECT_EQ(buffer.Append("abcdef", 6), 6);
    EXPECT_EQ(buffer.Append("ghijk", 5), 2);
    EXPECT_EQ(buffer.Append("x", 1), 0);
    EXPECT_EQ(Readable(buffer), "abcdefgh");
    EXPECT_EQ(buffer.Consume(3), 3);
    EXPECT_EQ(Readable(buffer), "defgh");
    // The space before ReadPos comes back only once the buffer is empty.
    EXPECT_EQ(buffer.Append("x", 1), 0);
    EXPECT_EQ(buffer.Consume(100), 5);
    EXPECT_EQ(buffer.ReadPos(), 0);
    EXPECT_EQ(buffer.WritePos(), 0);
    EXPECT_EQ(Readable(buffer), "none, 0");
    EXPECT_EQ(buffer.Consume(1), 0);

    TBuffer sized(0);
    EXPECT_EQ(sized.Capacity(), 1514);
    sized.Append("keep", 4);
    sized.Resize(10);
    EXPECT_EQ(Readable(sized), "keep");
    EXPECT_EQ(sized.Capacity(), 10);
}

}  // namespace
