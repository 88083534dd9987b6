#include "socket/sync_wsocket.h"

#include <algorithm>

#include "platform/application.h"
#include "platform/system.h"

int TCustomSyncWSocket::RunAndWait(bool& doneFlag, const std::function<void()>& proc) {
    doneFlag = false;
    if (proc) proc();
    return WaitForFlag(doneFlag);
}

int TCustomSyncWSocket::WaitForFlag(bool& doneFlag) {
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
        if (doneFlag || terminating()) continue;
        WaitForMessages(FWaitTimeout > 0 ? std::clamp<std::int32_t>(remaining, 0, kLongestSleepMs)
                                         : kLongestSleepMs);
    }
}
