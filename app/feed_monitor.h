// The feed monitor's program-wide state and the main window's logic, free of any GUI toolkit.
// The Qt main window implements FeedMonitorView and forwards its handlers here.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/feed_fetch.h"
#include "app/list_merge.h"

class THttpCli;

namespace app {

class EpisodeHistory;
class EpisodeTransfer;
struct EpisodePlan;
struct FeedItems;

struct FeedEntry {
    std::string FeedUrl;  // exactly as the user entered it
    std::uint16_t EnclosureCount = 0;
    std::vector<std::string> EnclosureUrls;  // found by the last scan, in document order
};

// Which episode a download is: with it, a download cut short can be continued by a later run.
struct EpisodeOrigin {
    std::string feedUrl;
    std::string identity;  // empty: none, the download is not continued
};

// A download of the last run that did not land, and why: the status and reason text, or the error.
struct FailedDownload {
    std::string FileName;
    std::string Reason;
};

// How the last scan run ended, read by the command-line program.
struct RunOutcome {
    enum class Ending {
        NotRun,      // no run yet, or the registry was empty
        Refused,     // another run of the list held its lock
        NewFiles,    // the summary "new files"
        NothingNew,  // the summary "no new files"
        Cancelled,   // the summary "cancelled"
        Closed,      // the window closed during the run: no summary
    };
    Ending ending = Ending::NotRun;
    std::uint16_t newFiles = 0;  // NewFileCount at the end
};

// What an OPML import did: the feeds it added and the summary to show, or why it added none.
struct OpmlImport {
    std::size_t added = 0;
    std::string summary;
    std::string error;  // in the interface language; empty when the file was read
};

// The file an OPML path typed into the add field names ("/…", "~/…" or "file://…", ending in
// ".opml"); nothing for any other text, which is a feed address.
std::optional<std::string> OpmlPathIn(const std::string& text);

// The windows whose controls the logic reaches by object name.
enum class Window { Main, Progress };

// What the logic needs of the main window's controls.
class FeedMonitorView {
  public:
    virtual ~FeedMonitorView() = default;
    virtual void AppendFeedRow(const std::string& url) = 0;  // ListBox1
    virtual void DeleteFeedRow(int index) = 0;
    virtual int SelectedFeedRow() const = 0;      // -1 when no row is selected
    virtual std::string NewFeedText() const = 0;  // Edit1
    virtual void SetNewFeedText(const std::string& text) = 0;
    virtual std::string FolderText() const = 0;  // Edit2
    virtual void SetFolderText(const std::string& text) = 0;
    virtual std::string ProxyText() const = 0;  // ProxyEdit
    virtual bool ProxyChecked() const = 0;      // CheckBox1
    virtual void ShowAboutModal() = 0;          // Form2

    // Controls by object name; the empty name stands for the window itself. A window that does not
    // exist yet ignores the calls and has the width 0.
    // Labels take the width of their new text.
    virtual void SetCaption(Window window, const std::string& control, const std::string& text) = 0;
    virtual void SetEnabled(Window window, const std::string& control, bool enabled) = 0;
    virtual void SetVisible(Window window, const std::string& control, bool visible) = 0;
    // For the window itself: its outer width, frame included.
    virtual int Width(Window window, const std::string& control) const = 0;
    virtual void SetLeft(Window window, const std::string& control, int left) = 0;
    // Gauges take values from 0 to 100.
    virtual void SetGaugeValue(Window window, const std::string& control, int value) = 0;

    // Every download by the slot it runs in, 0 up to the downloads at once: the progress window
    // shows the one download of the window program, a terminal a line for each.
    virtual void DownloadStarted(std::size_t /*slot*/, const std::string& /*fileName*/) {}
    // The bytes of this request's body so far and its announced length (-1: none).
    virtual void DownloadProgress(std::size_t /*slot*/, std::int64_t /*received*/,
                                  std::int64_t /*length*/) {}
    // failure: the failure listed for the download; nullptr when it landed or was cancelled.
    virtual void DownloadEnded(std::size_t /*slot*/, std::int64_t /*received*/,
                               const FailedDownload* /*failure*/) {}
};

// Applies the trailing-separator rule: a non-empty folder gets a final "/".
std::string WithTrailingSeparator(std::string folder);

class FeedMonitor {
  public:
    FeedMonitor(FeedMonitorView& view, std::string programDir);
    ~FeedMonitor();

    // Program-wide state.
    std::string ProgramDir;  // ends in "/"
    std::string DownloadFolder;
    std::uint8_t UiLanguage = 0;  // 0 German, 1 English
    bool ScanBusy = false;
    bool CancelAll = false;
    std::uint16_t FeedIndex = 0;
    std::uint16_t NewFileCount = 0;
    std::vector<FeedEntry> FeedEntries;
    std::uint16_t FeedCount() const { return static_cast<std::uint16_t>(FeedEntries.size()); }

    // Where the list is kept: beside the program, or in the user's data folder for an installed
    // copy (list_location.h). A caller may point it elsewhere before FormCreate.
    std::string ListFile;
    const std::string& ListFilePath() const { return ListFile; }
    // Beside the list file.
    std::string DefaultDownloadFolder() const;
    // The list file could not be read at start-up; it is kept, whatever happens to the registry.
    bool ListFileUnreadable() const { return keepUnreadableListFile_; }

    // The feed registry and its list file.
    // Registry and list row; false (nothing added) when the registry is full.
    bool AddEntry(const std::string& url);
    void DelEintrag(std::uint16_t index);
    void ListeLaden();
    // Saves the registry and the folder field, keeping what another program changed in the file
    // since this one loaded or last saved it (list_merge.h); the registry and the field then hold
    // the saved list. A file that would stay the same is not rewritten.
    void ListeSpeichern();
    // How long a save waits for another program's save; past it nothing is written and the error
    // is reported.
    std::chrono::milliseconds SaveLockWait{10000};

    // Adds the feeds of the OPML file at path that the registry lacks, in the file's order, each as
    // the add button adds one, and saves nothing itself. Nothing is added when the file cannot be
    // read as OPML.
    OpmlImport ImportOpml(const std::string& path);
    // The registry as an OPML 2.0 document.
    std::string ExportOpml() const;

    // The text of message k (0..10) of the message table in the current language.
    std::string MessageText(int k) const;

    // The main window's start-up steps from the language choice on; the window itself has been
    // centred and captioned. An error that escapes them goes to the default error report.
    void FormCreate(std::uint16_t systemLanguageId);

    // The main window's handlers.
    void Button1Click();  // add the text of Edit1 as a feed
    void Button2Click();  // delete the selected feed
    void Button4Click();  // pick the download folder
    void CheckBox1Click();
    void AboutClick();
    void Deutsch1Click() { InDeutsch(); }
    void English1Click() { InEnglish(); }

    // The language switches: every switchable caption of the main and progress windows.
    void InDeutsch();
    void InEnglish();

    // Closing the main window. While a run is under way the run is told to stop (CancelAll and the
    // application's terminate flag) and false is returned: the window stays, and the program calls
    // FormClose once its loop has ended. Otherwise FormClose runs and true is returned.
    bool RequestClose();
    // Saves the list, or removes the list file when the saved list would be empty. Runs once.
    void FormClose();
    bool Closed() const { return closed_; }

    // The scan-and-download run of the scan button.
    void Button3Click();
    void XML_einlesen(std::uint16_t index, FetchedFeed fetched);
    const RunOutcome& LastRun() const { return lastRun_; }

    // The most new episodes of one feed a run downloads, newest first; the rest stay new.
    std::size_t EpisodesPerRun = 10;
    // How many feeds are fetched side by side, the one the run works on included; the run still
    // takes them one after another in list order.
    std::size_t FeedsInFlight = 16;

    // Replaceable steps of the run: the feed fetch and the episode download (url, target path;
    // true when the episode landed). Unassigned, the run fetches with FetchFeedDocument and
    // downloads with DownloadFile.
    std::function<FetchedFeed(const std::string& url)> FetchFeed;
    std::function<bool(const std::string& url, const std::string& path)> DownloadEpisode;

    // The downloads of the current or last run that failed, in the order they were tried; cleared
    // when a run starts. A download the user cancelled is not among them.
    const std::vector<FailedDownload>& FailedDownloads() const { return failedDownloads_; }

    // How long a download may receive nothing, connecting included, before it is given up.
    std::chrono::milliseconds DownloadInactivityLimit{60000};
    // How many episode downloads run side by side, each with a client of its own. With one, as in
    // the window program, the run waits for each download before it goes on; with more it goes
    // on to the next feeds while they run, and waits for them all before its summary.
    std::size_t DownloadsAtOnce = 1;

    // The episode download: the file at url into path, shown in the progress window. Only a
    // complete, non-empty answer leaves a file at path; true then. A failure of the request is
    // recorded in FailedDownloads. With the episode's origin and the run's history, a download
    // cut short keeps its ".part" and the next download of the episode continues it.
    bool DownloadFile(const std::string& url, const std::string& path,
                      const EpisodeOrigin& origin = {});
    // The episode download as DownloadFile does it, started once fewer than DownloadsAtOnce run;
    // ended(landed) is called by a later StartDownload or WaitForDownloads once it has ended.
    void StartDownload(const std::string& url, const std::string& path, const EpisodeOrigin& origin,
                       std::function<void(bool landed)> ended);
    // Lets the message loop run until at most `running` downloads are left; the application's
    // terminate flag aborts them all.
    void WaitForDownloads(std::size_t running);
    // Until one more download can start.
    void WaitForFreeSlot() { WaitForDownloads(std::max<std::size_t>(DownloadsAtOnce, 1) - 1); }
    // The progress window, shown for the download of fileName; the counter reads "k / n", the
    // download's number among those the run has found so far ("1 / 1" outside a run).
    void ShowDownloadOf(const std::string& fileName);
    // The progress window's buttons.
    void CancelCurrentDownload();
    void CancelAllDownloads();

    // The HTTP client of the downloads, owned for the program's life until FormClose.
    THttpCli* HttpCli1() { return httpCli1_.get(); }

    FeedMonitorView& View() { return view_; }

  private:
    void RunCreationSteps(std::uint16_t systemLanguageId);
    void RemoveListFile();
    // Edit2 shows the folder legibly and gives its bytes back while the user has not edited it.
    void ShowFolder(const std::string& folder);
    std::string FolderFromField() const;
    void SwitchLanguage(std::uint8_t language);
    void CentreHorizontally(Window window, const std::string& control);

    // The add button's import: the outcome is shown in a box, and the field cleared after it.
    void ImportOpmlFromField(const std::string& path);
    void ShowFailedDownloads();
    // Runs the scan of the registry; the caller has taken the lock and set up the run.
    void ScanFeeds();
    // The feed's new episodes, newest first, each recorded in the history once it landed; the
    // answer's validators are kept when every new episode landed.
    void DownloadNewEpisodes(const std::string& feedUrl, const FeedItems& feed,
                             const FeedValidators& validators);
    // A feed's downloads of this run, from its plan to the end of the last of them.
    struct FeedDownloads {
        std::string feedUrl;
        FeedSummary summary;  // kept with each download that lands
        FeedValidators validators;
        bool noneWaiting = true;  // no new episode beyond the cap
        std::size_t running = 0;
        bool allStarted = false;
        bool allLanded = true;
    };
    // A download of the feed has ended (landed: its record, nullptr when it failed), or, with
    // nullptr and none running, its last one was started: the history records what it did.
    void FeedDownloadEnded(FeedDownloads& downloads, const EpisodeRecord* landed);
    // A download cut short whose episode is no longer new in the feed is not continued: its
    // ".part" goes.
    void DropPartialsNotIn(const std::string& feedUrl, const EpisodePlan& plan);
    // The run's history while it is usable; its failure is reported once, and the run goes on by
    // the files in the download folder.
    EpisodeHistory* UsableHistory();
    // A download under way, in the slot whose client it has.
    struct RunningDownload {
        std::size_t slot = 0;
        std::unique_ptr<EpisodeTransfer> transfer;
        std::function<void(bool landed)> ended;
        bool cancelled = false;  // by the user: no failure to list
    };
    THttpCli& ClientOfSlot(std::size_t slot);
    std::size_t FreeSlot() const;
    // The downloads whose request ended take their next step; those that ended are reported.
    void TakeEndedDownloads();
    void EndDownload(RunningDownload& download);
    void DownloadProgressed(RunningDownload& download);
    void AbortDownloads();

    FeedMonitorView& view_;
    std::unique_ptr<THttpCli> httpCli1_;
    // A list file that could not be read is kept until the user has feeds to save over it.
    bool keepUnreadableListFile_ = false;
    // The list as loaded or last saved, against which the other programs' changes show; nothing
    // before a load, which stands for an empty list in the default folder.
    std::optional<FeedList> savedList_;
    // What a save does with a list that has no feeds.
    enum class EmptyList { Written, Removed };
    void SaveList(EmptyList emptyList);
    // The registry, its rows and the folder field brought to list; entries that stay keep their
    // place and their last scan's findings.
    void HoldList(const FeedList& list);
    bool closed_ = false;
    std::vector<FailedDownload> failedDownloads_;
    RunOutcome lastRun_;
    std::unique_ptr<EpisodeHistory> history_;  // open during a run
    bool historyReported_ = false;
    std::size_t downloadNumber_ = 0;  // of the run's downloads so far
    std::size_t downloadsFound_ = 0;
    std::vector<std::unique_ptr<RunningDownload>> running_;
    // "Cancel current" clicks so far; each took NewFileCount back at once.
    std::size_t cancelClicks_ = 0;
    // The clients of slots 1 and on, made when first needed; slot 0 has HttpCli1.
    std::vector<std::unique_ptr<THttpCli>> slotClients_;
    std::string shownFolder_;
};

}  // namespace app
