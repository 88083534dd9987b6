#include "app/cli/cli_session.h"

#include <cstdio>
#include <filesystem>

#include "app/cli/interrupt_signals.h"
#include "app/cli/terminal_texts.h"
#include "app/message_table.h"
#include "app/run_lock.h"
#include "platform/system.h"

namespace app::cli {
namespace {

constexpr int kCancelledSummary = 9;

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
    view_.Follow(monitor_);
}

CliSession::~CliSession() {
    platform::SetApplication(previous_);
}

int CliSession::Run() {
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
        case Command::Add:
            return Edit([this] { return Add(); });
        case Command::Remove:
            return Edit([this] { return Remove(); });
        case Command::Folder:
            return line_.argument ? Edit([this] { return SetFolder(); }) : ShowFolder();
        default:
            return Scan();
    }
}

int CliSession::List() {
    for (std::size_t i = 0; i < monitor_.FeedEntries.size(); ++i)
        std::printf("%zu  %s\n", i + 1, monitor_.FeedEntries[i].FeedUrl.c_str());
    return kSucceeded;
}

int CliSession::ShowFolder() {
    std::printf("%s\n", view_.folderText.c_str());
    return kSucceeded;
}

// A change saved while a run of the same list is under way would be lost when that run saves.
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
    if (runRefused_) return kUsageError;
    if (const int signal = InterruptSignals::Received()) {
        PrintOutput(Text(kCancelledSummary));
        SaveList();
        return 128 + signal;
    }
    const int saved = SaveList();
    if (errorReports_ > 0 || !monitor_.FailedDownloads().empty()) return kFailed;
    return saved;
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
    } else if (box.kind != Kind::Message) {
        return;
    } else if (box.buttons != platform::MessageBoxButtons::Ok) {
        // The question whether to delete a feed without enclosures; unanswered, it is a no.
        PrintError(TextOf(monitor_.UiLanguage, TerminalText::FeedWithoutEnclosures,
                          monitor_.FeedEntries.at(monitor_.FeedIndex).FeedUrl));
    } else if (box.caption ==
               FailureTextIn(monitor_.UiLanguage, FailureText::FailedDownloadsCaption)) {
        return;  // each failure was printed as its download ended
    } else if (box.text == Text(kAnotherRunMessage)) {
        runRefused_ = true;
        PrintError(box.text);
    } else {
        PrintOutput(box.text);  // the run's summary
    }
}

void CliSession::PrintOutput(const std::string& text) {
    if (!view_.Quiet()) view_.PrintLine(stdout, text);
}

}  // namespace app::cli
