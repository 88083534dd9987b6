// The scan button's run: every feed is fetched in list order, its episodes are read, a feed without
// any may be dropped, and its new episodes are downloaded, newest first.
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <system_error>

#include "app/episode_history.h"
#include "app/episode_transfer.h"
#include "app/feed_fetch.h"
#include "app/feed_items.h"
#include "app/feed_monitor.h"
#include "app/legible_text.h"
#include "app/message_table.h"
#include "app/new_episodes.h"
#include "app/partial_file.h"
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

// Takes its step when the scope ends, an escaping error included.
class RunEnd {
  public:
    explicit RunEnd(std::function<void()> step) : step_(std::move(step)) {}
    ~RunEnd() { step_(); }
    RunEnd(const RunEnd&) = delete;
    RunEnd& operator=(const RunEnd&) = delete;

  private:
    std::function<void()> step_;
};

}  // namespace

void FeedMonitor::Button3Click() {
    if (FeedCount() == 0 || ScanBusy) return;
    lastRun_ = {};
    RunLock lock(ListFilePath());
    if (!lock.Acquired()) {
        lastRun_.ending = RunOutcome::Ending::Refused;
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
    history_ = std::make_unique<EpisodeHistory>(EpisodeHistory::PathFor(ListFilePath()));
    historyReported_ = false;
    {
        // The history closes and the counter of downloads starts anew however the run ends;
        // downloads an escaping error left running are aborted first.
        const RunEnd end([this] {
            running_.clear();
            history_.reset();
            downloadNumber_ = downloadsFound_ = 0;
        });
        ScanFeeds();
        // The summary counts every download; an interrupted one keeps its part as it ends.
        WaitForDownloads(0);
    }
    lastRun_.newFiles = NewFileCount;
    if (Terminating()) {
        lastRun_.ending = RunOutcome::Ending::Closed;
        return;
    }

    int summary = CancelAll ? 9 : NewFileCount > 0 ? 3 : 5;  // the caption follows its text
    lastRun_.ending = CancelAll         ? RunOutcome::Ending::Cancelled
                      : NewFileCount > 0 ? RunOutcome::Ending::NewFiles
                                         : RunOutcome::Ending::NothingNew;
    platform::App().MessageBox(MessageText(summary), MessageText(summary + 1),
                               platform::MessageBoxButtons::Ok);
    if (!failedDownloads_.empty()) ShowFailedDownloads();
}

void FeedMonitor::ScanFeeds() {
    FeedPrefetch prefetch(FeedsInFlight, [this](const std::string& feedUrl) {
        EpisodeHistory* store = UsableHistory();
        return store ? store->Validators(feedUrl) : FeedValidators{};
    });
    const FeedPrefetch::FeedAt feedAt = [this](std::size_t position) {
        return position < FeedEntries.size() ? &FeedEntries[position].FeedUrl : nullptr;
    };
    // FeedIndex wraps at 16 bits and the bound is compared as a signed number, so a feed deleted at
    // index 0 (FeedIndex 65535 for a moment) brings the run back to index 0.
    while (static_cast<int>(FeedIndex) <= static_cast<int>(FeedCount()) - 1 && !CancelAll) {
        const std::string url = FeedEntries[FeedIndex].FeedUrl;
        FetchedFeed fetched = FetchFeed ? FetchFeed(url) : prefetch.Take(feedAt, FeedIndex);
        // The window is closing: an interrupted document must not lead to the delete question.
        if (Terminating()) return;
        XML_einlesen(FeedIndex, std::move(fetched));
        ++FeedIndex;
        if (Terminating()) return;
        // The next feed is taken once one more download can start: with one at a time, after
        // this feed's downloads.
        WaitForFreeSlot();
    }
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

void FeedMonitor::XML_einlesen(std::uint16_t index, FetchedFeed fetched) {
    FeedEntry& entry = FeedEntries.at(index);
    if (fetched.unchanged) return;  // everything of its last document was done
    if (fetched.tooLarge) {
        // No answer to read, yet no sign the feed is gone: reported, not offered for deletion.
        failedDownloads_.push_back(
            {LegibleText(entry.FeedUrl),
             FillIn(FailureTextIn(UiLanguage, FailureText::FeedTooLarge),
                    {std::to_string(kMaxFeedDocumentBytes / (1024 * 1024))})});
        return;
    }
    const std::string base =
        fetched.finalUrl.empty() ? FeedRequestUrl(entry.FeedUrl) : fetched.finalUrl;
    FeedItems feed = ReadFeedItems(fetched.document, base);
    std::vector<std::string>& urls = feed.enclosureUrls;
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
    DownloadNewEpisodes(entry.FeedUrl, feed, fetched.validators);
}

EpisodeHistory* FeedMonitor::UsableHistory() {
    if (!history_) return nullptr;
    if (history_->Usable()) return history_.get();
    if (!historyReported_) {
        historyReported_ = true;
        platform::App().ShowException(platform::Exception(
            FillIn(FailureTextIn(UiLanguage, FailureText::HistoryUnusable),
                   {LegibleText(history_->Path()), history_->Problem()})));
    }
    return nullptr;
}

void FeedMonitor::DownloadNewEpisodes(const std::string& feedUrl, const FeedItems& feed,
                                      const FeedValidators& validators) {
    FeedHistory known;
    const FeedHistory* history = nullptr;
    if (EpisodeHistory* store = UsableHistory()) {
        known = store->Load(feedUrl);
        if (UsableHistory()) history = &known;
    }
    const DownloadFolderView folder{
        // A file still on its way for another feed is there too: the episode is fetched once.
        [this](const std::string& name) {
            return PresentInFolder(DownloadFolder + name) ||
                   std::any_of(running_.begin(), running_.end(), [&name](const auto& download) {
                       return download->transfer->FileName() == name;
                   });
        },
        [this](const std::string& name) {
            EpisodeHistory* store = UsableHistory();
            return store ? store->EpisodeSavedAs(name) : std::nullopt;
        }};
    EpisodePlan plan = PlanEpisodes(feed, history, folder, EpisodesPerRun);
    const std::int64_t now = std::time(nullptr);
    for (EpisodeRecord& record : plan.recorded)
        record.recordedAt = now;
    // Recorded before the downloads, so that a run killed meanwhile does not meet the feed as new
    // again and take its old episodes for new ones.
    FeedSummary summary{plan.newestTitle,
                        static_cast<int>(plan.waiting.size() + plan.downloads.size())};
    if (EpisodeHistory* store = UsableHistory()) store->RecordScan(feedUrl, plan.recorded, summary);
    DropPartialsNotIn(feedUrl, plan);

    downloadsFound_ += plan.downloads.size();
    auto downloads = std::make_shared<FeedDownloads>(
        FeedDownloads{feedUrl, summary, validators, plan.waiting.empty()});
    // Each download ends through its own step, later when several run at once; the feed's
    // records wait for the last of them.
    for (const NewEpisode& episode : plan.downloads) {
        // A cancel while the earlier downloads ran stops the rest before they start.
        WaitForFreeSlot();
        if (CancelAll || Terminating()) {
            downloads->allLanded = false;
            break;
        }
        const FeedItem& item = feed.items[episode.item];
        const std::string path = DownloadFolder + episode.fileName;
        ++downloadNumber_;
        ++NewFileCount;
        ++downloads->running;
        EpisodeRecord record{episode.identity, EpisodeFate::Downloaded, episode.fileName,
                             item.title, 0};
        auto ended = [this, downloads, record, clicks = cancelClicks_](bool landed) mutable {
            // Only what landed is new; "cancel current" may already have taken the count back.
            if (!landed)
                NewFileCount =
                    static_cast<std::uint16_t>(NewFileCount - 1 + (cancelClicks_ - clicks));
            --downloads->running;
            downloads->allLanded = downloads->allLanded && landed;
            record.recordedAt = std::time(nullptr);
            FeedDownloadEnded(*downloads, landed ? &record : nullptr);
        };
        if (DownloadEpisode)
            ended(DownloadEpisode(item.enclosureUrl, path));
        else
            StartDownload(item.enclosureUrl, path, {feedUrl, episode.identity}, std::move(ended));
    }
    downloads->allStarted = true;
    if (downloads->running == 0) FeedDownloadEnded(*downloads, nullptr);
}

void FeedMonitor::FeedDownloadEnded(FeedDownloads& downloads, const EpisodeRecord* landed) {
    // The feed's last download that lands with all before it leaves nothing of the document to
    // do: its validators go into the same transaction.
    const bool feedEnded = downloads.allStarted && downloads.running == 0;
    const bool feedDone = feedEnded && downloads.allLanded && downloads.noneWaiting;
    if (landed) {
        --downloads.summary.pending;
        if (EpisodeHistory* store = UsableHistory())
            store->RecordDownload(downloads.feedUrl, *landed, &downloads.summary,
                                  feedDone ? &downloads.validators : nullptr);
    }
    if (!feedEnded) return;
    // The next run may ask whether the feed changed only when nothing of this document is left to
    // do: an episode that failed or waits beyond the cap must be met again.
    if (EpisodeHistory* store = UsableHistory())
        store->RecordValidators(downloads.feedUrl,
                                feedDone ? downloads.validators : FeedValidators{});
    UsableHistory();  // a failure of the last write is reported too
}

void FeedMonitor::DropPartialsNotIn(const std::string& feedUrl, const EpisodePlan& plan) {
    EpisodeHistory* store = UsableHistory();
    if (!store) return;
    std::set<std::string> stillNew(plan.waiting.begin(), plan.waiting.end());
    for (const NewEpisode& episode : plan.downloads)
        stillNew.insert(episode.identity);
    for (const auto& [fileName, identity] : store->PartialsOf(feedUrl)) {
        if (stillNew.count(identity) > 0) continue;
        std::error_code ignored;
        std::filesystem::remove(TemporaryPathOf(DownloadFolder + fileName), ignored);
        store->ForgetPartial(fileName);
    }
}

}  // namespace app
