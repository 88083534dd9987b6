#include "app/cli/terminal_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cinttypes>
#include <filesystem>

#include "app/cli/terminal_texts.h"
#include "http/http_cli.h"

namespace app::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Printf(const char* format, auto... values) {
    char text[128];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string MinutesAndSeconds(double seconds) {
    const auto whole = static_cast<std::int64_t>(seconds + 0.5);
    return Printf("%" PRId64 ":%02d", whole / 60, static_cast<int>(whole % 60));
}

// A line wider than the terminal would wrap, and the next redraw would start on the wrong row.
std::string FittedTo(std::FILE* stream, std::string line) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return line;
    const std::size_t room = size.ws_col - 1;
    if (line.size() <= room) return line;
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;  // not inside a UTF-8 character
    line.resize(cut);
    return line;
}

}  // namespace

std::string SizeText(std::int64_t bytes) {
    if (bytes < 1024) return Printf("%" PRId64 " B", bytes);
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    return Printf("%.1f %s", value, units[unit]);
}

std::string ProgressLine(const std::string& name, std::int64_t received, std::int64_t length,
                         double seconds, std::uint8_t language) {
    const double rate = seconds > 0 ? static_cast<double>(received) / seconds : 0;
    std::string line = name;
    if (length > 0) {
        line += Printf("  %3d%%", static_cast<int>(received * 100 / length));
        line += "  " + SizeText(received) + " / " + SizeText(length);
    } else {
        line += "  " + SizeText(received);
    }
    line += "  " + SizeText(static_cast<std::int64_t>(rate)) + "/s";
    if (length > 0 && rate > 0 && received <= length) {
        const double left = static_cast<double>(length - received) / rate;
        line += "  " + TextOf(language, TerminalText::TimeLeft, MinutesAndSeconds(left));
    }
    return line;
}

std::string FinishedLine(const std::string& name, std::int64_t bytes, double seconds) {
    return name + "  " + SizeText(bytes) + Printf("  %.1f s", seconds);
}

TerminalView::TerminalView(std::FILE* out, std::FILE* err, bool quiet, bool live)
    : out_(out), err_(err), quiet_(quiet), live_(live && !quiet) {}

void TerminalView::PrintLine(std::FILE* stream, const std::string& line) {
    ClearProgress();
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

void TerminalView::SetCaption(Window window, const std::string& control, const std::string& text) {
    if (window == Window::Progress && control == "Label4") fileName_ = text;
}

void TerminalView::SetVisible(Window window, const std::string& control, bool visible) {
    if (window != Window::Progress || !control.empty() || !monitor_) return;
    if (visible) {
        DownloadStarted();
    } else {
        DownloadEnded();
    }
}

void TerminalView::SetGaugeValue(Window window, const std::string& control, int) {
    if (!live_ || !monitor_ || window != Window::Progress || control != "Gauge2") return;
    const THttpCli& client = *monitor_->HttpCli1();
    DrawProgress(client.BodyReceivedCount(), client.DocumentLength(), false);
}

void TerminalView::DownloadStarted() {
    started_ = Clock::now();
    failuresBefore_ = monitor_->FailedDownloads().size();
    DrawProgress(0, -1, true);  // the client still holds the last request's counts
}

void TerminalView::DownloadEnded() {
    ClearProgress();
    const auto& failures = monitor_->FailedDownloads();
    for (std::size_t i = failuresBefore_; i < failures.size(); ++i)
        PrintLine(err_, TextOf(monitor_->UiLanguage, TerminalText::DownloadFailed,
                               failures[i].FileName + ": " + failures[i].Reason));
    failuresBefore_ = failures.size();
    // Neither failed nor in place: an error ends the run, and the run reports it.
    std::error_code error;
    if (quiet_ || !std::filesystem::exists(monitor_->DownloadFolder + fileName_, error)) return;
    PrintLine(out_, FinishedLine(fileName_, monitor_->HttpCli1()->BodyReceivedCount(),
                                 SecondsSinceStart()));
}

void TerminalView::DrawProgress(std::int64_t received, std::int64_t length, bool evenIfRecent) {
    if (!live_) return;
    const Clock::time_point now = Clock::now();
    if (!evenIfRecent && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    std::string line =
        ProgressLine(fileName_, received, length, SecondsSinceStart(), monitor_->UiLanguage);
    std::fprintf(out_, "\r%s\x1b[K", FittedTo(out_, line).c_str());
    std::fflush(out_);
    progressShown_ = true;
}

void TerminalView::ClearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\x1b[K", out_);
    std::fflush(out_);
    progressShown_ = false;
}

double TerminalView::SecondsSinceStart() const {
    return std::chrono::duration<double>(Clock::now() - started_).count();
}

}  // namespace app::cli
