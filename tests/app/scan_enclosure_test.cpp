#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/enclosure_scan.h"

namespace app {
namespace {

using Urls = std::vector<std::string>;

Urls FindEnclosureUrls(std::string_view document) {
    return FindEnclosures(document).urls;
}

// The newest episode's url.
std::string Newest(std::string_view document) {
    FeedEnclosures found = FindEnclosures(document);
    return found.urls.empty() ? "<none>" : found.urls.at(found.newest);
}

std::string Item(const std::string& name, const std::string& date) {
    return "<item><title>" + name + "</title>" +
           (date.empty() ? "" : "<pubDate>" + date + "</pubDate>") + "<enclosure url=\"http://h/" +
           name + ".mp3\"/></item>";
}

TEST(FindEnclosureUrls, FindsEveryEnclosureInDocumentOrder) {
    std::string feed =
        "<rss><channel>"
        "<item><enclosure url=\"http://h/1.mp3\" length=\"1\" type=\"audio/mpeg\"/></item>"
        "<item><enclosure url=\"http://h/2.mp3\" length=\"2\" type=\"audio/mpeg\"/></item>"
        "<item><enclosure url=\"http://h/3.mp3\" length=\"3\" type=\"audio/mpeg\"/></item>"
        "</channel></rss>";
    EXPECT_EQ(FindEnclosureUrls(feed),
              (Urls{"http://h/1.mp3", "http://h/2.mp3", "http://h/3.mp3"}));
    EXPECT_EQ(FindEnclosureUrls("<rss><item><title>none</title></item></rss>"), Urls{});
    EXPECT_EQ(FindEnclosureUrls(""), Urls{});
}

TEST(FindEnclosureUrls, TakesTheUrlAttributeWhereverItStands) {
    std::string feed =
        "<enclosure length=\"12\" type=\"audio/mpeg\" url=\"http://h/a.mp3\"/>"
        "<enclosure url='http://h/b.mp3' />"
        "<enclosure\n\turl = \"http://h/c.mp3\">"
        "<enclosure type=\"audio/mpeg\" length=\"1\"/>"  // no url: nothing
        "<enclosure data-url=\"http://h/no1\" url=\"http://h/d.mp3\">"
        "<enclosure title=\"a > b\" url=\"http://h/e.mp3\" url=\"http://h/no2\">"
        "<enclosure type='it\"s' url=\"http://h/f.mp3\">"
        "<enclosures url=\"http://h/no3\"/><enclosure/><enclosureurl=\"http://h/no4\">"
        "<Enclosure url=\"http://h/no5\"/><enclosure URL=\"http://h/no6\"/>";
    EXPECT_EQ(FindEnclosureUrls(feed),
              (Urls{"http://h/a.mp3", "http://h/b.mp3", "http://h/c.mp3", "http://h/d.mp3",
                    "http://h/e.mp3", "http://h/f.mp3"}));
}

TEST(FindEnclosureUrls, CopesWithBrokenMarkup) {
    // An unquoted value is passed over; a tag that never closes gives way to the next one.
    EXPECT_EQ(FindEnclosureUrls("<enclosure url=http://h/x.mp3 type=\"a\">"), Urls{});
    EXPECT_EQ(FindEnclosureUrls("<enclosure type=\"a\" <enclosure url=\"http://h/y.mp3\">"),
              Urls{"http://h/y.mp3"});
    // A value whose closing quote is missing, as in a document cut short, is the empty string.
    EXPECT_EQ(FindEnclosureUrls("<enclosure url=\"http://h/1\"/><enclosure url=\"http://h/2"),
              (Urls{"http://h/1", ""}));
    EXPECT_EQ(FindEnclosureUrls("<enclosure url="), Urls{});
    EXPECT_EQ(FindEnclosureUrls("<enclosure "), Urls{});
}

TEST(FindEnclosureUrls, TextInCommentsAndCDataIsNoMarkup) {
    EXPECT_EQ(FindEnclosureUrls("<item><description><![CDATA[<enclosure url=\"http://h/no1\"/> "
                                "]]> <enclosure url=\"http://h/no2\"/>]]></description>"
                                "<enclosure url=\"http://h/yes.mp3\"/></item>"
                                "<!-- <enclosure url=\"http://h/no3\"/> -->"
                                "<![CDATA[ <enclosure url=\"http://h/no4\"/>"),
              (Urls{"http://h/no2", "http://h/yes.mp3"}));
    EXPECT_EQ(FindEnclosureUrls("<!-- <enclosure url=\"http://h/no\"/>"), Urls{});
}

TEST(FindEnclosures, TheNewestEpisodeIsTheLatestDatedItem) {
    const std::string mon = "Mon, 09 Jun 2003 04:00:00 GMT";
    const std::string tue = "Tue, 10 Jun 2003 04:00:00 GMT";
    const std::string wed = "Wed, 11 Jun 03 06:00:00 +0200";
    struct Case {
        std::string feed;
        std::string newest;
    };
    const Case cases[] = {
        {"<rss><channel>" + Item("c", wed) + Item("b", tue) + Item("a", mon) + "</channel></rss>",
         "http://h/c.mp3"},
        {Item("a", mon) + Item("c", wed) + Item("b", tue), "http://h/c.mp3"},
        // Equal dates: the later in the document.
        {Item("x", tue) + Item("y", tue), "http://h/y.mp3"},
        // One item without a date, or with one that does not parse: the last in document order.
        {Item("c", wed) + Item("b", "") + Item("a", mon), "http://h/a.mp3"},
        {Item("c", wed) + Item("b", "yesterday") + Item("a", mon), "http://h/a.mp3"},
        // An enclosure outside any item: the last in document order.
        {Item("c", wed) + "<enclosure url=\"http://h/loose.mp3\"/>" + Item("a", mon),
         "http://h/a.mp3"},
        // Items without an enclosure have no say; the date may follow the enclosure; an item's
        // last enclosure stands for it; the channel's own date is no item's.
        {"<channel><pubDate>" + wed + "</pubDate><item><pubDate>" + wed +
             "</pubDate></item><item id=\"1\"><enclosure url=\"http://h/t1\"/>"
             "<enclosure url=\"http://h/t2\"/><pubDate>" +
             tue + "</pubDate></item>" + Item("a", mon),
         "http://h/t2"},
        // A date in a comment is no date.
        {"<item><!-- <pubDate>" + wed + "</pubDate> --><enclosure url=\"http://h/b\"/></item>" +
             Item("a", mon),
         "http://h/a.mp3"},
        // An item left open ends where the next begins, or with the document.
        {"<item><pubDate>" + wed + "</pubDate><enclosure url=\"http://h/open\"/>" + Item("a", mon) +
             "<item><enclosure url=\"http://h/cut\"/><pubDate>" + tue,
         "http://h/open"},
        {"", "<none>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Newest(c.feed), c.newest) << c.feed;
}

TEST(FindEnclosureUrls, DecodesXmlReferences) {
    EXPECT_EQ(FindEnclosureUrls("<enclosure url=\"http://h/e.mp3?a=1&amp;b=2&#38;c=&#x33;\"/>"),
              Urls{"http://h/e.mp3?a=1&b=2&c=3"});
    EXPECT_EQ(DecodeXmlReferences("&lt;&gt;&quot;&apos;&amp;amp;&#233;&#X20AC;"),
              "<>\"'&amp;\xC3\xA9\xE2\x82\xAC");
    // What is no reference stays as written.
    EXPECT_EQ(DecodeXmlReferences("a & b &nbsp; &#0; &#xD800; &#x110000; &#; &#12a; &amp"),
              "a & b &nbsp; &#0; &#xD800; &#x110000; &#; &#12a; &amp");
    EXPECT_EQ(DecodeXmlReferences("&&amp;;"), "&&;");
}

TEST(EnclosureFileName, IsTheTextAfterTheLastSlash) {
    EXPECT_EQ(EnclosureFileName("http://h/p/ep.mp3?id=5"), "ep.mp3?id=5");
    EXPECT_EQ(EnclosureFileName("http://h/p/ep.mp3?next=a/b"), "b");
    EXPECT_EQ(EnclosureFileName("ep.mp3"), "ep.mp3");
    EXPECT_EQ(EnclosureFileName("http://h/dir/"), "");
}

TEST(IsSafeFileName, RejectsNamesThatAreNoPlainFileName) {
    EXPECT_TRUE(IsSafeFileName("ep.mp3?id=5"));
    EXPECT_TRUE(IsSafeFileName("..."));
    EXPECT_TRUE(IsSafeFileName("caf\xC3\xA9.mp3"));
    EXPECT_TRUE(IsSafeFileName(std::string(255, 'a')));
    EXPECT_FALSE(IsSafeFileName(std::string(256, 'a')));
    EXPECT_FALSE(IsSafeFileName(""));
    EXPECT_FALSE(IsSafeFileName("."));
    EXPECT_FALSE(IsSafeFileName(".."));
    EXPECT_FALSE(IsSafeFileName("a\nb.mp3"));
    EXPECT_FALSE(IsSafeFileName(std::string("a\0b", 3)));
    EXPECT_FALSE(IsSafeFileName("a\x7F"));
}

}  // namespace
}  // namespace app
