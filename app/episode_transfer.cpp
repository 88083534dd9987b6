#include "app/episode_transfer.h"

#include "app/download_failure.h"
#include "app/download_watchdog.h"
#include "app/message_table.h"
#include "app/partial_file.h"
#include "app/resume_range.h"

namespace app {
namespace {

// The limit in seconds as the user reads it: "60", or "0.3" for the short limits of tests.
std::string SecondsText(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000);
    std::string text = std::to_string(limit.count() / 1000) + ".";
    return text + std::to_string(limit.count() % 1000 / 100);
}

}  // namespace

EpisodeTransfer::EpisodeTransfer(THttpCli& client, Order order, Settings settings)
    : client_(client),
      order_(std::move(order)),
      settings_(std::move(settings)),
      fileName_(order_.path.substr(order_.path.rfind('/') + 1)) {}

EpisodeTransfer::~EpisodeTransfer() {
    Abort();
    GiveBack();
}

void EpisodeTransfer::Start() {
    store_ = order_.origin.identity.empty() ? nullptr : settings_.history();
    kept_ = store_ ? store_->Partial(fileName_) : std::nullopt;
    recordedAsPartial_ = kept_.has_value();
    if (kept_ && kept_->identity != order_.origin.identity) kept_.reset();
    target_ = std::make_unique<PartialFile>(order_.path, kept_.has_value());
    target_->Stream().SetWriteBlock(settings_.writeBlock);
    if (target_->KeptBytes() == 0) kept_.reset();
    Lend();
    StartAttempt();
}

bool EpisodeTransfer::Advance() {
    requestEnded_ = false;
    EndAttempt();
    if (attempt_.startOver && !startedOver_) {
        startedOver_ = true;
        target_->StartOver();
        kept_.reset();
        StartAttempt();
        return false;
    }
    Finish();
    return true;
}

std::int64_t EpisodeTransfer::Received() const {
    return gaugeOffset_ + client_.BodyReceivedCount();
}

std::int64_t EpisodeTransfer::Length() const {
    return client_.DocumentLength() == -1 ? -1 : gaugeOffset_ + client_.DocumentLength();
}

void EpisodeTransfer::Abort() {
    if (lent_ && client_.State() != httpReady) client_.Abort();
}

// The client is the transfer's from the first request to the end; its request-done handler is
// still heard, as tests and the window program hook it.
void EpisodeTransfer::Lend() {
    lent_ = true;
    client_.BodyStream = &target_->Stream();
    // Every request of the download asks for the rest, relocated ones included.
    client_.OnBeforeHeaderSend = [this](THttpCli*, const std::string&,
                                        std::vector<std::string>& headers) {
        if (!kept_) return;
        for (std::string& line : ResumeRequestLines(from_, kept_->validator))
            headers.push_back(std::move(line));
    };
    client_.OnDocBegin = [this](THttpCli*) { DocBegin(); };
    client_.OnHeaderData = [this](THttpCli*) { ++receivedPieces_; };
    client_.OnDocData = [this](THttpCli*, const char*, int) {
        ++receivedPieces_;
        if (settings_.onProgress) settings_.onProgress();
    };
    previousRequestDone_ = client_.OnRequestDone;
    client_.OnRequestDone = [this](THttpCli* sender, THttpRequest request, std::uint16_t error) {
        requestEnded_ = true;
        requestDoneError_ = error;
        if (previousRequestDone_) previousRequestDone_(sender, request, error);
    };
}

void EpisodeTransfer::GiveBack() {
    if (!lent_) return;
    lent_ = false;
    watchdog_.reset();
    client_.BodyStream = nullptr;
    client_.OnBeforeHeaderSend = nullptr;
    client_.OnDocBegin = nullptr;
    client_.OnHeaderData = nullptr;
    client_.OnDocData = nullptr;
    client_.OnRequestDone = previousRequestDone_;
}

void EpisodeTransfer::StartAttempt() {
    client_.URL = order_.url;
    // The client keeps the last answer's Content-Range there, to be sent with its next request.
    client_.ContentRangeBegin.clear();
    client_.ContentRangeEnd.clear();
    attempt_ = {};
    from_ = kept_ ? target_->KeptBytes() : 0;
    gaugeOffset_ = from_;
    // The client has no time-out of its own: a server that goes silent would hold the run.
    watchdog_ = std::make_unique<DownloadWatchdog>(
        settings_.inactivityLimit, [this] { return receivedPieces_; },
        [this] {
            if (client_.State() != httpReady) client_.Abort();
        });
    client_.StartGet();
}

// Decided before the first byte of the final answer's body reaches the file.
void EpisodeTransfer::DocBegin() {
    const std::vector<std::string>& lines = client_.ResponseHeaderLines();
    if (client_.StatusCode() == 206 && kept_) {
        attempt_.episodeBytes = ContinuesAt(lines, from_, kept_->length);
        attempt_.validator = kept_->validator;
        attempt_.total = kept_->length;
        attempt_.startOver = !attempt_.episodeBytes;
        if (attempt_.startOver) client_.Abort();
    } else if (client_.StatusCode() == 200) {
        // The whole file, changed or not: it replaces what was kept.
        if (target_->KeptBytes() > 0) target_->StartOver();
        gaugeOffset_ = 0;
        attempt_.episodeBytes = true;
        attempt_.validator = RangeValidatorOf(lines);
        attempt_.total = client_.DocumentLength();
    }
}

void EpisodeTransfer::EndAttempt() {
    const bool silent = watchdog_ && watchdog_->Fired();
    watchdog_.reset();
    if (std::optional<DownloadFailure> ended = RequestEndFailure(client_, requestDoneError_)) {
        TraceFailure(client_, order_.url, *ended);
        attempt_.failure = FailureReasonText(settings_.language, *ended);
    }
    if (silent)
        attempt_.failure = FillIn(FailureTextIn(settings_.language, FailureText::NothingReceived),
                                  {ConnectedHost(client_), SecondsText(settings_.inactivityLimit)});
    // The kept bytes are no prefix of what the server has now.
    if (kept_ && client_.StatusCode() == 416) attempt_.startOver = true;
}

void EpisodeTransfer::Finish() {
    GiveBack();
    // No episode is empty, and an empty file would count as downloaded for ever.
    if (!attempt_.failure && target_->Stream().Size() == 0)
        attempt_.failure = std::string(FailureTextIn(settings_.language, FailureText::EmptyAnswer));
    if (!attempt_.failure) {
        target_->Complete(order_.path);
        return;
    }
    failure_ = attempt_.failure;
    // Cut short: what is the episode's stays for the next run to continue.
    const bool continuable =
        attempt_.episodeBytes && !attempt_.validator.empty() && target_->Stream().Size() > 0;
    if (store_ && continuable) {
        store_->RecordPartial(order_.origin.feedUrl, fileName_,
                              {order_.origin.identity, attempt_.validator, attempt_.total});
        if (settings_.history()) target_->Keep();
    } else if (kept_ && target_->KeptBytes() > 0) {
        target_->KeepKeptBytes();  // nothing of the episode came this time
    } else if (store_ && recordedAsPartial_) {
        store_->ForgetPartial(fileName_);
    }
}

}  // namespace app
