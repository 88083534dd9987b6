// The feed monitor's view on a terminal: the fields are plain values set from the command line, the
// progress window becomes one live line per running download (at most ten redraws a second), and
// each finished episode a line of its own; without a terminal only the finished lines are written.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/feed_monitor.h"

namespace app::cli {

// "512 B", "12.3 KiB", "1.0 MiB", "2.5 GiB".
std::string SizeText(std::int64_t bytes);
// name, percent, bytes, rate and time left; the percent and the time left only with a length.
std::string ProgressLine(const std::string& name, std::int64_t received, std::int64_t length,
                         double seconds, std::uint8_t language);
// name, size and time of a finished download.
std::string FinishedLine(const std::string& name, std::int64_t bytes, double seconds);

class TerminalView : public FeedMonitorView {
  public:
    // out gets progress and finished lines (none when quiet), err the failures; live draws the
    // progress line, for a terminal.
    TerminalView(std::FILE* out, std::FILE* err, bool quiet, bool live);
    // The monitor whose downloads are shown.
    void Follow(FeedMonitor& monitor) { monitor_ = &monitor; }

    // Writes one line, after taking the progress line off the terminal.
    void PrintLine(std::FILE* stream, const std::string& line);
    bool Quiet() const { return quiet_; }

    // The main window's fields, set and read by the commands.
    std::string newFeedText;
    std::string folderText;
    std::string proxyText;
    int selectedRow = -1;

    void AppendFeedRow(const std::string&) override {}
    void DeleteFeedRow(int) override { selectedRow = -1; }
    int SelectedFeedRow() const override { return selectedRow; }
    std::string NewFeedText() const override { return newFeedText; }
    void SetNewFeedText(const std::string& text) override { newFeedText = text; }
    std::string FolderText() const override { return folderText; }
    void SetFolderText(const std::string& text) override { folderText = text; }
    std::string ProxyText() const override { return proxyText; }
    bool ProxyChecked() const override { return !proxyText.empty(); }
    void ShowAboutModal() override {}
    void SetCaption(Window, const std::string&, const std::string&) override {}
    void SetEnabled(Window, const std::string&, bool) override {}
    void SetVisible(Window, const std::string&, bool) override {}
    int Width(Window, const std::string&) const override { return 0; }
    void SetLeft(Window, const std::string&, int) override {}
    void SetGaugeValue(Window, const std::string&, int) override {}
    void DownloadStarted(std::size_t slot, const std::string& fileName) override;
    void DownloadProgress(std::size_t slot, std::int64_t received, std::int64_t length) override;
    void DownloadEnded(std::size_t slot, std::int64_t received,
                       const FailedDownload* failure) override;

  private:
    using Clock = std::chrono::steady_clock;

    struct Download {
        std::size_t slot;
        std::string fileName;
        Clock::time_point started;
        std::int64_t received = 0;
        std::int64_t length = -1;
        double Seconds() const;
    };
    Download* DownloadIn(std::size_t slot);
    void DrawProgress(bool evenIfRecent);
    void ClearProgress();

    std::FILE* out_;
    std::FILE* err_;
    bool quiet_;
    bool live_;
    FeedMonitor* monitor_ = nullptr;
    std::vector<Download> downloads_;  // in the order they started, a line each
    Clock::time_point lastDrawn_;
    std::size_t linesShown_ = 0;
};

}  // namespace app::cli
