#include "http/uri_reference.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* base;
    const char* reference;
    const char* expected;
};

constexpr const char* kRfcBase = "http://a/b/c/d;p?q";

const Case kCases[] = {
    // RFC 3986 5.4.1, the normal examples.
    {kRfcBase, "g:h", "g:h"},
    {kRfcBase, "g", "http://a/b/c/g"},
    {kRfcBase, "./g", "http://a/b/c/g"},
    {kRfcBase, "g/", "http://a/b/c/g/"},
    {kRfcBase, "/g", "http://a/g"},
    {kRfcBase, "//g", "http://g"},
    {kRfcBase, "?y", "http://a/b/c/d;p?y"},
    {kRfcBase, "g?y", "http://a/b/c/g?y"},
    {kRfcBase, "#s", "http://a/b/c/d;p?q#s"},
    {kRfcBase, "g#s", "http://a/b/c/g#s"},
    {kRfcBase, "g?y#s", "http://a/b/c/g?y#s"},
    {kRfcBase, ";x", "http://a/b/c/;x"},
    {kRfcBase, "g;x", "http://a/b/c/g;x"},
    {kRfcBase, "g;x?y#s", "http://a/b/c/g;x?y#s"},
    {kRfcBase, "", "http://a/b/c/d;p?q"},
    {kRfcBase, ".", "http://a/b/c/"},
    {kRfcBase, "./", "http://a/b/c/"},
    {kRfcBase, "..", "http://a/b/"},
    {kRfcBase, "../", "http://a/b/"},
    {kRfcBase, "../g", "http://a/b/g"},
    {kRfcBase, "../..", "http://a/"},
    {kRfcBase, "../../", "http://a/"},
    {kRfcBase, "../../g", "http://a/g"},
    // 5.4.2, the abnormal examples (a strict parser's answers).
    {kRfcBase, "../../../g", "http://a/g"},
    {kRfcBase, "../../../../g", "http://a/g"},
    {kRfcBase, "/./g", "http://a/g"},
    {kRfcBase, "/../g", "http://a/g"},
    {kRfcBase, "g.", "http://a/b/c/g."},
    {kRfcBase, ".g", "http://a/b/c/.g"},
    {kRfcBase, "g..", "http://a/b/c/g.."},
    {kRfcBase, "..g", "http://a/b/c/..g"},
    {kRfcBase, "./../g", "http://a/b/g"},
    {kRfcBase, "./g/.", "http://a/b/c/g/"},
    {kRfcBase, "g/./h", "http://a/b/c/g/h"},
    {kRfcBase, "g/../h", "http://a/b/c/h"},
    {kRfcBase, "g;x=1/./y", "http://a/b/c/g;x=1/y"},
    {kRfcBase, "g;x=1/../y", "http://a/b/c/y"},
    {kRfcBase, "g?y/./x", "http://a/b/c/g?y/./x"},
    {kRfcBase, "g?y/../x", "http://a/b/c/g?y/../x"},
    {kRfcBase, "g#s/./x", "http://a/b/c/g#s/./x"},
    {kRfcBase, "g#s/../x", "http://a/b/c/g#s/../x"},
    {kRfcBase, "http:g", "http:g"},
    // What feeds and relocations give.
    {"https://h/feed.xml#top", "", "https://h/feed.xml"},
    {"https://h", "ep/1.mp3", "https://h/ep/1.mp3"},
    {"https://h/shows/feed?x=1", "//cdn.h/a b.mp3", "https://cdn.h/a b.mp3"},
    {"https://h/shows/feed", "HTTP://Other/a/../b.mp3?q=../", "HTTP://Other/b.mp3?q=../"},
    {"https://h/shows/feed", "./c:d.mp3", "https://h/shows/c:d.mp3"},
    {"https://h/shows/feed", "1:x", "https://h/shows/1:x"},
    {"mailto:a@h", "b", "mailto:b"},
    // No absolute base: nothing to resolve against.
    {"", "ep/../1.mp3", "ep/../1.mp3"},
    {"/shows/feed", "1.mp3", "1.mp3"},
};

TEST(ResolveUriReference, GivesTheTargetOfEveryReference) {
    for (const Case& c : kCases)
        EXPECT_EQ(ResolveUriReference(c.base, c.reference), c.expected)
            << c.base << " + " << c.reference;
}

}  // namespace
