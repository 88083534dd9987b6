#include "app/list_merge.h"

#include <gtest/gtest.h>

namespace app {
namespace {

using Feeds = std::vector<std::string>;

TEST(MergeLists, KeepsOurChangesAndTheirs) {
    // base: as this program loaded it; ours: as it holds it; theirs: as the file holds it now.
    struct Case {
        Feeds base, ours, theirs, merged;
    };
    const Case cases[] = {
        {{"a", "b"}, {"a", "b"}, {"a", "b"}, {"a", "b"}},
        // Their additions come after ours.
        {{"a"}, {"a", "o1", "o2"}, {"a", "t1", "t2"}, {"a", "o1", "o2", "t1", "t2"}},
        {{"a", "b", "c"}, {"a", "b", "c", "o"}, {"a", "c"}, {"a", "c", "o"}},
        {{"a", "b"}, {"a"}, {"a", "b", "t"}, {"a", "t"}},
        {{"a"}, {"a", "x"}, {"x", "a"}, {"a", "x"}},  // both added x
        {{"a", "b"}, {"a", "b", "o"}, {"t"}, {"o", "t"}},
        // Where we changed nothing their list stands, the order of its copies included.
        {{"a", "b", "a"}, {"a", "b", "a"}, {"b", "a"}, {"b", "a"}},
        // Copies count one by one: they removed one of three empty lines and added a second a.
        {{"", "", "", "a"}, {"", "", "", "a", "o"}, {"", "", "a", "a"}, {"", "", "a", "o", "a"}},
        // Feeds are bytes: neither case nor a final "/" make two the same.
        {{"a/"}, {"a/", "o"}, {"A/", "a"}, {"o", "A/", "a"}},
    };
    for (const Case& c : cases) {
        FeedList merged = MergeLists({c.base, "/f/"}, {c.ours, "/f/"}, {c.theirs, "/f/"});
        EXPECT_EQ(merged.feeds, c.merged) << "case " << &c - cases;
    }
}

TEST(MergeLists, TheFolderIsOursWhenWeChangedItElseTheirs) {
    struct Case {
        const char *ours, *theirs, *merged;
    };
    const Case cases[] = {
        {"/base/", "/base/", "/base/"},
        {"/ours/", "/base/", "/ours/"},
        {"/base/", "/theirs/", "/theirs/"},
        {"/ours/", "/theirs/", "/ours/"},
    };
    for (const Case& c : cases) {
        FeedList merged = MergeLists({{"a"}, "/base/"}, {{"a"}, c.ours}, {{"a"}, c.theirs});
        EXPECT_EQ(merged.folder, c.merged) << c.ours << " " << c.theirs;
    }
}

}  // namespace
}  // namespace app
