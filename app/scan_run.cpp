// The scan button's run: every feed is fetched in list order, its enclosures are collected, a feed
// without any may be dropped, and the file of its newest episode is fetched when it is missing.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/enclosure_scan.h"
#include "app/feed_fetch.h"
#include "app/feed_monitor.h"
#include "app/legible_text.h"
#include "app/message_table.h"
#include "app/run_lock.h"
#include "platform/application.h"
#include "platform/exception.h"

namespace app {
namespace {

constexpr std::size_t kMaxEnclosures = 0xFFFF;  // EnclosureCount is 16 bits wide

constexpr std::size_t kMaxListedFailures = 20;

// Creates the download folder (one level) unless it is there; the error, which names the folder in
// the words of failureText, goes to the caller.
void CreateMissingFolder(const std::string& folder, std::string_view failureText) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return;
    std::filesystem::create_directory(folder, error);
    if (!error && !std::filesystem::is_directory(folder, error))
        error = std::make_error_code(std::errc::file_exists);
    if (error) throw platform::Exception(FillIn(failureText, {folder, error.message()}));
}

// Anything under that name (a file, a directory, even a dangling link) counts as downloaded, so the
// download never writes through a link or fails on a directory.
bool PresentInFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool Terminating() {
    return platform::App().Terminated();
}

// Clears ScanBusy however the run ends, an escaping error included, so the buttons work again.
class BusyScope {
  public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    bool& busy_;
};

}  // namespace

void FeedMonitor::Button3Click() {
    if (FeedCount() == 0 || ScanBusy) return;
    RunLock lock(ListFilePath());
    if (!lock.Acquired()) {
        platform::App().MessageBox(MessageText(kAnotherRunMessage),
                                   MessageText(kAnotherRunMessage + 1),
                                   platform::MessageBoxButtons::Ok);
        return;
    }
    FeedIndex = 0;
    NewFileCount = 0;
    DownloadFolder = FolderFromField();
    CreateMissingFolder(DownloadFolder, FailureTextIn(UiLanguage, FailureText::CannotCreateFolder));
    CancelAll = false;
    failedDownloads_.clear();
    BusyScope busy(ScanBusy);

    // FeedIndex wraps at 16 bits and the bound is compared as a signed number, so a feed deleted at
    // index 0 (FeedIndex 65535 for a moment) brings the run back to index 0.
    while (static_cast<int>(FeedIndex) <= static_cast<int>(FeedCount()) - 1 && !CancelAll) {
        const std::string url = FeedEntries[FeedIndex].FeedUrl;
        std::string document = FetchFeed ? FetchFeed(url) : FetchFeedDocument(url);
        // The window is closing: an interrupted document must not lead to the delete question.
        if (Terminating()) return;
        XML_einlesen(FeedIndex, std::move(document));
        ++FeedIndex;
        if (Terminating()) return;
    }

    int summary = CancelAll ? 9 : NewFileCount > 0 ? 3 : 5;  // the caption follows its text
    platform::App().MessageBox(MessageText(summary), MessageText(summary + 1),
                               platform::MessageBoxButtons::Ok);
    if (!failedDownloads_.empty()) ShowFailedDownloads();
}

void FeedMonitor::ShowFailedDownloads() {
    std::string text(FailureTextIn(UiLanguage, FailureText::FailedDownloadsIntro));
    const std::size_t listed = std::min(failedDownloads_.size(), kMaxListedFailures);
    for (std::size_t i = 0; i < listed; ++i)
        text += "\n" + failedDownloads_[i].FileName + ": " + failedDownloads_[i].Reason;
    if (listed < failedDownloads_.size())
        text += "\n" + FillIn(FailureTextIn(UiLanguage, FailureText::MoreFailures),
                              {std::to_string(failedDownloads_.size() - listed)});
    platform::App().MessageBox(
        text, std::string(FailureTextIn(UiLanguage, FailureText::FailedDownloadsCaption)),
        platform::MessageBoxButtons::Ok);
}

void FeedMonitor::XML_einlesen(std::uint16_t index, std::string document) {
    FeedEntry& entry = FeedEntries.at(index);
    FeedEnclosures found = FindEnclosures(document);
    std::vector<std::string>& urls = found.urls;
    const std::string url = urls.empty() ? std::string() : urls[found.newest];
    // Beyond what the count holds the earliest ones go.
    if (urls.size() > kMaxEnclosures) urls.erase(urls.begin(), urls.end() - kMaxEnclosures);
    entry.EnclosureCount = static_cast<std::uint16_t>(urls.size());
    entry.EnclosureUrls = std::move(urls);

    if (entry.EnclosureUrls.empty()) {
        std::string question = MessageText(0) + LegibleText(entry.FeedUrl) + MessageText(1);
        // A feed that failed only this once must not be lost to a reflex press of Enter.
        if (platform::App().MessageBox(question, MessageText(2),
                                       platform::MessageBoxButtons::YesNoDefaultNo) ==
            platform::MessageBoxResult::Yes) {
            DelEintrag(index);
            --FeedIndex;  // the run's increment comes back to this index, now the next feed
        }
        return;
    }

    const std::string name = EnclosureFileName(url);
    if (!IsSafeFileName(name)) return;
    const std::string path = DownloadFolder + name;
    if (PresentInFolder(path)) return;
    const std::uint16_t countBefore = NewFileCount;
    ++NewFileCount;
    const bool landed = DownloadEpisode ? DownloadEpisode(url, path) : DownloadFile(url, path);
    // Only what landed is new; "cancel current" may already have taken the count back.
    if (!landed) NewFileCount = countBefore;
}

}  // namespace app
