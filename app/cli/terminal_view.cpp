#include "app/cli/terminal_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cinttypes>
#include <filesystem>

#include "app/cli/terminal_texts.h"

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

// From the last of `lines` drawn lines to the first.
std::string CursorUp(std::size_t lines) {
    return lines > 1 ? "\x1b[" + std::to_string(lines - 1) + "A" : std::string();
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

void TerminalView::DownloadStarted(std::size_t slot, const std::string& fileName) {
    if (!monitor_) return;
    downloads_.push_back({slot, fileName, Clock::now()});
    DrawProgress(true);
}

void TerminalView::DownloadProgress(std::size_t slot, std::int64_t received, std::int64_t length) {
    Download* download = DownloadIn(slot);
    if (!download) return;
    download->received = received;
    download->length = length;
    DrawProgress(false);
}

void TerminalView::DownloadEnded(std::size_t slot, std::int64_t received,
                                 const FailedDownload* failure) {
    Download* download = DownloadIn(slot);
    if (!download) return;
    const Download ended = *download;
    downloads_.erase(downloads_.begin() + (download - downloads_.data()));
    ClearProgress();
    if (failure)
        PrintLine(err_, TextOf(monitor_->UiLanguage, TerminalText::DownloadFailed,
                               failure->FileName + ": " + failure->Reason));
    // Neither failed nor in place: an error ends the run, and the run reports it.
    std::error_code error;
    if (!quiet_ && std::filesystem::exists(monitor_->DownloadFolder + ended.fileName, error))
        PrintLine(out_, FinishedLine(ended.fileName, received, ended.Seconds()));
    DrawProgress(true);
}

TerminalView::Download* TerminalView::DownloadIn(std::size_t slot) {
    for (Download& download : downloads_)
        if (download.slot == slot) return &download;
    return nullptr;
}

// The lines are drawn anew from the first one, which the cursor is taken back to.
void TerminalView::DrawProgress(bool evenIfRecent) {
    if (!live_ || downloads_.empty()) return;
    const Clock::time_point now = Clock::now();
    if (!evenIfRecent && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    std::string text = "\r" + CursorUp(linesShown_);
    for (std::size_t i = 0; i < downloads_.size(); ++i) {
        const Download& download = downloads_[i];
        if (i > 0) text += "\n";
        text += FittedTo(out_, ProgressLine(download.fileName, download.received, download.length,
                                            download.Seconds(), monitor_->UiLanguage));
        text += "\x1b[K";
    }
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    linesShown_ = downloads_.size();
}

void TerminalView::ClearProgress() {
    if (linesShown_ == 0) return;
    const std::string text =
        "\r" + CursorUp(linesShown_) + (linesShown_ > 1 ? "\x1b[J" : "\x1b[K");
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    linesShown_ = 0;
}

double TerminalView::Download::Seconds() const {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

}  // namespace app::cli
