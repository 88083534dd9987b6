#include "socket/sync_wsocket.h"

#include <algorithm>
#include <utility>

#include "platform/application.h"
#include "platform/system.h"

int TCustomSyncWSocket::RunAndWait(bool& doneFlag, const std::function<void()>& proc) {
    doneFlag = false;
    if (proc) proc();
    return WaitForFlag(doneFlag);
}

int TCustomSyncWSocket::WaitForFlag(bool& doneFlag) {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } waiting{FWaitDepth};
    // Between rounds the thread sleeps until input arrives; the bound keeps a wait that nothing
    // wakes responsive to its time limit.
    constexpr int kLongestSleepMs = 100;
    auto terminating = [this] { return platform::App().Terminated() || FTerminated; };
    FWaitStopTime = platform::GetTickCount() + static_cast<std::uint32_t>(FWaitTimeout);
    for (;;) {
        if (doneFlag) return 0;
        // Signed, so that the tick count may wrap during a wait.
        auto remaining = static_cast<std::int32_t>(FWaitStopTime - platform::GetTickCount());
        if (FWaitTimeout > 0 && remaining < 0) return WaitEndedWithoutFlag;
        if (terminating()) return WaitEndedWithoutFlag;
        PumpMessages();
        if (FWaitException) std::rethrow_exception(std::exchange(FWaitException, nullptr));
        if (doneFlag || terminating()) continue;
        WaitForMessages(FWaitTimeout > 0 ? std::clamp<std::int32_t>(remaining, 0, kLongestSleepMs)
                                         : kLongestSleepMs);
    }
}

void TCustomSyncWSocket::HandleWindowMessage(TMessage& msg) {
    if (FWaitDepth == 0) return Inherited::HandleWindowMessage(msg);
    try {
        Inherited::HandleWindowMessage(msg);
    } catch (...) {
        // Kept for the waiting caller, instead of the loop's report of an unhandled exception.
        if (!FWaitException) FWaitException = std::current_exception();
    }
}

void TCustomSyncWSocket::HandleBgException(const std::exception& e) {
    // Called from the handler of the exception: the caller of the wait decides what follows.
    if (FWaitDepth > 0 && std::current_exception()) {
        if (!FWaitException) FWaitException = std::current_exception();
        return;
    }
    Inherited::HandleBgException(e);
}
