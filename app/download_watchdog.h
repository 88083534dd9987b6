// Gives up a download that has stopped receiving: a timer of the thread's message loop looks at a
// progress counter on every tick and, once it has not moved for the limit, runs the action once.
// The loop keeps running meanwhile, so the windows and their buttons stay usable while it waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/message_loop.h"

namespace app {

class DownloadWatchdog {
  public:
    using Clock = std::chrono::steady_clock;

    DownloadWatchdog(std::chrono::milliseconds limit, std::function<std::uint64_t()> progress,
                     std::function<void()> onSilence);
    ~DownloadWatchdog();
    DownloadWatchdog(const DownloadWatchdog&) = delete;
    DownloadWatchdog& operator=(const DownloadWatchdog&) = delete;

    bool Fired() const { return fired_; }

  private:
    void Tick();

    std::chrono::milliseconds limit_;
    std::function<std::uint64_t()> progress_;
    std::function<void()> onSilence_;
    std::uint64_t lastProgress_;
    Clock::time_point lastChange_ = Clock::now();
    bool fired_ = false;
    platform::HWND window_ = 0;
};

}  // namespace app
