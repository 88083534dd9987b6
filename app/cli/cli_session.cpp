#include "app/cli/cli_session.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/cli/interrupt_signals.h"
#include "app/cli/terminal_texts.h"
#include "app/file_replace.h"
#include "app/message_table.h"
#include "app/run_lock.h"
#include "app/trace_log.h"
#include "http/http_cli.h"
#include "platform/exception.h"
#include "platform/system.h"

namespace app::cli {
namespace {

constexpr int kCancelledSummary = 9;

int SummaryMessage(RunOutcome::Ending ending) {
    switch (ending) {
        case RunOutcome::Ending::NewFiles:
            return 3;
        case RunOutcome::Ending::Cancelled:
            return kCancelledSummary;
        default:
            return 5;
    }
}

std::optional<std::uint16_t> FeedNumberOrUrl(const std::vector<FeedEntry>& feeds,
                                             const std::string& given) {
    if (given.find_first_not_of("0123456789") == std::string::npos && given.size() <= 5) {
        const unsigned long number = std::stoul(given);
        if (number >= 1 && number <= feeds.size()) return static_cast<std::uint16_t>(number - 1);
        return std::nullopt;
    }
    for (std::size_t i = 0; i < feeds.size(); ++i)
        if (feeds[i].FeedUrl == given) return static_cast<std::uint16_t>(i);
    return std::nullopt;
}

// "2026-12-08 23:10" in the local time zone.
std::string LocalTimeText(std::int64_t secondsSince1970) {
    const std::time_t time = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&time, &local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

}  // namespace

CliSession::CliSession(const CommandLine& line, const std::string& programDir,
                       bool stdoutIsTerminal)
    : line_(line),
      previous_(platform::SetApplication(&application_)),
      view_(stdout, stderr, line.quiet, stdoutIsTerminal),
      monitor_(view_, programDir) {
    application_.SetTitle("TOVEKA Vozuvor Ezirezodoz");
    application_.OnBoxShown = [this](const platform::ShownBox& box) { OnBox(box); };
    if (line_.listFile) monitor_.ListFile = std::filesystem::absolute(*line_.listFile).string();
    view_.proxyText = line_.proxy;
    if (line_.episodesPerFeed) monitor_.EpisodesPerRun = *line_.episodesPerFeed;
    if (line_.jobs) monitor_.DownloadsAtOnce = *line_.jobs;
    view_.Follow(monitor_);
}

CliSession::~CliSession() {
    platform::SetApplication(previous_);
}

int CliSession::Run() {
    if (line_.traceFile) {
        try {
            trace_ = OpenTraceLog(*line_.traceFile);
        } catch (const platform::Exception& error) {
            PrintError(error.what());
            return kUsageError;
        }
        monitor_.HttpCli1()->SetQtxLogger(trace_.get());
    }
    monitor_.FormCreate(platform::GetSystemDefaultLangID());
    if (monitor_.ListFileUnreadable()) {
        PrintError(
            TextOf(monitor_.UiLanguage, TerminalText::UnreadableList, monitor_.ListFilePath()));
        return kUsageError;
    }
    if (errorReports_ > 0) return kFailed;
    switch (line_.command) {
        case Command::List:
            return List();
        case Command::History:
            return History();
        case Command::Add:
            return Edit([this] { return Add(); });
        case Command::Remove:
            return Edit([this] { return Remove(); });
        case Command::Folder:
            return line_.argument ? Edit([this] { return SetFolder(); }) : ShowFolder();
        case Command::Import:
            return Edit([this] { return Import(); });
        case Command::Export:
            return Export();
        default:
            return Scan();
    }
}

int CliSession::List() {
    const std::unique_ptr<EpisodeHistory> history = OpenHistory();
    const std::uint8_t language = monitor_.UiLanguage;
    for (std::size_t i = 0; i < monitor_.FeedEntries.size(); ++i) {
        const std::string& url = monitor_.FeedEntries[i].FeedUrl;
        std::printf("%zu  %s\n", i + 1, url.c_str());
        if (history && !history->Usable()) continue;
        const std::optional<FeedSummary> summary =
            history ? history->Summary(url) : std::nullopt;
        std::string state = TextOf(language, TerminalText::NotScanned);
        if (summary) {
            state = TextOf(language, TerminalText::NewestEpisode, summary->newestTitle);
            if (summary->pending > 0)
                state += "; " + TextOf(language, TerminalText::WaitingEpisodes,
                                       std::to_string(summary->pending));
        }
        std::printf("   %s\n", state.c_str());
    }
    if (history && !history->Usable()) {
        return HistoryUnusable(*history);
    }
    return kSucceeded;
}

int CliSession::History() {
    auto index = FeedNumberOrUrl(monitor_.FeedEntries, *line_.argument);
    const std::string url = index ? monitor_.FeedEntries[*index].FeedUrl : *line_.argument;
    const std::uint8_t language = monitor_.UiLanguage;
    const std::unique_ptr<EpisodeHistory> history = OpenHistory();
    const std::vector<EpisodeRecord> records =
        history ? history->List(url) : std::vector<EpisodeRecord>{};
    if (history && !history->Usable()) {
        return HistoryUnusable(*history);
    }
    if (records.empty()) {
        PrintError(TextOf(language, TerminalText::NothingRecorded, url));
        return kSucceeded;
    }
    for (const EpisodeRecord& record : records) {
        const std::string fate = record.fate == EpisodeFate::Downloaded
                                     ? TextOf(language, TerminalText::Downloaded, record.fileName)
                                     : TextOf(language, TerminalText::PassedOver);
        std::printf("%s  %s: %s\n", LocalTimeText(record.recordedAt).c_str(),
                    (record.title.empty() ? record.identity : record.title).c_str(), fate.c_str());
    }
    return kSucceeded;
}

int CliSession::HistoryUnusable(const EpisodeHistory& history) {
    PrintError(TextOf(monitor_.UiLanguage, TerminalText::HistoryUnusable,
                      history.Path() + " (" + history.Problem() + ")"));
    return kFailed;
}

std::unique_ptr<EpisodeHistory> CliSession::OpenHistory() {
    const std::string path = EpisodeHistory::PathFor(monitor_.ListFilePath());
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return nullptr;
    return std::make_unique<EpisodeHistory>(path);
}

int CliSession::ShowFolder() {
    std::printf("%s\n", view_.folderText.c_str());
    return kSucceeded;
}

// A change and a run of the same list exclude each other, so a run scans the list it loaded.
int CliSession::Edit(const std::function<int()>& change) {
    RunLock lock(monitor_.ListFilePath());
    if (!lock.Acquired()) {
        PrintError(Text(kAnotherRunMessage));
        return kUsageError;
    }
    const int status = change();
    return status == kSucceeded ? SaveList() : status;
}

int CliSession::Add() {
    view_.newFeedText = *line_.argument;
    monitor_.Button1Click();
    if (view_.newFeedText.empty()) return kSucceeded;
    PrintError(TextOf(monitor_.UiLanguage, TerminalText::ListFull));
    return kFailed;
}

int CliSession::Remove() {
    auto index = FeedNumberOrUrl(monitor_.FeedEntries, *line_.argument);
    if (!index) {
        PrintError(TextOf(monitor_.UiLanguage, TerminalText::NoSuchFeed, *line_.argument));
        return kUsageError;
    }
    view_.selectedRow = *index;
    monitor_.Button2Click();
    return kSucceeded;
}

int CliSession::SetFolder() {
    // Closing with no feeds removes the list file, and the folder with it.
    if (monitor_.FeedCount() == 0) {
        PrintError(TextOf(monitor_.UiLanguage, TerminalText::EmptyListNotKept));
        return kUsageError;
    }
    // As the window's picker, the field gets a full path.
    view_.SetFolderText(
        WithTrailingSeparator(std::filesystem::absolute(*line_.argument).lexically_normal()));
    return kSucceeded;
}

int CliSession::Scan() {
    if (monitor_.FeedCount() == 0) {
        PrintError(TextOf(monitor_.UiLanguage, TerminalText::EmptyList, monitor_.ListFilePath()));
        return kSucceeded;
    }
    // Where the window program asks, a missing download folder is created, parents included.
    std::error_code ignored;
    std::filesystem::create_directories(WithTrailingSeparator(view_.folderText), ignored);

    // An interruption acts as closing the window during the run: cancel all, then save.
    InterruptSignals signals([this] {
        if (monitor_.ScanBusy) monitor_.RequestClose();
    });
    try {
        monitor_.Button3Click();
    } catch (const std::exception& error) {
        application_.ShowException(error);
    }
    const RunOutcome& outcome = monitor_.LastRun();
    if (outcome.ending == RunOutcome::Ending::Refused) {
        PrintError(Text(kAnotherRunMessage));
        return kUsageError;
    }
    if (const int signal = InterruptSignals::Received()) {
        PrintOutput(Text(kCancelledSummary));
        SaveList();
        return 128 + signal;
    }
    if (outcome.ending == RunOutcome::Ending::NewFiles ||
        outcome.ending == RunOutcome::Ending::NothingNew ||
        outcome.ending == RunOutcome::Ending::Cancelled)
        PrintOutput(Text(SummaryMessage(outcome.ending)));
    const int saved = SaveList();
    if (errorReports_ > 0 || !monitor_.FailedDownloads().empty()) return kFailed;
    return saved;
}

int CliSession::Import() {
    const OpmlImport outcome =
        monitor_.ImportOpml(std::filesystem::absolute(*line_.argument).string());
    if (!outcome.error.empty()) {
        PrintError(outcome.error);
        return kFailed;
    }
    PrintOutput(outcome.summary);
    return kSucceeded;
}

int CliSession::Export() {
    const std::string document = monitor_.ExportOpml();
    if (!line_.argument || *line_.argument == "-") {
        std::fwrite(document.data(), 1, document.size(), stdout);
        return std::fflush(stdout) == 0 ? kSucceeded : kFailed;
    }
    try {
        ReplaceFileContents(*line_.argument, document);
    } catch (const platform::Exception& error) {
        PrintError(error.what());
        return kFailed;
    }
    return kSucceeded;
}

int CliSession::SaveList() {
    const int reportsBefore = errorReports_;
    monitor_.FormClose();
    return errorReports_ > reportsBefore ? kFailed : kSucceeded;
}

void CliSession::OnBox(const platform::ShownBox& box) {
    using Kind = platform::ShownBox::Kind;
    if (box.kind == Kind::ErrorReport) {
        ++errorReports_;
        PrintError(box.text);
    } else if (box.kind == Kind::Message && box.buttons != platform::MessageBoxButtons::Ok) {
        // The question whether to delete a feed without enclosures; unanswered, it is a no.
        PrintError(TextOf(monitor_.UiLanguage, TerminalText::FeedWithoutEnclosures,
                          monitor_.FeedEntries.at(monitor_.FeedIndex).FeedUrl));
    }
    // The run's other boxes, its summary and its failures, are read from its outcome: each
    // failure was printed as its download ended.
}

void CliSession::PrintOutput(const std::string& text) {
    if (!view_.Quiet()) view_.PrintLine(stdout, text);
}

}  // namespace app::cli
