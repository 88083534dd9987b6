#include "app/feed_monitor.h"

#include <filesystem>

#include "app/centring.h"
#include "app/episode_download.h"
#include "app/episode_history.h"
#include "app/episode_transfer.h"
#include "app/list_location.h"
#include "app/message_table.h"
#include "http/http_cli.h"
#include "platform/application.h"

namespace app {
namespace {

constexpr std::size_t kMaxFeeds = 0xFFFF;  // the count is 16 bits wide, in memory and in the file
constexpr std::uint16_t kGermanAsUsedInGermany = 0x0407;

// Something other than a directory is at path, as a file test sees it.
bool FileExists(const std::string& path) {
    std::error_code error;
    auto status = std::filesystem::status(path, error);
    return std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

std::string WithTrailingSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

FeedMonitor::FeedMonitor(FeedMonitorView& view, std::string programDir)
    : ProgramDir(WithTrailingSeparator(std::move(programDir))),
      ListFile(ListFileLocation(ProgramDir)),
      view_(view),
      httpCli1_(CreateDownloadClient()) {}

FeedMonitor::~FeedMonitor() = default;

std::string FeedMonitor::DefaultDownloadFolder() const {
    return FolderOf(ListFile) + "Download/";
}

bool FeedMonitor::AddEntry(const std::string& url) {
    if (FeedEntries.size() >= kMaxFeeds) return false;
    view_.AppendFeedRow(url);
    FeedEntries.push_back(FeedEntry{url, 0, {}});
    return true;
}

void FeedMonitor::DelEintrag(std::uint16_t index) {
    if (index >= FeedEntries.size()) return;
    FeedEntries.erase(FeedEntries.begin() + index);
    view_.DeleteFeedRow(index);
}

std::string FeedMonitor::MessageText(int k) const {
    return std::string(MessageTable.at(UiLanguage * kMessagesPerLanguage + k));
}

void FeedMonitor::FormCreate(std::uint16_t systemLanguageId) {
    // As with any handler, an error ends the handler and is reported; the window opens as far as
    // it got.
    try {
        RunCreationSteps(systemLanguageId);
    } catch (const std::exception& error) {
        platform::App().ShowException(error);
    }
}

void FeedMonitor::RunCreationSteps(std::uint16_t systemLanguageId) {
    if (systemLanguageId == kGermanAsUsedInGermany) {
        UiLanguage = 0;
        platform::App().SetInterfaceLanguage(platform::InterfaceLanguage::German);
    } else {
        InEnglish();
    }
    CentreHorizontally(Window::Main, "Button3");
    if (FileExists(ListFilePath())) {
        ListeLaden();
    } else {
        FeedEntries.clear();
        DownloadFolder = DefaultDownloadFolder();
        ShowFolder(DownloadFolder);
    }
    ScanBusy = false;
}

void FeedMonitor::CentreHorizontally(Window window, const std::string& control) {
    view_.SetLeft(window, control,
                  CentredPosition(view_.Width(window, ""), view_.Width(window, control)));
}

void FeedMonitor::Button1Click() {
    std::string url = view_.NewFeedText();
    if (url.empty() || ScanBusy) return;
    if (std::optional<std::string> opml = OpmlPathIn(url)) return ImportOpmlFromField(*opml);
    // A text that found no room stays in the field.
    if (AddEntry(url)) view_.SetNewFeedText("");
}

void FeedMonitor::Button2Click() {
    int row = view_.SelectedFeedRow();
    if (row < 0 || ScanBusy) return;
    DelEintrag(static_cast<std::uint16_t>(row));
}

void FeedMonitor::Button4Click() {
    if (auto folder = platform::App().SelectDirectory())
        ShowFolder(WithTrailingSeparator(*folder));
}

void FeedMonitor::CheckBox1Click() {
    bool shown = view_.ProxyChecked();
    view_.SetVisible(Window::Main, "ProxyEdit", shown);
    view_.SetVisible(Window::Main, "Label4", shown);
}

void FeedMonitor::AboutClick() {
    if (!ScanBusy) view_.ShowAboutModal();
}

bool FeedMonitor::RequestClose() {
    if (ScanBusy) {
        // Closing acts as "cancel all" first; the window closes once the run has unwound.
        CancelAll = true;
        platform::App().Terminate();
        AbortDownloads();
        return false;
    }
    FormClose();
    return true;
}

void FeedMonitor::FormClose() {
    if (closed_) return;
    closed_ = true;
    // Without feeds or a list file there is nothing to save, nor a folder to make for the lock.
    if (FeedCount() > 0 || FileExists(ListFilePath())) SaveList(EmptyList::Removed);
    // Never released while a request still uses them.
    if (!running_.empty()) return;
    slotClients_.clear();
    if (httpCli1_ && httpCli1_->State() == httpReady) httpCli1_.reset();
}

}  // namespace app
