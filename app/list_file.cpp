// The list file liste.pdl: the feed count, one feed URL per line, then the download folder, with
// CR LF line ends and no line end after the folder.
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/feed_monitor.h"
#include "app/file_replace.h"
#include "app/legible_text.h"
#include "app/list_location.h"
#include "platform/application.h"
#include "platform/exception.h"

namespace app {
namespace {

// Lines end in LF, and a CR before it belongs to the line end. Past the end of the file every
// line is empty.
class LineReader {
  public:
    explicit LineReader(std::istream& in) : in_(in) {}

    std::string Next() {
        std::string line;
        if (!std::getline(in_, line)) return {};
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

  private:
    std::istream& in_;
};

// A 32-bit decimal integer with an optional sign, and nothing else.
std::optional<std::int32_t> ParseInteger(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin == end || *begin == '-') return std::nullopt;
    }
    std::int32_t value = 0;
    auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

}  // namespace

void FeedMonitor::ListeLaden() {
    std::ifstream file(ListFilePath(), std::ios::binary);
    if (!file) {
        // Nothing is loaded and nothing said, but the file stays: it may be the only copy.
        keepUnreadableListFile_ = true;
        return;
    }
    LineReader lines(file);
    std::string countLine = lines.Next();
    std::optional<std::int32_t> count = ParseInteger(countLine);
    if (!count) {
        keepUnreadableListFile_ = true;
        throw platform::Exception("'" + LegibleText(countLine) + "' is not a valid integer value");
    }
    // Only the low 16 bits count, and the count is trusted: that many lines are feed URLs.
    FeedEntries.assign(static_cast<std::uint16_t>(*count), FeedEntry{});
    for (FeedEntry& entry : FeedEntries) {
        entry.FeedUrl = lines.Next();
        view_.AppendFeedRow(LegibleText(entry.FeedUrl));
    }
    std::string folder = lines.Next();
    DownloadFolder = WithTrailingSeparator(folder.empty() ? DefaultDownloadFolder() : folder);
    ShowFolder(DownloadFolder);
}

void FeedMonitor::ShowFolder(const std::string& folder) {
    shownFolder_ = folder;
    view_.SetFolderText(LegibleText(folder));
}

std::string FeedMonitor::FolderFromField() const {
    std::string text = view_.FolderText();
    // The field shows bytes that are not UTF-8 in another form; unedited, it stands for them.
    if (text == LegibleText(shownFolder_)) return shownFolder_;
    return WithTrailingSeparator(text);
}

void FeedMonitor::ListeSpeichern() {
    std::string contents = std::to_string(FeedCount()) + "\r\n";
    for (const FeedEntry& entry : FeedEntries)
        contents += entry.FeedUrl + "\r\n";
    std::string folder = FolderFromField();
    try {
        CreateFolderOf(ListFilePath());
        ReplaceFileContents(ListFilePath(), contents + folder);
        DownloadFolder = folder;
    } catch (const platform::Exception& error) {
        // Failing quietly would lose the user's feeds without a word.
        platform::App().ShowException(error);
    }
}

void FeedMonitor::RemoveListFile() {
    std::error_code error;
    std::filesystem::remove(ListFilePath(), error);
    // Left in place silently, the file would bring the removed feeds back at the next start.
    if (error)
        platform::App().ShowException(
            platform::Exception("Cannot delete " + ListFilePath() + ": " + error.message()));
}

}  // namespace app
