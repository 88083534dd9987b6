#include "socket/send_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SendBuffer, AppendsReadsAndConsumes) {
    TBuffer buffer(8);
    EXPECT_EQ(buffer.Append("abcdef", 6), 6);
    EXPECT_EQ(buffer.Append("ghijk", 5), 2);
    EXPECT_EQ(buffer.Append("x", 1), 0);
    int len = 0;
    const char* data = buffer.ReadablePart(len);
    EXPECT_EQ(std::string(data, static_cast<std::size_t>(len)), "abcdefgh");
    EXPECT_EQ(buffer.Consume(3), 3);
    data = buffer.ReadablePart(len);
    EXPECT_EQ(std::string(data, static_cast<std::size_t>(len)), "defgh");
    // The space before ReadPos comes back only once the buffer is empty.
    EXPECT_EQ(buffer.Append("x", 1), 0);
    EXPECT_EQ(buffer.Consume(100), 5);
    EXPECT_EQ(buffer.ReadPos(), 0);
    EXPECT_EQ(buffer.WritePos(), 0);
    EXPECT_EQ(buffer.ReadablePart(len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(buffer.Consume(1), 0);
}

TEST(SendBuffer, ResizeKeepsContentAndDefaultsTo1514) {
    TBuffer buffer(0);
    EXPECT_EQ(buffer.Capacity(), 1514);
    buffer.Append("keep", 4);
    buffer.Resize(10);
    int len = 0;
    const char* data = buffer.ReadablePart(len);
    EXPECT_EQ(std::string(data, static_cast<std::size_t>(len)), "keep");
    EXPECT_EQ(buffer.Capacity(), 10);
}

}  // namespace
