// SIGINT and SIGTERM as a call on the message loop's thread: the handler only notes the signal and
// wakes the loop through a pipe, and the loop runs onInterrupt from its next message processing,
// which the feed fetch and the download's wait do all the time. A second signal ends the process
// at once.
#pragma once

#include <functional>

namespace app::cli {

class InterruptSignals {
  public:
    explicit InterruptSignals(std::function<void()> onInterrupt);
    ~InterruptSignals();  // the previous handling comes back
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    // The first signal received, or 0.
    static int Received();

  private:
    std::function<void()> onInterrupt_;
    int pipe_[2] = {-1, -1};
};

}  // namespace app::cli
