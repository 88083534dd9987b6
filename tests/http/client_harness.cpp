#include "tests/http/client_harness.h"

#include <algorithm>

#include "platform/message_loop.h"

namespace {

constexpr std::uintptr_t kWatchdogTimer = 1;

}  // namespace

ClientHarness::ClientHarness() {
    cli.SetName("HttpCli1");
    cli.BodyStream = &body;
    auto note = [this](const std::string& text) { events.push_back(text); };
    cli.OnStateChange = [this, note](THttpCli*) {
        note(std::string("State ") + HttpCliStateName(cli.State()));
    };
    cli.OnSessionConnected = [note](THttpCli*) { note("SessionConnected"); };
    cli.OnSessionClosed = [note](THttpCli*) { note("SessionClosed"); };
    cli.OnHeaderBegin = [note](THttpCli*) { note("HeaderBegin"); };
    cli.OnHeaderEnd = [note](THttpCli*) { note("HeaderEnd"); };
    cli.OnDocBegin = [note](THttpCli*) { note("DocBegin"); };
    cli.OnDocData = [this, note](THttpCli*, const char*, int len) {
        note("DocData " + std::to_string(len) + " " + std::to_string(cli.BodyReceivedCount()));
    };
    cli.OnDocEnd = [note](THttpCli*) { note("DocEnd"); };
    cli.OnLocationChange = [this, note](THttpCli*) {
        note("LocationChange " + std::to_string(cli.LocationChangeCurCount()));
    };
    cli.OnRequestDone = [this, note](THttpCli*, THttpRequest rq, std::uint16_t errCode) {
        ++requestDoneCount;
        lastErrCode = errCode;
        note("RequestDone " + std::to_string(rq) + " " + std::to_string(errCode));
    };
    watchdogWindow_ = platform::AllocateHWnd(
        [this](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
            if (msg == platform::WM_TIMER) {
                watchdogFired = true;
                cli.Abort();
            }
            return platform::LRESULT(0);
        });
}

ClientHarness::~ClientHarness() {
    platform::DestroyWindow(watchdogWindow_);
}

GetOutcome ClientHarness::Get(const std::string& url, std::chrono::milliseconds limit) {
    GetOutcome outcome;
    cli.URL = url;
    platform::SetTimer(watchdogWindow_, kWatchdogTimer, static_cast<unsigned>(limit.count()));
    try {
        cli.Get();
    } catch (const EHttpException& error) {
        outcome.raised = true;
        outcome.errorNumber = error.ErrorNumber;
        outcome.message = error.what();
    }
    platform::KillTimer(watchdogWindow_, kWatchdogTimer);
    ProcessPending();
    EXPECT_FALSE(watchdogFired) << "the request did not end in time";
    return outcome;
}

bool ClientHarness::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        platform::WaitForInput(static_cast<int>(std::min<std::int64_t>(left.count(), 100)));
        platform::ProcessPendingMessages();
    }
    return true;
}

void ClientHarness::ProcessPending() {
    platform::ProcessPendingMessages();
}

std::vector<std::string> ClientHarness::EventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    return found;
}

bool ClientHarness::HasTrace(const std::string& line) const {
    return std::find(cli.traceLines.begin(), cli.traceLines.end(), line) != cli.traceLines.end();
}

void ExpectAbortedOnce(const ClientHarness& h, const GetOutcome& outcome,
                       const std::string& label) {
    EXPECT_TRUE(outcome.raised) << label;
    EXPECT_EQ(outcome.errorNumber, 404) << label;
    EXPECT_EQ(outcome.message, "Connection aborted on request") << label;
    EXPECT_EQ(h.cli.StatusCode(), 404) << label;
    EXPECT_EQ(h.requestDoneCount, 1) << label;
    EXPECT_EQ(h.lastErrCode, httpErrAborted) << label;
    EXPECT_EQ(h.cli.State(), httpReady) << label;
}
