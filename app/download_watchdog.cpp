#include "app/download_watchdog.h"

#include <algorithm>

namespace app {
namespace {

constexpr std::uintptr_t kTimerId = 1;

// Often enough to give up close to the limit, seldom enough to cost nothing.
unsigned TickInterval(std::chrono::milliseconds limit) {
    return static_cast<unsigned>(
        std::clamp<std::chrono::milliseconds::rep>(limit.count() / 10, 10, 1000));
}

}  // namespace

DownloadWatchdog::DownloadWatchdog(std::chrono::milliseconds limit,
                                   std::function<std::uint64_t()> progress,
                                   std::function<void()> onSilence)
    : limit_(limit),
      progress_(std::move(progress)),
      onSilence_(std::move(onSilence)),
      lastProgress_(progress_()) {
    window_ = platform::AllocateHWnd(
        [this](platform::HWND, platform::UINT message, platform::WPARAM, platform::LPARAM) {
            if (message == platform::WM_TIMER) Tick();
            return platform::LRESULT{0};
        });
    platform::SetTimer(window_, kTimerId, TickInterval(limit));
}

DownloadWatchdog::~DownloadWatchdog() {
    platform::DestroyWindow(window_);
}

void DownloadWatchdog::Tick() {
    const std::uint64_t progress = progress_();
    if (progress != lastProgress_) {
        lastProgress_ = progress;
        lastChange_ = Clock::now();
        return;
    }
    if (fired_ || Clock::now() - lastChange_ < limit_) return;
    fired_ = true;
    platform::KillTimer(window_, kTimerId);
    onSilence_();
}

}  // namespace app
