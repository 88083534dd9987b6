// The soak: the program's core, headless, runs consecutive scans against a chaos server whose
// feeds announce a new episode on every read and whose answers fail in every way a host can.
// Afterwards it checks that nothing was lost, kept half, or leaked, and prints the figures.
//
//     soak [SCANS (20)] [FEEDS (200)] [SEED]
//
// Exits 1 when a check fails (the folder is then kept for inspection), 0 otherwise.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/feed_fetch.h"
#include "app/feed_monitor.h"
#include "bench/silent_view.h"
#include "bench/soak/chaos_server.h"
#include "platform/headless_application.h"

namespace {

// How long the chaos server holds a stalled answer, and how long the feed fetch and the download
// wait for a byte before they give up.
constexpr int kStallMs = 1500;
constexpr std::chrono::milliseconds kInactivityLimit{500};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// Entries of a /proc/self folder, "." and ".." excluded (the listing's own descriptor included,
// the same at every count).
int EntriesOf(const char* folder) {
    int count = 0;
    DIR* listing = opendir(folder);
    if (!listing) return -1;
    while (dirent* entry = readdir(listing))
        if (entry->d_name[0] != '.') ++count;
    closedir(listing);
    return count;
}

// The peak resident size since the last reset, in KiB.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

void ResetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct ScanFigures {
    int downloaded = 0;
    int failed = 0;
    double seconds = 0;
    long peakKiB = 0;
};

class Checks {
  public:
    void Expect(bool holds, const std::string& what) {
        std::printf("  %-60s %s\n", what.c_str(), holds ? "ok" : "FAILED");
        passed_ = passed_ && holds;
    }
    bool Passed() const { return passed_; }

  private:
    bool passed_ = true;
};

}  // namespace

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::atoi(argv[1]) : 20;
    const int feeds = argc > 2 ? std::atoi(argv[2]) : 200;
    const auto seed = static_cast<std::uint32_t>(argc > 3 ? std::atol(argv[3]) : 20261208);
    // First, while this process has a single thread: the server is a forked child.
    soak::ChaosServer server(seed, kStallMs);

    std::string pattern = (std::filesystem::temp_directory_path() / "pd_soak_XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("soak: cannot create a folder");
        return 2;
    }
    const std::filesystem::path root = pattern;
    const std::filesystem::path downloads = root / "Download";

    // The list file as the program writes it: count, feed lines, the folder, CR LF between.
    std::string list = std::to_string(feeds) + "\r\n";
    for (int feed = 0; feed < feeds; ++feed)
        list += server.FeedUrl(feed) + "\r\n";
    list += downloads.string() + "/";
    std::ofstream(root / "liste.pdl", std::ios::binary) << list;

    platform::HeadlessApplication application;
    platform::SetApplication(&application);
    int boxes = 0;
    application.OnUnexpectedBox = [&](const platform::ShownBox&) { ++boxes; };  // No, Ok
    bench::SilentView view("");
    app::FeedMonitor monitor(view, root.string());
    monitor.ListFile = (root / "liste.pdl").string();
    monitor.ListeLaden();
    monitor.FetchFeed = [](const std::string& url) {
        return app::FetchFeedDocument(url, {kInactivityLimit * 4, kInactivityLimit});
    };
    monitor.DownloadInactivityLimit = kInactivityLimit;
    ScanFigures scan;
    int landedWithoutFile = 0;
    monitor.DownloadEpisode = [&](const std::string& url, const std::string& path) {
        const bool landed = monitor.DownloadFile(url, path);
        ++(landed ? scan.downloaded : scan.failed);
        if (landed != std::filesystem::exists(path)) ++landedWithoutFile;
        return landed;
    };

    const int startDescriptors = EntriesOf("/proc/self/fd");
    const int startThreads = EntriesOf("/proc/self/task");
    std::printf("soak: %d scans of %d feeds, seed %u, chaos server on port %u\n", scans, feeds,
                seed, server.Port());
    std::printf("scan  downloaded  failed  seconds  peak RSS (KiB)\n");
    std::vector<ScanFigures> figures;
    std::map<std::string, int> failureReasons;
    int unrecordedFailures = 0;
    for (int round = 1; round <= scans; ++round) {
        scan = {};
        ResetPeakResident();
        const auto start = std::chrono::steady_clock::now();
        monitor.Button3Click();
        scan.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        scan.peakKiB = PeakResidentKiB();
        for (const app::FailedDownload& failure : monitor.FailedDownloads())
            ++failureReasons[failure.Reason];
        unrecordedFailures += scan.failed - static_cast<int>(monitor.FailedDownloads().size());
        application.ClearRecord();
        figures.push_back(scan);
        std::printf("%4d  %10d  %6d  %7.1f  %14ld\n", round, scan.downloaded, scan.failed,
                    scan.seconds, scan.peakKiB);
        std::fflush(stdout);
    }

    int files = 0, partFiles = 0, wrongFiles = 0, downloadedTotal = 0;
    for (const auto& scanFigures : figures)
        downloadedTotal += scanFigures.downloaded;
    for (const auto& entry : std::filesystem::directory_iterator(downloads)) {
        const std::string name = entry.path().filename().string();
        ++files;
        if (name.ends_with(".part"))
            ++partFiles;
        else if (ReadFile(entry.path()) != soak::GoodEpisode(name))
            ++wrongFiles;
    }
    const int endDescriptors = EntriesOf("/proc/self/fd");
    const int endThreads = EntriesOf("/proc/self/task");
    monitor.FormClose();  // saves the list as the program does on closing

    std::printf("failures by reason:\n");
    for (const auto& [reason, count] : failureReasons)
        std::printf("  %5d  %s\n", count, reason.c_str());
    std::printf("checks (%d boxes answered):\n", boxes);
    Checks checks;
    checks.Expect(files == downloadedTotal,
                  std::to_string(files) + " files, one per download that succeeded");
    checks.Expect(landedWithoutFile == 0 && unrecordedFailures == 0,
                  "each landed download has its file; every failure recorded");
    checks.Expect(wrongFiles == 0,
                  std::to_string(wrongFiles) + " files differ from the complete good episode");
    checks.Expect(partFiles == 0, std::to_string(partFiles) + " \".part\" files left");
    checks.Expect(monitor.FeedCount() == feeds && ReadFile(root / "liste.pdl") == list,
                  "list file intact (" + std::to_string(monitor.FeedCount()) + " feeds)");
    checks.Expect(endDescriptors == startDescriptors, "descriptors " +
                                                          std::to_string(startDescriptors) +
                                                          " -> " + std::to_string(endDescriptors));
    checks.Expect(endThreads == startThreads,
                  "threads " + std::to_string(startThreads) + " -> " + std::to_string(endThreads));
    // Allocator noise is a few pages; a leak of one buffer per download would be megabytes.
    constexpr long kPeakToleranceKiB = 1024;
    checks.Expect(figures.back().peakKiB <= figures.front().peakKiB + kPeakToleranceKiB,
                  "peak RSS " + std::to_string(figures.front().peakKiB) + " -> " +
                      std::to_string(figures.back().peakKiB) + " KiB (first -> last scan)");

    if (!checks.Passed()) {
        std::printf("soak: FAILED; the files are in %s\n", root.c_str());
        return 1;
    }
    std::filesystem::remove_all(root);
    std::printf("soak: passed\n");
    return 0;
}
