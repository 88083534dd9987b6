// The download half of the scan: one missing episode into the download folder, shown in the
// progress window, cancellable from its buttons.
#include "app/episode_download.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>

#include "app/download_failure.h"
#include "app/download_watchdog.h"
#include "app/feed_monitor.h"
#include "app/message_table.h"
#include "app/proxy_text.h"
#include "http/http_cli.h"
#include "platform/streams.h"

namespace app {
namespace {

// The final name with ".part" appended; a name too long to take the suffix is cut to make room.
std::string TemporaryPathOf(const std::string& path) {
    constexpr std::size_t kMaxNameBytes = 255;
    constexpr std::string_view kSuffix = ".part";
    const std::size_t nameStart = path.rfind('/') + 1;
    const std::size_t nameBytes = std::min(path.size() - nameStart, kMaxNameBytes - kSuffix.size());
    return path.substr(0, nameStart + nameBytes) + std::string(kSuffix);
}

// Clears the temporary name of a file or link left there (by a crashed run, or planted), so the
// new file is created there afresh and never written through a link into someone else's file. A
// directory is left alone; the creation then fails.
const std::string& ClearedTemporaryPath(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error)))
        std::filesystem::remove(path, error);
    return path;
}

// A file being received under a temporary name: removed unless it was completed, so a failed,
// cancelled or interrupted download never leaves anything that a later run takes as downloaded.
class PartialFile {
  public:
    explicit PartialFile(const std::string& path)
        : path_(TemporaryPathOf(path)),
          stream_(ClearedTemporaryPath(path_), platform::FileMode::CreateNew) {}
    ~PartialFile() {
        if (completed_) return;
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    platform::FileStream& Stream() { return stream_; }

    // Writes out what is gathered and gives the file its final name; raises when either fails.
    void Complete(const std::string& finalPath) {
        stream_.Flush();
        std::filesystem::rename(path_, finalPath);
        completed_ = true;
    }

  private:
    std::string path_;
    platform::FileStream stream_;
    bool completed_ = false;
};

// Hands the stream to the client for one request and takes it back however the request ends,
// so the client never keeps a pointer to a released stream.
class LentStream {
  public:
    LentStream(THttpCli& client, platform::Stream& stream) : client_(client) {
        client_.BodyStream = &stream;
    }
    ~LentStream() { client_.BodyStream = nullptr; }
    LentStream(const LentStream&) = delete;
    LentStream& operator=(const LentStream&) = delete;

  private:
    THttpCli& client_;
};

// The limit in seconds as the user reads it: "60", or "0.3" for the short limits of tests.
std::string SecondsText(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000);
    std::string text = std::to_string(limit.count() / 1000) + ".";
    return text + std::to_string(limit.count() % 1000 / 100);
}

std::string FileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

int ProgressGaugeValue(std::int64_t received, std::int64_t length) {
    if (length <= 0 || received <= 0) return 0;
    std::int64_t hundredth = length / 100;
    double value = hundredth > 0
                       ? static_cast<double>(received) / static_cast<double>(hundredth)
                       : static_cast<double>(received) * 100 / static_cast<double>(length);
    return static_cast<int>(std::min(value, 100.0));
}

std::unique_ptr<THttpCli> CreateDownloadClient() {
    auto client = std::make_unique<THttpCli>();
    client->LocalAddr = "0.0.0.0";
    client->ProxyPort = "80";
    client->Agent = "Mozilla/4.0 (compatible; QTX)";
    client->Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    client->NoCache = false;
    client->ContentTypePost = "application/x-www-form-urlencoded";
    client->SetMultiThreaded(false);
    client->SetRequestVer("1.0");
    client->FollowRelocation = true;
    client->LocationChangeMaxCount = 20;  // tracking prefixes stack several relocations
    client->BandwidthLimit = 10000;
    client->BandwidthSampling = 1000;
    client->SetOptions({});
    client->SocksAuthentication = socksNoAuthentication;
    return client;
}

void FeedMonitor::ShowDownloadOf(const std::string& fileName) {
    const std::size_t number = std::max<std::size_t>(downloadNumber_, 1);
    const std::size_t found = std::max(downloadsFound_, number);
    view_.SetCaption(Window::Progress, "Label1",
                     std::to_string(number) + " / " + std::to_string(found));
    CentreHorizontally(Window::Progress, "Label1");
    view_.SetCaption(Window::Progress, "Label4", fileName);
    CentreHorizontally(Window::Progress, "Label4");
    view_.SetVisible(Window::Progress, "", true);
}

bool FeedMonitor::DownloadFile(const std::string& url, const std::string& path) {
    ShowDownloadOf(FileNameOf(path));
    downloadCancelled_ = false;
    std::optional<std::string> failure;
    try {
        failure = ReceiveEpisode(url, path);
    } catch (...) {
        // Anything but the client's failure ends the run; the window must not stay up.
        view_.SetVisible(Window::Progress, "", false);
        throw;
    }
    // Recorded before the window goes, whose hiding ends the download for the views.
    if (failure && !downloadCancelled_) failedDownloads_.push_back({FileNameOf(path), *failure});
    view_.SetGaugeValue(Window::Progress, "Gauge1", 0);
    view_.SetVisible(Window::Progress, "", false);
    return !failure;
}

std::optional<std::string> FeedMonitor::ReceiveEpisode(const std::string& url,
                                                       const std::string& path) {
    THttpCli& client = *httpCli1_;
    client.URL = url;
    PartialFile target(path);
    ApplyProxyText(client, view_.ProxyText());
    std::optional<std::string> failure;
    {
        LentStream lent(client, target.Stream());
        // The client has no time-out of its own: a server that goes silent would hold the run.
        DownloadWatchdog watchdog(
            DownloadInactivityLimit, [this] { return receivedPieces_; },
            [&client] {
                if (client.State() != httpReady) client.Abort();
            });
        if (std::optional<DownloadFailure> ended = GetFailure(client)) {
            TraceFailure(client, url, *ended);
            failure = FailureReasonText(UiLanguage, *ended);
        }
        if (watchdog.Fired())
            failure = FillIn(FailureTextIn(UiLanguage, FailureText::NothingReceived),
                             {ConnectedHost(client), SecondsText(DownloadInactivityLimit)});
    }
    // No episode is empty, and an empty file would count as downloaded for ever.
    if (!failure && target.Stream().Size() == 0)
        failure = std::string(FailureTextIn(UiLanguage, FailureText::EmptyAnswer));
    if (!failure) target.Complete(path);
    return failure;
}

void FeedMonitor::HttpCli1DocData() {
    ++receivedPieces_;
    view_.SetGaugeValue(
        Window::Progress, "Gauge2",
        ProgressGaugeValue(httpCli1_->BodyReceivedCount(), httpCli1_->DocumentLength()));
}

// The user's cancel: the download it ends is no failure to report. A click handled after the
// request ended but before Get returned has nothing to abort: an abort of the ready client would
// turn its failed answer into "200 OK" and keep the error page.
void FeedMonitor::AbortDownload() {
    downloadCancelled_ = true;
    if (httpCli1_->State() != httpReady) httpCli1_->Abort();
}

void FeedMonitor::CancelCurrentDownload() {
    AbortDownload();
    --NewFileCount;
}

void FeedMonitor::CancelAllDownloads() {
    CancelAll = true;
    AbortDownload();
}

}  // namespace app
