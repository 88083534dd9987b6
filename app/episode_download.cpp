// The download half of the scan: one missing episode into the download folder, shown in the
// progress window, cancellable from its buttons.
#include "app/episode_download.h"

#include <algorithm>

#include "app/episode_transfer.h"
#include "app/feed_monitor.h"
#include "app/proxy_text.h"
#include "http/http_cli.h"
#include "platform/application.h"

namespace app {
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
    // Episodes of one server come one after another: its connection is kept for the next, which
    // saves a round trip each.
    client->Connection = "Keep-Alive";
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

bool FeedMonitor::DownloadFile(const std::string& url, const std::string& path,
                               const EpisodeOrigin& origin) {
    bool landed = false;
    StartDownload(url, path, origin, [&landed](bool hasLanded) { landed = hasLanded; });
    WaitForDownloads(0);
    return landed;
}

void FeedMonitor::StartDownload(const std::string& url, const std::string& path,
                                const EpisodeOrigin& origin,
                                std::function<void(bool landed)> ended) {
    WaitForFreeSlot();
    const std::size_t slots = std::max<std::size_t>(DownloadsAtOnce, 1);
    auto download = std::make_unique<RunningDownload>();
    download->slot = FreeSlot();
    download->ended = std::move(ended);
    THttpCli& client = ClientOfSlot(download->slot);
    RunningDownload& started = *download;
    download->transfer = std::make_unique<EpisodeTransfer>(
        client, EpisodeTransfer::Order{url, path, origin},
        EpisodeTransfer::Settings{
            UiLanguage, DownloadInactivityLimit, [this] { return UsableHistory(); },
            [this, &started] { DownloadProgressed(started); },
            // Downloads side by side take no more memory than one.
            platform::FileStream::kDefaultWriteBlock / static_cast<std::int64_t>(slots)});
    const std::string& fileName = download->transfer->FileName();
    if (DownloadsAtOnce <= 1) ShowDownloadOf(fileName);
    view_.DownloadStarted(download->slot, fileName);
    try {
        ApplyProxyText(client, view_.ProxyText());
        download->transfer->Start();
    } catch (...) {
        // Anything but the client's failure ends the run; the window must not stay up.
        if (DownloadsAtOnce <= 1) view_.SetVisible(Window::Progress, "", false);
        view_.DownloadEnded(download->slot, 0, nullptr);
        throw;
    }
    running_.push_back(std::move(download));
}

void FeedMonitor::WaitForDownloads(std::size_t running) {
    platform::Application& application = platform::App();
    TakeEndedDownloads();
    while (running_.size() > running) {
        application.WaitForInput(1000);
        application.ProcessMessages();
        if (application.Terminated()) AbortDownloads();
        TakeEndedDownloads();
    }
}

void FeedMonitor::TakeEndedDownloads() {
    for (std::size_t i = 0; i < running_.size();) {
        RunningDownload& download = *running_[i];
        bool ended = false;
        try {
            ended = download.transfer->RequestEnded() && download.transfer->Advance();
        } catch (...) {
            if (DownloadsAtOnce <= 1) view_.SetVisible(Window::Progress, "", false);
            view_.DownloadEnded(download.slot, 0, nullptr);
            running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
            throw;
        }
        if (!ended) {
            ++i;
            continue;
        }
        std::unique_ptr<RunningDownload> taken = std::move(running_[i]);
        running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(i));
        EndDownload(*taken);
    }
}

void FeedMonitor::EndDownload(RunningDownload& download) {
    const std::optional<std::string> failure = download.transfer->Failure();
    const FailedDownload* listed = nullptr;
    if (failure && !download.cancelled) {
        failedDownloads_.push_back({download.transfer->FileName(), *failure});
        listed = &failedDownloads_.back();
    }
    // Recorded before the window goes, whose hiding ends the download for the views.
    view_.DownloadEnded(download.slot, download.transfer->Client().BodyReceivedCount(), listed);
    if (DownloadsAtOnce <= 1) {
        view_.SetGaugeValue(Window::Progress, "Gauge1", 0);
        view_.SetVisible(Window::Progress, "", false);
    }
    download.transfer.reset();
    if (download.ended) download.ended(!failure);
}

void FeedMonitor::DownloadProgressed(RunningDownload& download) {
    const THttpCli& client = download.transfer->Client();
    view_.DownloadProgress(download.slot, client.BodyReceivedCount(), client.DocumentLength());
    if (DownloadsAtOnce <= 1)
        view_.SetGaugeValue(
            Window::Progress, "Gauge2",
            ProgressGaugeValue(download.transfer->Received(), download.transfer->Length()));
}

THttpCli& FeedMonitor::ClientOfSlot(std::size_t slot) {
    if (slot == 0) return *httpCli1_;
    while (slotClients_.size() < slot) {
        std::unique_ptr<THttpCli> client = CreateDownloadClient();
        // As the program set up the first client.
        client->SetQtxLogger(httpCli1_->QtxLogger());
        client->SslExtraCaFile = httpCli1_->SslExtraCaFile;
        slotClients_.push_back(std::move(client));
    }
    return *slotClients_[slot - 1];
}

std::size_t FeedMonitor::FreeSlot() const {
    for (std::size_t slot = 0;; ++slot) {
        bool taken = false;
        for (const auto& download : running_)
            taken = taken || download->slot == slot;
        if (!taken) return slot;
    }
}

// The user's cancel: the downloads it ends are no failures to report. A click handled after a
// request ended but before its end was taken has nothing to abort: an abort of the ready client
// would turn its failed answer into "200 OK" and keep the error page.
void FeedMonitor::AbortDownloads() {
    for (const auto& download : running_) {
        download->cancelled = true;
        download->transfer->Abort();
    }
}

void FeedMonitor::CancelCurrentDownload() {
    AbortDownloads();
    ++cancelClicks_;
    --NewFileCount;
}

void FeedMonitor::CancelAllDownloads() {
    CancelAll = true;
    AbortDownloads();
}

}  // namespace app
