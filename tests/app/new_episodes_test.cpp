#include "app/new_episodes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/episode_file_name.h"

namespace app {
namespace {

FeedItem Item(std::string guid, std::string title, std::int64_t date, std::string url,
              std::string type = "audio/mpeg") {
    return FeedItem{std::move(guid), std::move(title), date, std::move(url), std::move(type)};
}

TEST(EpisodeFileName, IsReadableAndSafe) {
    struct Case {
        FeedItem item;
        bool shared;
        std::string expected;
    };
    const Case cases[] = {
        {Item("", "T", 1, "http://h/show/ep3_final_96.mp3?dest-id=814653"), false,
         "ep3_final_96.mp3"},
        {Item("", "T", 1, "http://h/a/Folge%2012%20-%20Gr%C3%BCn.mp3#t=5"), false,
         "Folge 12 - Gr\xC3\xBCn.mp3"},
        // Generic, numbered or shared names give way to the title.
        {Item("", "Ep 2: The Return", 1, "http://h/2/media.mp3"), false, "Ep 2: The Return.mp3"},
        {Item("", "Talk", 1, "http://h/stream?id=5", "audio/x-m4a"), false, "Talk.m4a"},
        {Item("", "Talk", 1, "http://h/e/48213.mp3"), false, "Talk.mp3"},
        {Item("", "Talk", 1, "http://h/e/5f3a9c0e-1b2d-4c3a.ogg"), false, "Talk.ogg"},
        {Item("", "Talk", 1, "http://h/e/2024-05-01.mp3"), false, "2024-05-01.mp3"},
        {Item("", "Talk", 1, "http://h/aHR0cHM6Ly9jZG4uZXhhbXBsZS9lcC5tcDM.mp3"), false, "Talk.mp3"},
        {Item("", "Talk", 1, "http://h/e/show.mp3"), true, "Talk.mp3"},
        // A decoded slash or control byte is no name; a title is made safe.
        {Item("", "a/b\tc", 1, "http://h/x%2Fy.mp3"), false, "a b c.mp3"},
        {Item("", "...hidden", 1, "http://h/media.mp3"), false, "hidden.mp3"},
        {Item("", "", 1, "http://h/x%2Fy.mp3"), false, "episode"},
        {Item("", "", 1, "http://h/media.mp3"), false, "media.mp3"},
    };
    for (const Case& c : cases) {
        const std::string name = EpisodeFileName(c.item, c.shared);
        EXPECT_EQ(name, c.expected) << c.item.enclosureUrl;
        EXPECT_TRUE(IsSafeFileName(name)) << name;
    }
    for (const std::string& unsafe : {std::string(256, 'a'), std::string(), std::string("."),
                                      std::string(".."), std::string("a\nb"), std::string("a\0b", 3),
                                      std::string("a\x7F"), std::string("a/b")})
        EXPECT_FALSE(IsSafeFileName(unsafe)) << unsafe;
    EXPECT_TRUE(IsSafeFileName(std::string(255, 'a')));
    EXPECT_TRUE(IsSafeFileName("..."));
    const std::string longTitle(400, 'x');
    const std::string longName = EpisodeFileName(Item("", longTitle, 1, "http://h/media.mp3"), false);
    EXPECT_LE(longName.size(), 205u);
    const std::set<std::string> used = {"Talk.mp3", "Talk (2).mp3"};
    const auto taken = [&](const std::string& n) { return used.count(n) > 0; };
    EXPECT_EQ(UnusedFileName("Talk.mp3", taken), "Talk (3).mp3");
    EXPECT_EQ(UnusedFileName("Other.mp3", taken), "Other.mp3");
    EXPECT_LE(UnusedFileName(std::string(255, 'a'), [](const std::string& n) {
                  return n.size() == 255;
              }).size(),
              255u);
}

// A feed whose host names every episode media.mp3, newest first in the document.
FeedItems SharedNameFeed(int episodes) {
    FeedItems feed;
    for (int n = episodes; n >= 1; --n)
        feed.items.push_back(Item("guid-" + std::to_string(n), "Ep " + std::to_string(n), n * 1000,
                                  "http://h/" + std::to_string(n) + "/media.mp3?src=rss"));
    return feed;
}

EpisodeRecord Downloaded(std::string identity, std::string name) {
    return {std::move(identity), EpisodeFate::Downloaded, std::move(name), {}, 0};
}

TEST(PlanEpisodes, TakesEveryNewEpisodeOnceNewestFirst) {
    struct Case {
        const char* what;
        FeedItems feed;
        std::optional<FeedHistory> history;  // nullopt: no history to use
        std::set<std::string> inFolder;
        std::size_t cap;
        std::vector<std::string> downloads;
        std::size_t recorded;
        std::size_t pending;
    };
    FeedHistory afterFirst{true, {{"guid-1", Downloaded("guid-1", "Ep 1.mp3")}}, {}};
    FeedHistory allRecorded = afterFirst;
    allRecorded.episodes["guid-2"] = Downloaded("guid-2", "Ep 2.mp3");
    FeedHistory noGuids{true, {{"http://h/e/a.mp3", Downloaded("http://h/e/a.mp3", "a.mp3")}}, {}};
    FeedItems tracked;
    tracked.items.push_back(Item("", "A", 1, "http://h/e/a.mp3?session=9"));
    FeedItems oldNames;
    oldNames.items.push_back(Item("", "B", 1, "http://h/e/b.mp3?id=7"));
    const Case cases[] = {
        {"first sight: only the newest", SharedNameFeed(3), FeedHistory{}, {}, 10, {"Ep 3.mp3"}, 2,
         0},
        {"no history: the newest when missing", SharedNameFeed(3), std::nullopt, {}, 10,
         {"Ep 3.mp3"}, 0, 0},
        {"no history, file there", SharedNameFeed(3), std::nullopt, {"Ep 3.mp3"}, 10, {}, 0, 0},
        {"the second media.mp3 episode", SharedNameFeed(2), afterFirst, {"Ep 1.mp3"}, 10,
         {"Ep 2.mp3"}, 0, 0},
        {"a deleted episode stays gone", SharedNameFeed(2), allRecorded, {}, 10, {}, 0, 0},
        {"two new in one run", SharedNameFeed(3), afterFirst, {}, 10, {"Ep 3.mp3", "Ep 2.mp3"}, 0,
         0},
        {"the cap", SharedNameFeed(13), afterFirst, {}, 10,
         {"Ep 13.mp3", "Ep 12.mp3", "Ep 11.mp3", "Ep 10.mp3", "Ep 9.mp3", "Ep 8.mp3", "Ep 7.mp3",
          "Ep 6.mp3", "Ep 5.mp3", "Ep 4.mp3"},
         0, 2},
        {"a file there is recorded, not fetched", SharedNameFeed(2), afterFirst, {"Ep 2.mp3"}, 10,
         {}, 1, 0},
        {"a changing tracking query", tracked, noGuids, {}, 10, {}, 0, 0},
        {"the old program's name", oldNames, FeedHistory{}, {"b.mp3?id=7"}, 10, {}, 1, 0},
    };
    for (const Case& c : cases) {
        const DownloadFolderView folder{
            [&](const std::string& name) { return c.inFolder.count(name) > 0; },
            [](const std::string&) { return std::optional<std::string>(); }};
        const EpisodePlan plan =
            PlanEpisodes(c.feed, c.history ? &*c.history : nullptr, folder, c.cap);
        std::vector<std::string> names;
        for (const NewEpisode& episode : plan.downloads)
            names.push_back(episode.fileName);
        EXPECT_EQ(names, c.downloads) << c.what;
        EXPECT_EQ(plan.recorded.size(), c.recorded) << c.what;
        EXPECT_EQ(plan.waiting.size(), c.pending) << c.what;
    }
}

TEST(PlanEpisodes, NeverGivesTwoEpisodesOneName) {
    FeedItems feed;
    feed.items = {Item("a", "Same", 3, "http://h/1/media.mp3"),
                  Item("b", "Same", 2, "http://h/2/media.mp3"),
                  Item("c", "Other", 1, "http://h/3/taken.mp3")};
    FeedHistory history{true, {}, {}};
    const DownloadFolderView folder{
        [](const std::string& name) { return name == "taken.mp3"; },
        [](const std::string& name) {  // another feed's episode
            return name == "taken.mp3" ? std::optional<std::string>("elsewhere") : std::nullopt;
        }};
    const EpisodePlan plan = PlanEpisodes(feed, &history, folder, 10);
    ASSERT_EQ(plan.downloads.size(), 3u);
    EXPECT_EQ(plan.downloads[0].fileName, "Same.mp3");
    EXPECT_EQ(plan.downloads[1].fileName, "Same (2).mp3");
    EXPECT_EQ(plan.downloads[2].fileName, "taken (2).mp3");
    EXPECT_EQ(plan.newestTitle, "Same");
}

}  // namespace
}  // namespace app
