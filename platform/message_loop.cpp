#include "platform/message_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "platform/application.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

class ThreadLoop;

struct Window {
    std::string className;
    WindowProc ownProc;  // set for AllocateHWnd windows
    void* data = nullptr;
    std::shared_ptr<ThreadLoop> loop;
    std::thread::id thread;
};

struct Timer {
    HWND window;
    std::uintptr_t id;
    std::chrono::milliseconds interval;
    Clock::time_point due;
    bool pending = false;  // a WM_TIMER for it waits in the queue
};

struct Watch {
    std::uint64_t key;
    DescriptorHandler handler;
};

// Process-wide tables. Windows are looked up here for posting from any thread.
std::mutex registryMutex;
std::unordered_map<std::string, WindowProc>& Classes() {
    static std::unordered_map<std::string, WindowProc> classes;
    return classes;
}
std::unordered_map<HWND, Window>& Windows() {
    static std::unordered_map<HWND, Window> windows;
    return windows;
}
HWND nextWindow = 1;

std::error_code LastErrno() {
    return {errno, std::generic_category()};
}

// Descriptor keys in epoll's data: the two built-in ones, then one fresh key per watch.
constexpr std::uint64_t kPostKey = 1;
constexpr std::uint64_t kTimerKey = 2;

class ThreadLoop {
  public:
    ThreadLoop() {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        post_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        if (epoll_ < 0 || post_ < 0 || timer_ < 0)
            throw std::system_error(LastErrno(), "cannot create the message loop");
        Add(post_, EPOLLIN, kPostKey);
        Add(timer_, EPOLLIN, kTimerKey);
    }
    ~ThreadLoop() {
        close(timer_);
        close(post_);
        close(epoll_);
    }
    ThreadLoop(const ThreadLoop&) = delete;
    ThreadLoop& operator=(const ThreadLoop&) = delete;

    int Descriptor() const { return epoll_; }

    void Post(const MSG& message) {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(message);
        SignalPosted();
    }

    void DropMessagesOf(HWND window) {
        {
            std::lock_guard lock(queueMutex_);
            std::erase_if(queue_, [window](const MSG& m) { return m.hwnd == window; });
            if (queue_.empty()) DrainPosted();
        }
        std::erase_if(timers_, [window](const Timer& t) { return t.window == window; });
        ArmTimer();
    }

    bool Take(MSG& message) {
        CollectReadyDescriptors();
        CollectDueTimers();
        std::lock_guard lock(queueMutex_);
        if (queue_.empty()) return false;
        message = queue_.front();
        queue_.pop_front();
        if (queue_.empty()) DrainPosted();
        if (message.message == WM_TIMER) MarkTimerTaken(message.hwnd, message.wParam);
        return true;
    }

    bool Wait(int timeoutMs) {
        {
            std::lock_guard lock(queueMutex_);
            if (!queue_.empty()) return true;
        }
        epoll_event event;
        int n;
        do {
            n = epoll_wait(epoll_, &event, 1, timeoutMs);
        } while (n < 0 && errno == EINTR);
        return n > 0;
    }

    bool SetTimer(HWND window, std::uintptr_t id, unsigned intervalMs) {
        auto interval = std::chrono::milliseconds(std::max(intervalMs, 1u));
        auto it = FindTimer(window, id);
        if (it == timers_.end()) {
            timers_.push_back({window, id, interval, Clock::now() + interval});
        } else {
            it->interval = interval;
            it->due = Clock::now() + interval;
        }
        ArmTimer();
        return true;
    }

    bool KillTimer(HWND window, std::uintptr_t id) {
        auto it = FindTimer(window, id);
        if (it == timers_.end()) return false;
        timers_.erase(it);
        {
            std::lock_guard lock(queueMutex_);
            std::erase_if(queue_, [&](const MSG& m) {
                return m.hwnd == window && m.message == WM_TIMER && m.wParam == id;
            });
            if (queue_.empty()) DrainPosted();
        }
        ArmTimer();
        return true;
    }

    bool WatchFd(int fd, std::uint32_t events, DescriptorHandler handler) {
        if (watches_.count(fd)) return false;
        std::uint64_t key = nextWatchKey_++;
        if (!Add(fd, events, key)) return false;
        watches_[fd] = {key, std::move(handler)};
        return true;
    }

    bool ModifyFd(int fd, std::uint32_t events) {
        auto it = watches_.find(fd);
        if (it == watches_.end()) return false;
        epoll_event event{};
        event.events = events;
        event.data.u64 = it->second.key;
        return epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) == 0;
    }

    bool UnwatchFd(int fd) {
        auto it = watches_.find(fd);
        if (it == watches_.end()) return false;
        epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        watches_.erase(it);
        return true;
    }

  private:
    bool Add(int fd, std::uint32_t events, std::uint64_t key) {
        epoll_event event{};
        event.events = events;
        event.data.u64 = key;
        return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
    }

    // The eventfd stays readable exactly while the queue holds messages. Both run under the
    // queue mutex.
    void SignalPosted() {
        std::uint64_t one = 1;
        if (!postSignalled_ && write(post_, &one, sizeof one) == sizeof one) postSignalled_ = true;
    }
    void DrainPosted() {
        std::uint64_t count;
        if (postSignalled_ && read(post_, &count, sizeof count) == sizeof count)
            postSignalled_ = false;
    }

    void CollectReadyDescriptors() {
        if (watches_.empty()) return;
        epoll_event events[64];
        int n = epoll_wait(epoll_, events, 64, 0);
        for (int i = 0; i < n; ++i) {
            std::uint64_t key = events[i].data.u64;
            if (key == kPostKey || key == kTimerKey) continue;
            // A handler may unwatch any descriptor, so look each one up afresh.
            for (auto& [fd, watch] : watches_) {
                if (watch.key != key) continue;
                DescriptorHandler handler = watch.handler;
                handler(events[i].events);
                break;
            }
        }
    }

    void CollectDueTimers() {
        if (timers_.empty()) return;
        std::uint64_t expirations;
        while (read(timer_, &expirations, sizeof expirations) > 0) {
        }
        auto now = Clock::now();
        for (auto& timer : timers_) {
            if (timer.due > now) continue;
            timer.due = now + timer.interval;
            if (timer.pending) continue;
            timer.pending = true;
            Post({timer.window, WM_TIMER, timer.id, 0});
        }
        ArmTimer();
    }

    // The timer may fire again: the timerfd must count it in once more.
    void MarkTimerTaken(HWND window, std::uintptr_t id) {
        auto it = FindTimer(window, id);
        if (it == timers_.end()) return;
        it->pending = false;
        ArmTimer();
    }

    // The timerfd fires at the earliest due time of a timer that has no message waiting.
    void ArmTimer() {
        itimerspec setting{};
        auto earliest = Clock::time_point::max();
        for (const auto& timer : timers_)
            if (!timer.pending) earliest = std::min(earliest, timer.due);
        if (earliest != Clock::time_point::max()) {
            auto delay =
                std::max(earliest - Clock::now(), Clock::duration(std::chrono::microseconds(1)));
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count();
            setting.it_value.tv_sec = ns / 1'000'000'000;
            setting.it_value.tv_nsec = ns % 1'000'000'000;
        }
        timerfd_settime(timer_, 0, &setting, nullptr);
    }

    std::vector<Timer>::iterator FindTimer(HWND window, std::uintptr_t id) {
        return std::find_if(timers_.begin(), timers_.end(),
                            [&](const Timer& t) { return t.window == window && t.id == id; });
    }

    int epoll_ = -1;
    int post_ = -1;
    int timer_ = -1;
    std::mutex queueMutex_;
    std::deque<MSG> queue_;
    bool postSignalled_ = false;
    std::vector<Timer> timers_;
    std::map<int, Watch> watches_;
    std::uint64_t nextWatchKey_ = 3;
};

std::shared_ptr<ThreadLoop>& CurrentLoop() {
    thread_local std::shared_ptr<ThreadLoop> loop = std::make_shared<ThreadLoop>();
    return loop;
}

// The loop of a window's owner thread, or nothing for an unknown window.
std::shared_ptr<ThreadLoop> LoopOf(HWND window) {
    std::lock_guard lock(registryMutex);
    auto it = Windows().find(window);
    return it == Windows().end() ? nullptr : it->second.loop;
}

bool OwnedByThisThread(HWND window) {
    std::lock_guard lock(registryMutex);
    auto it = Windows().find(window);
    return it != Windows().end() && it->second.thread == std::this_thread::get_id();
}

HWND CreateWindowRecord(std::string className, WindowProc ownProc) {
    auto loop = CurrentLoop();
    std::lock_guard lock(registryMutex);
    if (!ownProc && !Classes().count(className)) return 0;
    HWND handle = nextWindow++;
    Windows()[handle] = {std::move(className), std::move(ownProc), nullptr, std::move(loop),
                         std::this_thread::get_id()};
    return handle;
}

}  // namespace

bool RegisterWindowClass(const std::string& className, WindowProc proc) {
    std::lock_guard lock(registryMutex);
    return Classes().emplace(className, std::move(proc)).second;
}

bool UnregisterWindowClass(const std::string& className) {
    std::lock_guard lock(registryMutex);
    // As long as a window of the class lives (on any thread), the class stays.
    for (const auto& [handle, window] : Windows())
        if (!window.ownProc && window.className == className) return false;
    return Classes().erase(className) > 0;
}

bool IsWindowClassRegistered(const std::string& className) {
    std::lock_guard lock(registryMutex);
    return Classes().count(className) > 0;
}

HWND CreateHiddenWindow(const std::string& className) {
    return CreateWindowRecord(className, {});
}

HWND AllocateHWnd(WindowProc proc) {
    return CreateWindowRecord({}, std::move(proc));
}

bool DestroyWindow(HWND window) {
    std::shared_ptr<ThreadLoop> loop;
    {
        std::lock_guard lock(registryMutex);
        auto it = Windows().find(window);
        if (it == Windows().end()) return false;
        loop = std::move(it->second.loop);
        Windows().erase(it);
    }
    loop->DropMessagesOf(window);
    return true;
}

bool IsWindow(HWND window) {
    std::lock_guard lock(registryMutex);
    return Windows().count(window) > 0;
}

void SetWindowData(HWND window, void* data) {
    std::lock_guard lock(registryMutex);
    auto it = Windows().find(window);
    if (it != Windows().end()) it->second.data = data;
}

void* GetWindowData(HWND window) {
    std::lock_guard lock(registryMutex);
    auto it = Windows().find(window);
    return it == Windows().end() ? nullptr : it->second.data;
}

std::thread::id GetWindowThread(HWND window) {
    std::lock_guard lock(registryMutex);
    auto it = Windows().find(window);
    return it == Windows().end() ? std::thread::id() : it->second.thread;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto loop = LoopOf(window);
    if (!loop) return false;
    loop->Post({window, message, wParam, lParam});
    return true;
}

void PostQuitMessage(int exitCode) {
    CurrentLoop()->Post({0, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}

bool PeekMessage(MSG& message) {
    return CurrentLoop()->Take(message);
}

LRESULT DispatchMessage(const MSG& message) {
    WindowProc proc;
    {
        std::lock_guard lock(registryMutex);
        auto it = Windows().find(message.hwnd);
        if (it == Windows().end()) return 0;
        if (it->second.ownProc) {
            proc = it->second.ownProc;
        } else {
            auto cls = Classes().find(it->second.className);
            if (cls == Classes().end()) return 0;
            proc = cls->second;
        }
    }
    try {
        return proc(message.hwnd, message.message, message.wParam, message.lParam);
    } catch (const std::exception& error) {
        App().ShowException(error);
        return 0;
    }
}

bool ProcessPendingMessages() {
    MSG message;
    while (PeekMessage(message)) {
        if (message.message == WM_QUIT) return true;
        DispatchMessage(message);
    }
    return false;
}

bool WaitForInput(int timeoutMs) {
    return CurrentLoop()->Wait(timeoutMs);
}

int MessageLoopDescriptor() {
    return CurrentLoop()->Descriptor();
}

bool SetTimer(HWND window, std::uintptr_t id, unsigned intervalMs) {
    if (!OwnedByThisThread(window)) return false;
    return CurrentLoop()->SetTimer(window, id, intervalMs);
}

bool KillTimer(HWND window, std::uintptr_t id) {
    if (!OwnedByThisThread(window)) return false;
    return CurrentLoop()->KillTimer(window, id);
}

bool WatchDescriptor(int fd, std::uint32_t epollEvents, DescriptorHandler handler) {
    return CurrentLoop()->WatchFd(fd, epollEvents, std::move(handler));
}

bool ModifyWatch(int fd, std::uint32_t epollEvents) {
    return CurrentLoop()->ModifyFd(fd, epollEvents);
}

bool UnwatchDescriptor(int fd) {
    return CurrentLoop()->UnwatchFd(fd);
}

}  // namespace platform
