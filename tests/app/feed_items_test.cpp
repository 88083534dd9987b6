#include "app/feed_items.h"
#include "app/xml_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace app {
namespace {

using Texts = std::vector<std::string>;

constexpr const char* kFeedUrl = "https://h/shows/feed.xml";
// 2003-06-10 04:00:00 UTC, written three ways.
const std::string kTue = "Tue, 10 Jun 2003 04:00:00 GMT";
const std::string kTueIso = "2003-06-10T06:00:00+02:00";
const std::string kTueCest = "Tue, 10 Jun 2003 06:00:00 CEST";
const std::string kJune10 = "1055217600";
const std::string kJune11 = "1055304000";  // a day later

// An item as "guid|title|date|type|url".
std::string Shown(const FeedItem& item) {
    return item.guid + "|" + item.title + "|" + (item.date ? std::to_string(*item.date) : "-") +
           "|" + item.enclosureType + "|" + item.enclosureUrl;
}

// An RSS item offering url as its one enclosure.
std::string Item(const std::string& url) {
    return "<item><enclosure url=\"" + url + "\"/></item>";
}

TEST(ReadFeedItems, ReadsEveryEpisodeOfTheDocument) {
    struct Case {
        const char* what;
        std::string document;
        Texts items;
        Texts urls;  // every enclosure URL; empty: those of the items
        std::string feedUrl = kFeedUrl;
    };
    const Case cases[] = {
        {"RSS items; the channel's own title, date and enclosure are none of theirs",
         "<rss><channel><title>Show</title><pubDate>" + kTue +
             "</pubDate><enclosure url=\"http://h/trailer.mp3\"/>"
             "<item><title>One</title><guid isPermaLink=\"false\">g1</guid><pubDate>" +
             kTue +
             "</pubDate><enclosure url=\"http://h/1.mp3\" length=\"1\" type=\"audio/mpeg\"/></item>"
             "<item><title>No file</title></item>"
             "<item><title>Two</title><enclosure type=\"audio/mpeg\" url=\"http://h/2.mp3\"/>"
             "</item></channel></rss>",
         {"g1|One|" + kJune10 + "|audio/mpeg|http://h/1.mp3", "|Two|-|audio/mpeg|http://h/2.mp3"},
         {}},
        {"the url attribute wherever it stands, in either quote",
         "<item><enclosure\n\turl = 'http://h/a.mp3' /></item>"
         "<item><enclosure data-url=\"http://h/no1\" url=\"http://h/b.mp3\" url=\"http://h/no2\">"
         "</item><item><enclosure title=\"a > b\" type='it\"s' url=\"http://h/c.mp3\"></item>"
         "<item><enclosures url=\"http://h/no3\"/><enclosureurl=\"http://h/no4\"/>"
         "<Enclosure url=\"http://h/no5\"/><enclosure URL=\"http://h/no6\"/><enclosure/></item>",
         {"||-||http://h/a.mp3", "||-||http://h/b.mp3", "||-|it\"s|http://h/c.mp3"},
         {}},
        {"broken markup: unquoted values, tags and items left open, a document cut short",
         "<item><enclosure url=http://h/x.mp3 type=\"a\"></item>"
         "<item><title>Open<enclosure type=\"a\" <enclosure url=\"http://h/y.mp3\">"
         "<item><enclosure url=\"http://h/z.mp3\"/><title>Cut</title><enclosure url=\"http://h/",
         {"|Open|-||http://h/y.mp3", "|Cut|-||http://h/z.mp3"},
         {}},
        {"comments and CDATA sections are text, but the CDATA of a title is the title",
         "<item><title><![CDATA[A <b>&amp;</b>]]><!-- x --> &amp; B</title><description>"
         "<![CDATA[<enclosure url=\"http://h/no1\"/>]]> <!-- <item> -->"
         "</description><enclosure url=\"http://h/1.mp3\"/></item>"
         "<!-- <item><enclosure url=\"http://h/no2\"/></item> -->"
         "<![CDATA[ <item><enclosure url=\"http://h/no3\"/></item>",
         {"|A <b>&amp;</b> & B|-||http://h/1.mp3"},
         {}},
        {"references decoded and blanks trimmed in texts and attributes",
         "<item><guid>\n  tag:h,2003:&#49;  </guid><title> caf&#xE9; &lt;1&gt; </title>"
         "<enclosure type=\" audio/mpeg&#32;\" url=\"http://h/e.mp3?a=1&amp;b=2&#38;c=&#x33;\"/>"
         "</item>",
         {"tag:h,2003:1|caf\xC3\xA9 <1>|-|audio/mpeg|http://h/e.mp3?a=1&b=2&c=3"},
         {}},
        {"a live item and all it holds is no episode",
         "<podcast:liveItem status=\"live\"><title>Live</title><item><enclosure "
         "url=\"http://h/in-live.mp3\"/></item><enclosure url=\"http://h/live.m3u8\"/>"
         "</podcast:liveItem><podcast:liveItem status=\"pending\"/>" +
             Item("http://h/1.mp3"),
         {"||-||http://h/1.mp3"},
         {}},
        {"relative and blank-prefixed URLs are resolved against the feed's address",
         Item(" ep/1.mp3") + Item("\n\t/2.mp3 ") + Item("&#32;//cdn.h/3.mp3") + Item("../4.mp3") +
             Item("   "),
         {"||-||https://h/shows/ep/1.mp3", "||-||https://h/2.mp3", "||-||https://cdn.h/3.mp3",
          "||-||https://h/4.mp3"},
         {}},
        {"without the feed's address, relative URLs stay as they are",
         Item(" ep/1.mp3"),
         {"||-||ep/1.mp3"},
         {},
         ""},
        {"Atom entries: <id>, a link of rel enclosure, published before updated",
         "<feed><title>Show</title><link href=\"http://h/\"/><entry><id>urn:1</id>"
         "<title type=\"html\">A &amp;amp; B</title><updated>2003-06-11T04:00:00Z</updated>"
         "<published>" +
             kTueIso +
             "</published><link href=\"/page\"/><link rel=\"alternate\" href=\"/page2\"/>"
             "<link type='audio/x-m4a' href=\"/e/1.m4a\" rel = 'enclosure'/></entry>"
             "<entry><id>urn:2</id><updated>2003-06-11T04:00:00Z</updated>"
             "<link rel=\"enclosure\" href=\"e/2.mp3\"/></entry></feed>",
         {"urn:1|A &amp; B|" + kJune10 + "|audio/x-m4a|https://h/e/1.m4a",
          "urn:2||" + kJune11 + "||https://h/shows/e/2.mp3"},
         {}},
        {"the first date that reads: pubDate, dc:date, in any zone",
         "<item><pubDate>yesterday</pubDate><dc:date>" + kTueIso +
             "</dc:date><enclosure url=\"http://h/1\"/></item>"
             "<item><pubDate>" +
             kTueCest +
             "</pubDate><pubDate>Wed, 11 Jun 2003 04:00:00 GMT</pubDate>"
             "<enclosure url=\"http://h/2\"/></item>",
         {"||" + kJune10 + "||http://h/1", "||" + kJune10 + "||http://h/2"},
         {}},
        {"media:content only where no enclosure is, also in a group; audio or video first",
         "<item><media:content url=\"http://h/cover.jpg\" medium=\"image\"/>"
         "<media:group><media:content url=\"http://h/v720.mp4\" medium=\"video\"/>"
         "<media:content url=\"http://h/v1080.mp4\" type=\"video/mp4\"/></media:group></item>"
         "<item><media:content url=\"http://h/alt.mp4\" type=\"video/mp4\"/>"
         "<enclosure url=\"http://h/main.mp3\" type=\"audio/mpeg\"/></item>",
         {"||-||http://h/v720.mp4", "||-|audio/mpeg|http://h/main.mp3"},
         {"http://h/cover.jpg", "http://h/v720.mp4", "http://h/v1080.mp4", "http://h/main.mp3"}},
        {"of several enclosures the first of audio or video, else the first",
         "<item><enclosure url=\"http://h/c.jpg\" type=\"image/jpeg\"/>"
         "<enclosure url=\"http://h/t.txt\"/><enclosure url=\"http://h/e.m4a\" type=\"Audio/MP4\"/>"
         "<enclosure url=\"http://h/e.mp3\" type=\"audio/mpeg\"/></item>"
         "<item><enclosure url=\"http://h/a.pdf\" type=\"application/pdf\"/>"
         "<enclosure url=\"http://h/b.jpg\" type=\"image/jpeg\"/></item>",
         {"||-|Audio/MP4|http://h/e.m4a", "||-|application/pdf|http://h/a.pdf"},
         {"http://h/c.jpg", "http://h/t.txt", "http://h/e.m4a", "http://h/e.mp3", "http://h/a.pdf",
          "http://h/b.jpg"}},
        {"names that only begin like those read, and an empty item",
         "<items><itemize><item/><entryway><guidance>x</guidance><enclosure url=\"http://h/1\"/>"
         "<identity>x</identity></entryway></itemize></items>",
         {},
         {}},
        {"kept texts are bounded, a character is never cut, an endless URL is no enclosure",
         "<item><title>" + std::string(1023, 'a') + "\xC3\xA9</title><guid>" +
             std::string(5000, 'g') + "</guid>" + "<enclosure url=\"http://h/" +
             std::string(9000, 'x') + "\"/><enclosure url=\"http://h/1\"/></item>",
         {std::string(1024, 'g') + "|" + std::string(1023, 'a') + "|-||http://h/1"},
         {}},
    };
    for (const Case& c : cases) {
        const FeedItems found = ReadFeedItems(c.document, c.feedUrl);
        Texts items, urls;
        for (const FeedItem& item : found.items) {
            items.push_back(Shown(item));
            urls.push_back(item.enclosureUrl);
        }
        EXPECT_EQ(items, c.items) << c.what;
        EXPECT_EQ(found.enclosureUrls, c.urls.empty() ? urls : c.urls) << c.what;
    }
}

TEST(NewestFirst, OrdersDatedItemsByDateThenUndatedInDocumentOrder) {
    struct Case {
        std::vector<std::optional<std::int64_t>> dates;
        std::vector<std::size_t> order;
    };
    const Case cases[] = {
        {{30, 20, 10}, {0, 1, 2}},
        {{10, 30, 20}, {1, 2, 0}},
        {{20, 20, 10, 20}, {3, 1, 0, 2}},  // equal dates: the later in the document first
        {{std::nullopt, 10, std::nullopt, 30}, {3, 1, 0, 2}},
        {{std::nullopt, std::nullopt}, {0, 1}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        std::vector<FeedItem> items(c.dates.size());
        for (std::size_t i = 0; i < items.size(); ++i)
            items[i].date = c.dates[i];
        EXPECT_EQ(NewestFirst(items), c.order) << ::testing::PrintToString(c.order);
    }
}

TEST(DecodeXmlReferences, DecodesReferencesAndKeepsWhatIsNone) {
    EXPECT_EQ(DecodeXmlReferences("&lt;&gt;&quot;&apos;&amp;amp;&#233;&#X20AC;"),
              "<>\"'&amp;\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(DecodeXmlReferences("a & b &nbsp; &#0; &#xD800; &#x110000; &#; &#12a; &amp"),
              "a & b &nbsp; &#0; &#xD800; &#x110000; &#; &#12a; &amp");
    EXPECT_EQ(DecodeXmlReferences("&&amp;;"), "&&;");
}

}  // namespace
}  // namespace app
