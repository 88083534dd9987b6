// Loads arbitrary bytes as the list file. Whatever the loader accepts must survive a round trip:
// saving it and loading the saved file gives the same feeds and folder, and saving that again
// gives the same bytes. Whatever it refuses must be left on disk as it was.
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/feed_monitor.h"
#include "app/legible_text.h"
#include "platform/exception.h"
#include "platform/headless_application.h"
#include "tests/app/recording_view.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Loaded {
    std::vector<std::string> feeds;
    std::string folder;
    bool operator==(const Loaded&) const = default;
};

// A program folder on a memory file system (saving syncs the file, which would dominate the run),
// removed when the fuzzer exits.
class ProgramFolder {
  public:
    ProgramFolder() {
        std::string pattern = "/dev/shm/pd_list_fuzz_XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        path_ = pattern + "/";
    }
    ~ProgramFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }
    std::string ListFile() const { return path_ + "liste.pdl"; }

  private:
    std::string path_;
};

const ProgramFolder& Folder() {
    static const ProgramFolder folder;
    return folder;
}

// The count on the first line is trusted (its low 16 bits): a large one only makes the run slow,
// each feed line past the file's end being one more empty entry.
bool CountTooLargeToBeWorthIt(const std::string& input) {
    constexpr std::uint16_t kMaxFeedsWorthLoading = 64;
    std::string_view line(input.data(), std::min(input.find('\n'), input.size()));
    if (!line.empty() && line.front() == '+') line.remove_prefix(1);
    std::int32_t count = 0;
    std::from_chars(line.data(), line.data() + line.size(), count);
    return static_cast<std::uint16_t>(count) > kMaxFeedsWorthLoading;
}

// A fresh monitor each time: the loader appends to whatever the registry holds.
bool Load(Loaded& loaded) {
    app::testing::RecordingView view;
    app::FeedMonitor monitor(view, Folder().Path());
    monitor.ListFile = Folder().ListFile();
    try {
        monitor.ListeLaden();
    } catch (const platform::Exception&) {
        return false;
    }
    for (const auto& entry : monitor.FeedEntries)
        loaded.feeds.push_back(entry.FeedUrl);
    loaded.folder = monitor.DownloadFolder;
    Require(view.rows.size() == loaded.feeds.size());
    for (std::size_t row = 0; row < view.rows.size(); ++row)
        Require(view.rows[row] == app::LegibleText(loaded.feeds[row]));
    monitor.ListeSpeichern();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static platform::HeadlessApplication application;
    static auto* previous = platform::SetApplication(&application);
    (void)previous;
    const std::string listPath = Folder().ListFile();
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (CountTooLargeToBeWorthIt(input)) return -1;  // not added to the corpus
    WriteFile(listPath, input);

    Loaded first;
    if (!Load(first)) {
        Require(ReadFile(listPath) == input);
        return 0;
    }
    const std::string saved = ReadFile(listPath);
    Loaded second;
    Require(Load(second));
    Require(second == first);
    Require(ReadFile(listPath) == saved);
    return 0;
}
