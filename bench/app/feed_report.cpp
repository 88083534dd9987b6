// Reads feed files as the scan would and prints, per file, how many items it offers and its
// newest episode: a check of the reader against real feeds.
//
//     feed_report [--base URL] FILE...
//
// Prints one line per file: the file, the number of items, then the newest item's title, date
// (UTC) and enclosure URL, separated by tabs. URL is the feed's address that relative enclosure
// URLs are resolved against (none by default).
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/feed_items.h"

namespace {

std::string DateText(const std::optional<std::int64_t>& date) {
    if (!date) return "-";
    const std::time_t seconds = static_cast<std::time_t>(*date);
    std::tm utc{};
    char text[32];
    if (!gmtime_r(&seconds, &utc) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc))
        return "?";
    return text;
}

// text on one line of the report.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--base URL] FILE...\n", argv[0]);
        return 2;
    }
    std::string base;
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--base" && i + 1 < argc) {
            base = argv[++i];
            continue;
        }
        std::ifstream file(argv[i], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "%s: cannot be read\n", argv[i]);
            status = 1;
            continue;
        }
        const std::string document{std::istreambuf_iterator<char>(file), {}};
        const app::FeedItems read = app::ReadFeedItems(document, base);
        const std::vector<std::size_t> order = app::NewestFirst(read.items);
        std::printf("%s\t%zu", argv[i], read.items.size());
        if (!order.empty()) {
            const app::FeedItem& newest = read.items[order.front()];
            std::printf("\t%s\t%s\t%s", OneLine(newest.title).c_str(),
                        DateText(newest.date).c_str(), newest.enclosureUrl.c_str());
        }
        std::printf("\n");
    }
    return status;
}
