// OPML subscription lists: the shapes other programs write, the files that must change nothing,
// the way out and back in, and the registry's import through the add field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/opml.h"
#include "tests/app/feed_monitor_fixture.h"

namespace app {
namespace {

using Feeds = std::vector<std::string>;

TEST(OpmlTest, TheFeedsOfRealWorldShapesAreReadInOrder) {
    struct Case {
        std::string name, document;
        Feeds expected;
    };
    const std::vector<Case> cases = {
        {"flat 2.0",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\"><head><title>t</title>"
         "</head><body><outline type=\"rss\" text=\"a\" xmlUrl=\"http://a.example/rss\"/>"
         "<outline type=\"rss\" text=\"b\" xmlUrl=\"https://b.example/feed\"/></body></opml>",
         {"http://a.example/rss", "https://b.example/feed"}},
        {"nested categories, no type, other attribute cases and quotes",
         "<opml version='1.0'>\n<body>\n <outline text='News'>\n  <outline title='x' "
         "xmlURL='http://x.example/1'/>\n  <outline text='Deeper'><outline xmlurl = "
         "\"http://x.example/2\" ></outline></outline>\n </outline>\n <outline "
         "xmlUrl=\"http://x.example/3\"/>\n</body>\n</opml>",
         {"http://x.example/1", "http://x.example/2", "http://x.example/3"}},
        {"entities, blanks around the address, one feed twice",
         "<opml><body><outline text=\"Tom &amp; Jerry\" xmlUrl=\" http://e.example/?a=1&amp;b=2 "
         "\"/>"
         "<outline xmlUrl=\"http://e.example/&#x26;&#38;&quot;&apos;&lt;&gt;\"/>"
         "<outline xmlUrl=\"http://e.example/?a=1&amp;b=2\"/></body></opml>",
         {"http://e.example/?a=1&b=2", "http://e.example/&&\"'<>"}},
        {"comments, CDATA, a document type and a stylesheet hold no feeds",
         "<?xml version=\"1.0\"?><?xml-stylesheet href=\"s.xsl\"?><!DOCTYPE opml [<!ENTITY e "
         "\"x\">]><opml><head><!-- <outline xmlUrl=\"http://no.example/1\"/> --></head><body>"
         "<outline text=\"]]>\" xmlUrl=\"http://yes.example/\"/>"
         "<![CDATA[<outline xmlUrl=\"http://no.example/2\"/>]]></body></opml>",
         {"http://yes.example/"}},
        {"code page 1252 as declared",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><opml><body><outline "
         "xmlUrl=\"http://m\xfc"
         "nchen.example/\x80.xml\"/></body></opml>",
         {"http://m\xc3\xbc"
          "nchen.example/\xe2\x82\xac.xml"}},
        {"a byte-order mark before UTF-8",
         "\xEF\xBB\xBF<opml><body><outline xmlUrl=\"http://caf\xc3\xa9.example/\"/></body></opml>",
         {"http://caf\xc3\xa9.example/"}},
        {"addresses that would break the list's lines, and empty ones, are passed over",
         "<opml><body><outline xmlUrl=\"http://a.example/&#10;2\"/><outline xmlUrl=\"\"/>"
         "<outline xmlUrl=\"http://a.example/\x01\"/><outline text=\"no address\"/>"
         "<outline xmlUrl=\"http://kept.example/\"/></body></opml>",
         {"http://kept.example/"}},
    };
    for (const Case& test : cases) {
        const OpmlFeeds read = ReadOpml(test.document);
        EXPECT_EQ(read.problem, OpmlProblem::None) << test.name << " at line " << read.line;
        EXPECT_EQ(read.feeds, test.expected) << test.name;
    }
    // Declared Latin-1 takes every byte as a character of its own, even where UTF-8 would fit.
    EXPECT_EQ(ReadOpml("<?xml version='1.0' encoding='ISO-8859-1'?><opml><body><outline "
                       "xmlUrl='http://\xc3\xa9/'/></body></opml>")
                  .feeds,
              Feeds{"http://\xc3\x83\xc2\xa9/"});
}

TEST(OpmlTest, AFileThatIsNoWellFormedOpmlGivesItsProblemAndNoFeeds) {
    struct Case {
        std::string document;
        OpmlProblem problem;
        std::size_t line;
    };
    const std::string feed = "<outline xmlUrl=\"http://a.example/\"/>";
    std::string tooDeep = "<opml>";
    for (int i = 0; i < 100; ++i)
        tooDeep += "<outline>";
    const std::vector<Case> cases = {
        {"<opml><body>" + feed + "\n<outline xmlUrl=\"http://b.example/\">\n</body></opml>",
         OpmlProblem::Malformed, 3},
        {"<opml><body>" + feed + "</body>", OpmlProblem::Malformed, 1},  // cut short
        {"<opml><body>" + feed + "</body></opml><opml/>", OpmlProblem::Malformed, 1},
        {"<opml><body><outline xmlUrl=http://a.example/ /></body></opml>", OpmlProblem::Malformed,
         1},
        {"<opml><body><outline xmlUrl=\"http://a.example/></body></opml>", OpmlProblem::Malformed,
         1},
        {"<opml><body><outline xmlUrl=\"a\"text=\"b\"/></body></opml>", OpmlProblem::Malformed, 1},
        {"<opml>\n<!-- never closed " + feed + "</opml>", OpmlProblem::Malformed, 2},
        {"", OpmlProblem::Malformed, 1},
        {"just text", OpmlProblem::Malformed, 1},
        {tooDeep, OpmlProblem::Malformed, 1},
        {"<rss><channel><item/></channel></rss>", OpmlProblem::NotOpml, 1},
        {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><opml/>", OpmlProblem::UnsupportedEncoding,
         0},
        {std::string("\xFF\xFE<\0o\0p\0m\0l\0/\0>\0", 16), OpmlProblem::UnsupportedEncoding, 0},
        {std::string(kMaxOpmlBytes + 1, ' '), OpmlProblem::TooLarge, 0},
    };
    for (const Case& test : cases) {
        const OpmlFeeds read = ReadOpml(test.document);
        EXPECT_EQ(read.problem, test.problem) << test.document.substr(0, 80);
        EXPECT_EQ(read.line, test.line) << test.document.substr(0, 80);
        EXPECT_TRUE(read.feeds.empty()) << test.document.substr(0, 80);
    }
}

TEST(OpmlTest, AWrittenListReadsBackAsTheSameFeeds) {
    const Feeds feeds = {"http://a.example/rss?x=1&y=<2>", "https://b.example/\"quoted\"'",
                         "http://m\xc3\xbcnchen.example/"};
    const std::string document = WriteOpml(feeds, "Tom & Jerry's <feeds>");
    EXPECT_TRUE(document.starts_with(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n  <head>\n"
        "    <title>Tom &amp; Jerry's &lt;feeds&gt;</title>\n  </head>\n  <body>\n"
        "    <outline type=\"rss\" text=\"http://a.example/rss?x=1&amp;y=&lt;2&gt;\" "
        "xmlUrl=\"http://a.example/rss?x=1&amp;y=&lt;2&gt;\"/>\n"))
        << document;
    EXPECT_TRUE(document.ends_with("  </body>\n</opml>\n")) << document;
    EXPECT_EQ(ReadOpml(document).feeds, feeds);
    // An address of an older list in code page 1252 goes out and comes back as UTF-8.
    EXPECT_EQ(ReadOpml(WriteOpml({"http://caf\xe9.example/"}, "t")).feeds,
              Feeds{"http://caf\xc3\xa9.example/"});
    EXPECT_EQ(ReadOpml(WriteOpml({}, "t")).problem, OpmlProblem::None);
}

class OpmlImportTest : public testing::FeedMonitorTest {
  protected:
    std::string WriteOpmlFile(const std::string& document) const {
        const std::string path = programDir_ + "subscriptions.opml";
        std::ofstream(path, std::ios::binary) << document;
        return path;
    }
};

TEST_F(OpmlImportTest, TheAddFieldTakesAnOpmlPathAsAnImportOfTheFeedsTheListLacks) {
    monitor_->AddEntry("http://b.example/");
    const std::string path = WriteOpmlFile(
        "<opml><body><outline xmlUrl=\"http://a.example/\"/><outline xmlUrl=\"http://b.example/\"/>"
        "<outline xmlUrl=\"http://c.example/\"/></body></opml>");
    monitor_->InEnglish();
    view_.newFeedText = path;
    monitor_->Button1Click();
    EXPECT_EQ(Urls(), (Feeds{"http://b.example/", "http://a.example/", "http://c.example/"}));
    ExpectRowsMatchRegistry();
    EXPECT_EQ(view_.newFeedText, "");
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    EXPECT_EQ(app_.ShownBoxes()[0].text, "New feeds taken from " + path + ": 2.");
    EXPECT_EQ(app_.ShownBoxes()[0].caption, "OPML import");

    // A malformed file changes nothing and says so; the path stays in the field to be mended.
    monitor_->InDeutsch();
    WriteOpmlFile("<opml><body><outline xmlUrl=\"http://d.example/\">\n</body></opml>");
    view_.newFeedText = "file://" + path;
    monitor_->Button1Click();
    EXPECT_EQ(Urls().size(), 3u);
    EXPECT_EQ(view_.newFeedText, "file://" + path);
    EXPECT_EQ(app_.ShownBoxes().back().text,
              path +
                  " ist keine gültige OPML-Datei (Fehler in Zeile 2); die Liste bleibt "
                  "unverändert.");
    EXPECT_EQ(
        monitor_->ImportOpml(programDir_ + "missing.opml").error,
        programDir_ + "missing.opml kann nicht gelesen werden; die Liste bleibt unverändert.");

    // An address that merely ends in .opml is a feed.
    view_.newFeedText = "http://e.example/list.opml";
    monitor_->Button1Click();
    EXPECT_EQ(Urls().back(), "http://e.example/list.opml");
    EXPECT_EQ(monitor_->ExportOpml(), WriteOpml(Urls(), "TOVEKA Vozuvor Ezirezodoz"));
}

}  // namespace
}  // namespace app
