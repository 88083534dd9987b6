// The list file liste.pdl: the feed count, one feed URL per line, then the download folder, with
// CR LF line ends and no line end after the folder.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <limits>
#include <optional>
#include <sstream>

#include "app/feed_monitor.h"
#include "app/file_replace.h"
#include "app/legible_text.h"
#include "app/run_lock.h"
#include "platform/application.h"
#include "platform/exception.h"

namespace app {
namespace {

// The count line is read back to its low 16 bits.
constexpr std::size_t kMaxFeedsInFile = std::numeric_limits<std::uint16_t>::max();

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

// The list file as it is now.
struct ListOnDisk {
    std::optional<std::string> bytes;  // when it could be read
    // When it is missing (an empty list) or was read and parsed.
    std::optional<FeedList> list;
    std::string countLine;  // that of a file that did not parse
};

std::optional<std::string> ReadBytes(int fd) {
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) return bytes;
        if (got < 0 && errno != EINTR) return std::nullopt;
        if (got > 0) bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

// An empty folder line stands for defaultFolder.
ListOnDisk ReadListFile(const std::string& path, const std::string& defaultFolder) {
    ListOnDisk onDisk;
    // Not blocking, so that a pipe in the list's place cannot hold the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) onDisk.list = FeedList{{}, defaultFolder};
        return onDisk;
    }
    onDisk.bytes = ReadBytes(fd);
    ::close(fd);
    if (!onDisk.bytes) return onDisk;
    std::istringstream in(*onDisk.bytes);
    LineReader lines(in);
    onDisk.countLine = lines.Next();
    std::optional<std::int32_t> count = ParseInteger(onDisk.countLine);
    if (!count) return onDisk;
    // Only the low 16 bits count, and the count is trusted: that many lines are feed URLs.
    FeedList& list = onDisk.list.emplace();
    list.feeds.resize(static_cast<std::uint16_t>(*count));
    for (std::string& feed : list.feeds)
        feed = lines.Next();
    const std::string folder = lines.Next();
    list.folder = WithTrailingSeparator(folder.empty() ? defaultFolder : folder);
    return onDisk;
}

std::string ListFileContents(const FeedList& list) {
    std::string contents = std::to_string(list.feeds.size()) + "\r\n";
    for (const std::string& feed : list.feeds)
        contents += feed + "\r\n";
    return contents + list.folder;
}

}  // namespace

void FeedMonitor::ListeLaden() {
    // Until the file is read this program holds an empty list without a folder, and a save
    // compares with that.
    savedList_ = FeedList{};
    ListOnDisk onDisk = ReadListFile(ListFilePath(), DefaultDownloadFolder());
    if (!onDisk.bytes || !onDisk.list) {
        // Nothing is loaded, but the file stays: it may be the only copy. Only a file that could
        // be read is reported.
        keepUnreadableListFile_ = true;
        if (!onDisk.bytes) return;
        throw platform::Exception("'" + LegibleText(onDisk.countLine) +
                                  "' is not a valid integer value");
    }
    HoldList(*onDisk.list);
    savedList_ = std::move(onDisk.list);
}

void FeedMonitor::HoldList(const FeedList& list) {
    for (std::size_t i = 0; i < list.feeds.size(); ++i) {
        while (i < FeedEntries.size() && FeedEntries[i].FeedUrl != list.feeds[i])
            DelEintrag(static_cast<std::uint16_t>(i));
        if (i == FeedEntries.size()) {
            FeedEntries.push_back(FeedEntry{list.feeds[i], 0, {}});
            view_.AppendFeedRow(LegibleText(list.feeds[i]));
        }
    }
    while (FeedEntries.size() > list.feeds.size())
        DelEintrag(static_cast<std::uint16_t>(FeedEntries.size() - 1));
    DownloadFolder = list.folder;
    ShowFolder(list.folder);
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
    SaveList(EmptyList::Written);
}

void FeedMonitor::SaveList(EmptyList emptyList) {
    const std::string& path = ListFilePath();
    // Failing quietly would lose the user's changes without a word.
    try {
        SaveLock lock(path, SaveLockWait);  // which makes the list's folder, should it be missing
        if (!lock.Acquired())
            throw platform::Exception("The list " + path +
                                      " was not saved: another program keeps it locked");
        const FeedList base = savedList_.value_or(FeedList{{}, DefaultDownloadFolder()});
        FeedList ours{{}, FolderFromField()};
        for (const FeedEntry& entry : FeedEntries)
            ours.feeds.push_back(entry.FeedUrl);
        const ListOnDisk onDisk = ReadListFile(path, DefaultDownloadFolder());
        // A file that cannot be read or parsed shows no change of the other programs.
        FeedList merged = MergeLists(base, ours, onDisk.list.value_or(base));
        if (merged.feeds.size() > kMaxFeedsInFile) merged.feeds.resize(kMaxFeedsInFile);

        if (merged.feeds.empty() && emptyList == EmptyList::Removed) {
            // Only a list that reads as one goes: any other file may be the only copy of something.
            if (onDisk.bytes && onDisk.list && !keepUnreadableListFile_) RemoveListFile();
        } else if (const std::string contents = ListFileContents(merged);
                   onDisk.bytes != contents) {
            ReplaceFileContents(path, contents);
        }
        HoldList(merged);
        savedList_ = std::move(merged);
    } catch (const platform::Exception& error) {
        platform::App().ShowException(error);
    }
}

void FeedMonitor::RemoveListFile() {
    std::error_code error;
    std::filesystem::remove(ListFilePath(), error);
    // Left in place silently, the file would bring the removed feeds back at the next start.
    if (error)
        throw platform::Exception("Cannot delete " + ListFilePath() + ": " + error.message());
}

}  // namespace app
