#include "app/cli/interrupt_signals.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

#include "platform/message_loop.h"

namespace app::cli {
namespace {

volatile std::sig_atomic_t received = 0;
int wakeFd = -1;

constexpr int kSignals[] = {SIGINT, SIGTERM};

void NoteSignal(int signal) {
    if (received == 0) received = signal;
    const char byte = 1;
    [[maybe_unused]] auto ignored = write(wakeFd, &byte, 1);
}

}  // namespace

InterruptSignals::InterruptSignals(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot create the signal pipe");
    wakeFd = pipe_[1];
    platform::WatchDescriptor(pipe_[0], EPOLLIN, [this](std::uint32_t) {
        char bytes[16];
        while (read(pipe_[0], bytes, sizeof bytes) > 0) {
        }
        onInterrupt_();
    });
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
}

InterruptSignals::~InterruptSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
    platform::UnwatchDescriptor(pipe_[0]);
    wakeFd = -1;
    close(pipe_[0]);
    close(pipe_[1]);
}

int InterruptSignals::Received() {
    return received;
}

}  // namespace app::cli
