// One episode download on the thread's message loop: the file at an URL into the download folder
// through a client lent for the download's time, continuing the ".part" the history kept for the
// episode, given up by its own watchdog once it receives nothing for the limit. Its owner starts
// it, lets the loop run, and takes the next step each time the client's request has ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/episode_history.h"
#include "app/feed_monitor.h"
#include "http/http_cli.h"
#include "platform/streams.h"

namespace app {

class DownloadWatchdog;
class PartialFile;

class EpisodeTransfer {
  public:
    struct Order {
        std::string url;
        std::string path;  // the final name in the download folder
        EpisodeOrigin origin;
    };
    struct Settings {
        std::uint8_t language = 0;  // of the failure texts
        std::chrono::milliseconds inactivityLimit{60000};
        // The run's history while it is usable; nullptr: none, a download cut short is not kept.
        std::function<EpisodeHistory*()> history;
        std::function<void()> onProgress;  // after each body block received
        // The bytes the file gathers before it writes them out.
        std::int64_t writeBlock = platform::FileStream::kDefaultWriteBlock;
    };

    EpisodeTransfer(THttpCli& client, Order order, Settings settings);
    // A request still running is aborted; the client gets its handlers back.
    ~EpisodeTransfer();
    EpisodeTransfer(const EpisodeTransfer&) = delete;
    EpisodeTransfer& operator=(const EpisodeTransfer&) = delete;

    // Opens the file and sends the request; raises when the file cannot be created.
    void Start();
    // The client's request has ended: Advance has a step to take.
    bool RequestEnded() const { return requestEnded_; }
    // The step after a request's end: the second request of a download whose kept bytes are no
    // prefix of the file, or the end. True once the download has ended. Raises what must end the
    // run, such as a file that refused a write.
    bool Advance();
    // After the end: why the episode did not land, or nothing when it did.
    const std::optional<std::string>& Failure() const { return failure_; }
    // Ends the request, if one runs; the download ends as cut short.
    void Abort();

    // The file's bytes so far and its whole length (-1 when not announced), bytes kept from an
    // earlier run included.
    std::int64_t Received() const;
    std::int64_t Length() const;
    THttpCli& Client() { return client_; }
    // The name of the episode's file in the download folder.
    const std::string& FileName() const { return fileName_; }

  private:
    // One request into the file, asking for the rest of the kept bytes if any.
    struct Attempt {
        std::optional<std::string> failure;
        bool startOver = false;     // the answer is no continuation of the kept bytes
        bool episodeBytes = false;  // the final answer's body is the episode's (200, or the rest)
        std::string validator;      // for If-Range next time; empty when it cannot be continued
        std::int64_t total = -1;    // the whole file's length, when announced
    };

    void StartAttempt();
    void EndAttempt();
    void Finish();
    void Lend();
    void GiveBack();
    void DocBegin();

    THttpCli& client_;
    Order order_;
    Settings settings_;
    std::string fileName_;
    EpisodeHistory* store_ = nullptr;  // nullptr: the download is not continued by a later run
    std::optional<PartialDownload> kept_;
    bool recordedAsPartial_ = false;
    std::unique_ptr<PartialFile> target_;
    Attempt attempt_;
    bool startedOver_ = false;
    std::int64_t from_ = 0;         // the kept bytes the request asks to continue
    std::int64_t gaugeOffset_ = 0;  // the bytes the file had before this answer's body
    // Header lines and body blocks received, the download's sign of life for its watchdog.
    std::uint64_t receivedPieces_ = 0;
    std::unique_ptr<DownloadWatchdog> watchdog_;
    bool lent_ = false;
    THttpRequestDone previousRequestDone_;
    bool requestEnded_ = false;
    std::uint16_t requestDoneError_ = 0;
    std::optional<std::string> failure_;
};

}  // namespace app
