// Reads a 50 MB feed holding 50,000 dated items and prints how long the reading takes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "app/feed_items.h"

namespace {

constexpr std::size_t kDocumentBytes = 50u * 1024 * 1024;
constexpr int kItems = 50000;
constexpr int kRuns = 5;

// A date per item, one day apart, in the RSS form.
std::string DateOf(int day) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(text, sizeof text, "Mon, %02d %s %d 10:%02d:00 +0200", day % 28 + 1,
                  kMonths[day / 28 % 12], 1900 + day / (28 * 12), day % 60);
    return text;
}

// Items of equal size, newest first with their dates, identities and titles, with an enclosure
// whose url comes last, as many feeds write it, between descriptions full of markup and
// references.
std::string BuildFeed() {
    std::string feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel>";
    const std::size_t itemBytes = kDocumentBytes / kItems;
    for (int i = 0; i < kItems; ++i) {
        std::string n = std::to_string(i);
        std::string head = "<item><title>Episode " + n + ": enclosures &amp; more</title>" +
                           "<guid isPermaLink=\"false\">show-" + n + "</guid><pubDate>" +
                           DateOf(kItems - i) + "</pubDate><description>";
        std::string tail =
            "</description><enclosure length=\"48213\" type=\"audio/mpeg\" "
            "url=\"https://cdn.example.com/show/episode-" +
            n + ".mp3?source=rss&amp;id=" + n + "\"/></item>";
        std::string text;
        while (head.size() + text.size() + tail.size() < itemBytes)
            text += "A talk &amp; more <b>about</b> enclosures, urls and =\"quotes\". ";
        text.resize(itemBytes - head.size() - tail.size());
        feed += head + text + tail;
    }
    return feed + "</channel></rss>";
}

}  // namespace

int main() {
    const std::string feed = BuildFeed();
    double best = 1e9;
    std::size_t found = 0;
    std::string newest;
    for (int run = 0; run < kRuns; ++run) {
        auto start = std::chrono::steady_clock::now();
        app::FeedItems read = app::ReadFeedItems(feed, "https://example.com/show/feed.xml");
        const std::vector<std::size_t> order = app::NewestFirst(read.items);
        std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
        found = read.items.size();
        newest = order.empty() ? "" : read.items[order.front()].enclosureUrl;
    }
    std::printf("document: %.1f MB, items read: %zu (expected %d)\n",
                feed.size() / (1024.0 * 1024.0), found, kItems);
    std::printf("newest episode: %s\n", newest.c_str());
    std::printf("read time: %.1f ms (best of %d), %.2f GB/s\n", best, kRuns,
                feed.size() / 1e9 / (best / 1000.0));
    // The first item carries the latest date.
    return found == static_cast<std::size_t>(kItems) && newest.find("episode-0.mp3") != newest.npos
               ? 0
               : 1;
}
