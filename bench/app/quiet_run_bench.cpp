// What the episode history costs a scan that finds nothing new: 100 feeds of 100 dated items each
// (10 MB of documents, served from memory so that only the program's own work is timed), scanned
// once to learn them, then again and again with nothing new; the same again with the history
// unusable, so that the run goes by the files in the download folder alone, as it did before
// there was a history. Prints both and their difference.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "app/feed_monitor.h"
#include "bench/silent_view.h"
#include "platform/headless_application.h"

namespace {

constexpr int kFeeds = 100;
constexpr int kItems = 100;
constexpr int kRuns = 7;
constexpr std::size_t kDescriptionBytes = 800;

std::string FeedDocument(int feed) {
    std::string document = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Show " +
                           std::to_string(feed) + "</title>";
    const std::string description(kDescriptionBytes, 'd');
    for (int item = kItems; item >= 1; --item) {
        const std::string n = std::to_string(item);
        document += "<item><title>Episode " + n + "</title><guid isPermaLink=\"false\">show-" +
                    std::to_string(feed) + "-" + n + "</guid><pubDate>Mon, " +
                    std::to_string(item % 28 + 1) + " Jan " + std::to_string(1900 + item) +
                    " 10:00:00 +0000</pubDate><description>" + description +
                    "</description><enclosure type=\"audio/mpeg\" length=\"1\" "
                    "url=\"https://cdn.example.com/" +
                    std::to_string(feed) + "/episode-" + n + ".mp3?src=rss\"/></item>";
    }
    return document + "</channel></rss>";
}

// The best of kRuns scans, in milliseconds.
double BestScan(app::FeedMonitor& monitor) {
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        monitor.Button3Click();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace

int main() {
    platform::HeadlessApplication application;
    platform::SetApplication(&application);
    application.OnBoxShown = [](const platform::ShownBox&) {};  // the summaries, and the report
    std::string pattern = (std::filesystem::temp_directory_path() / "pd_quiet_XXXXXX").string();
    const std::filesystem::path root = mkdtemp(pattern.data());
    const std::string folder = (root / "Download").string() + "/";

    bench::SilentView view(folder);
    app::FeedMonitor monitor(view, root.string() + "/");
    monitor.ListFile = (root / "liste.pdl").string();
    std::map<std::string, std::string> documents;
    std::size_t bytes = 0;
    for (int feed = 0; feed < kFeeds; ++feed) {
        const std::string url = "https://feeds.example.com/" + std::to_string(feed);
        documents[url] = FeedDocument(feed);
        bytes += documents[url].size();
        monitor.AddEntry(url);
    }
    monitor.FetchFeed = [&](const std::string& url) { return documents.at(url); };
    int downloads = 0;
    monitor.DownloadEpisode = [&](const std::string&, const std::string& path) {
        std::ofstream(path) << "episode";
        ++downloads;
        return true;
    };

    monitor.Button3Click();  // the first sight of every feed
    const int learned = downloads;
    const double withHistory = BestScan(monitor);
    const int afterQuiet = downloads;

    const std::string history = monitor.ListFilePath() + ".history";
    std::filesystem::remove(history);
    std::filesystem::remove(history + "-wal");
    std::filesystem::remove(history + "-shm");
    std::ofstream(history) << "not a history";
    const double byFolder = BestScan(monitor);

    std::printf("feeds: %d of %d items, %.1f MB of documents\n", kFeeds, kItems, bytes / 1e6);
    std::printf("first run: %d downloads (one per feed); later runs: %d downloads\n", learned,
                downloads - learned);
    std::printf("nothing-new run with the history:  %.2f ms (best of %d)\n", withHistory, kRuns);
    std::printf("nothing-new run by the folder only: %.2f ms (best of %d)\n", byFolder, kRuns);
    std::printf("the history costs %.2f ms per run\n", withHistory - byFolder);
    std::filesystem::remove_all(root);
    return learned == kFeeds && afterQuiet == learned && downloads == learned ? 0 : 1;
}
