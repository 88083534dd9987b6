#include "app/resume_range.h"

#include <gtest/gtest.h>

namespace app {
namespace {

TEST(ResumeRange, TheRestIsTakenOnlyWhereItFitsAndFromAValidatorThatNamesBytes) {
    struct Continuation {
        const char* range;
        std::int64_t expectedTotal;
        bool continues;
    };
    const Continuation continuations[] = {
        {"bytes 100-999/1000", 1000, true},   {"bytes 100-999/1000", -1, true},
        {"Bytes 100-999/1000", 1000, false},  {"bytes 0-999/1000", 1000, false},
        {"bytes 100-998/1000", 1000, false},  {"bytes 100-999/1001", 1000, false},
        {"bytes 100-999/*", 1000, false},     {"bytes -100-999/1000", 1000, false},
        {"bytes 100-999", 1000, false},       {"bytes 100-99/100", -1, false},
        {"bytes  100-999/1000 ", 1000, true},
    };
    for (const Continuation& c : continuations)
        EXPECT_EQ(ContinuesAt({"Content-Range: " + std::string(c.range)}, 100, c.expectedTotal),
                  c.continues)
            << c.range;
    EXPECT_FALSE(ContinuesAt({"Content-Length: 900"}, 100, 1000));

    const std::string date = "Mon, 01 Jan 2024 00:00:00 GMT";
    EXPECT_EQ(RangeValidatorOf({"ETag: \"a1\"", "Last-Modified: " + date}), "\"a1\"");
    EXPECT_EQ(RangeValidatorOf({"etag: W/\"a1\"", "last-modified: " + date}), date);
    EXPECT_EQ(RangeValidatorOf({"ETag: W/\"a1\""}), "");
    EXPECT_EQ(RangeValidatorOf({"ETag: \"a\r\nX: 1\""}), "");  // never a line of its own
    EXPECT_EQ(ResumeRequestLines(100, "\"a1\""),
              (std::vector<std::string>{"Range: bytes=100-", "If-Range: \"a1\""}));
}

}  // namespace
}  // namespace app
