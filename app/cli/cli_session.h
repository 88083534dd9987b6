// One invocation of the command-line program: the headless application object and the terminal
// view around a feed monitor, which loads the list as the window program does at start-up; each
// command then acts through the main window's handlers and saves the list as closing the window
// does.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/cli/command_line.h"
#include "app/cli/terminal_view.h"
#include "app/episode_history.h"
#include "app/feed_monitor.h"
#include "log/qtx_logger.h"
#include "platform/headless_application.h"

namespace app::cli {

// Exit statuses.
constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

class CliSession {
  public:
    // programDir: the program's own folder, ending in "/".
    CliSession(const CommandLine& line, const std::string& programDir, bool stdoutIsTerminal);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Runs the command; returns the exit status.
    int Run();

  private:
    int List();
    int History();
    // The list's history for reading, or nothing when there is none yet (it is not created here).
    std::unique_ptr<EpisodeHistory> OpenHistory();
    // Says why the history cannot be read; kFailed.
    int HistoryUnusable(const EpisodeHistory& history);
    int ShowFolder();
    // Runs change holding the run lock and saves the list when it succeeded.
    int Edit(const std::function<int()>& change);
    int Add();
    int Remove();
    int SetFolder();
    int Scan();
    int Import();
    int Export();
    // Saves as closing the window does; kFailed when the list could not be written.
    int SaveList();

    void OnBox(const platform::ShownBox& box);
    void PrintError(const std::string& text) { view_.PrintLine(stderr, text); }
    void PrintOutput(const std::string& text);
    std::string Text(int message) const { return monitor_.MessageText(message); }

    CommandLine line_;
    std::unique_ptr<TQtxLogger> trace_;  // --trace; outlives nothing the client does
    platform::HeadlessApplication application_;
    platform::Application* previous_;
    TerminalView view_;
    FeedMonitor monitor_;
    int errorReports_ = 0;
};

}  // namespace app::cli
