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
#include "app/partial_file.h"
#include "app/proxy_text.h"
#include "app/resume_range.h"
#include "http/http_cli.h"
#include "platform/streams.h"

namespace app {
namespace {

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

// The client's header and document-start handlers for one request, taken back however it ends.
class LentHandlers {
  public:
    LentHandlers(THttpCli& client, TBeforeHeaderSendEvent beforeHeaderSend,
                 THttpNotifyEvent docBegin)
        : client_(client) {
        client_.OnBeforeHeaderSend = std::move(beforeHeaderSend);
        client_.OnDocBegin = std::move(docBegin);
    }
    ~LentHandlers() {
        client_.OnBeforeHeaderSend = nullptr;
        client_.OnDocBegin = nullptr;
    }
    LentHandlers(const LentHandlers&) = delete;
    LentHandlers& operator=(const LentHandlers&) = delete;

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
    ShowDownloadOf(FileNameOf(path));
    downloadCancelled_ = false;
    std::optional<std::string> failure;
    try {
        failure = ReceiveEpisode(url, path, origin);
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
                                                       const std::string& path,
                                                       const EpisodeOrigin& origin) {
    EpisodeHistory* store = origin.identity.empty() ? nullptr : UsableHistory();
    const std::string fileName = FileNameOf(path);
    std::optional<PartialDownload> kept = store ? store->Partial(fileName) : std::nullopt;
    const bool recordedAsPartial = kept.has_value();
    if (kept && kept->identity != origin.identity) kept.reset();
    PartialFile target(path, kept.has_value());
    if (target.KeptBytes() == 0) kept.reset();
    ApplyProxyText(*httpCli1_, view_.ProxyText());
    Attempt attempt = ReceiveInto(url, target, kept);
    if (attempt.startOver) {
        target.StartOver();
        kept.reset();
        attempt = ReceiveInto(url, target, kept);
    }
    // No episode is empty, and an empty file would count as downloaded for ever.
    if (!attempt.failure && target.Stream().Size() == 0)
        attempt.failure = std::string(FailureTextIn(UiLanguage, FailureText::EmptyAnswer));
    if (!attempt.failure) {
        target.Complete(path);
        return std::nullopt;
    }
    // Cut short: what is the episode's stays for the next run to continue.
    const bool continuable =
        attempt.episodeBytes && !attempt.validator.empty() && target.Stream().Size() > 0;
    if (store && continuable) {
        store->RecordPartial(origin.feedUrl, fileName,
                             {origin.identity, attempt.validator, attempt.total});
        if (UsableHistory()) target.Keep();
    } else if (kept && target.KeptBytes() > 0) {
        target.KeepKeptBytes();  // nothing of the episode came this time
    } else if (store && recordedAsPartial) {
        store->ForgetPartial(fileName);
    }
    return attempt.failure;
}

FeedMonitor::Attempt FeedMonitor::ReceiveInto(const std::string& url, PartialFile& target,
                                              const std::optional<PartialDownload>& kept) {
    THttpCli& client = *httpCli1_;
    client.URL = url;
    // The client keeps the last answer's Content-Range there, to be sent with its next request.
    client.ContentRangeBegin.clear();
    client.ContentRangeEnd.clear();
    Attempt attempt;
    const std::int64_t from = kept ? target.KeptBytes() : 0;
    gaugeOffset_ = from;
    {
        LentStream lent(client, target.Stream());
        // Every request of the download asks for the rest, relocated ones included.
        LentHandlers handlers(
            client,
            [&](THttpCli*, const std::string&, std::vector<std::string>& headers) {
                if (!kept) return;
                for (std::string& line : ResumeRequestLines(from, kept->validator))
                    headers.push_back(std::move(line));
            },
            // Decided before the first byte of the final answer's body reaches the file.
            [&](THttpCli*) {
                const std::vector<std::string>& lines = client.ResponseHeaderLines();
                if (client.StatusCode() == 206 && kept) {
                    attempt.episodeBytes = ContinuesAt(lines, from, kept->length);
                    attempt.validator = kept->validator;
                    attempt.total = kept->length;
                    attempt.startOver = !attempt.episodeBytes;
                    if (attempt.startOver) client.Abort();
                } else if (client.StatusCode() == 200) {
                    // The whole file, changed or not: it replaces what was kept.
                    if (target.KeptBytes() > 0) target.StartOver();
                    gaugeOffset_ = 0;
                    attempt.episodeBytes = true;
                    attempt.validator = RangeValidatorOf(lines);
                    attempt.total = client.DocumentLength();
                }
            });
        // The client has no time-out of its own: a server that goes silent would hold the run.
        DownloadWatchdog watchdog(
            DownloadInactivityLimit, [this] { return receivedPieces_; },
            [&client] {
                if (client.State() != httpReady) client.Abort();
            });
        if (std::optional<DownloadFailure> ended = GetFailure(client)) {
            TraceFailure(client, url, *ended);
            attempt.failure = FailureReasonText(UiLanguage, *ended);
        }
        if (watchdog.Fired())
            attempt.failure = FillIn(FailureTextIn(UiLanguage, FailureText::NothingReceived),
                                     {ConnectedHost(client), SecondsText(DownloadInactivityLimit)});
    }
    // The kept bytes are no prefix of what the server has now.
    if (kept && client.StatusCode() == 416) attempt.startOver = true;
    return attempt;
}

void FeedMonitor::HttpCli1DocData() {
    ++receivedPieces_;
    view_.SetGaugeValue(
        Window::Progress, "Gauge2",
        ProgressGaugeValue(gaugeOffset_ + httpCli1_->BodyReceivedCount(),
                           httpCli1_->DocumentLength() == -1
                               ? -1
                               : gaugeOffset_ + httpCli1_->DocumentLength()));
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
