// A THttpCli under test: every event it raises is written to a log, its trace lines are kept, the
// body goes to a memory stream, and Get runs under a watchdog so that a request that never ends
// fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "http/http_cli.h"
#include "platform/streams.h"
#include "tests/support/scripted_http_server.h"

using namespace std::chrono_literals;

// Traces every line at both levels, and notes the body bytes received at each timer tick.
class TracingHttpCli : public THttpCli {
  public:
    std::vector<std::string> traceLines;
    std::vector<std::int64_t> bodyCountAtTick;

    int HeldBytes() const { return ReceiveFill(); }

    using THttpCli::AuthBasicState;
    using THttpCli::AuthNtlmState;
    using THttpCli::BeginProxyBasic;
    using THttpCli::BeginProxyNtlm;
    using THttpCli::BeginServerBasic;
    using THttpCli::BeginServerNtlm;
    using THttpCli::ProxyAuthBasicState;
    using THttpCli::ProxyAuthNtlmState;

  protected:
    bool LogEnabled(TLogOption) override { return true; }
    void LogLine(TLogOption, const std::string& msg) override { traceLines.push_back(msg); }
    platform::LRESULT HandleWindowMessage(platform::UINT Msg, platform::WPARAM WParam,
                                          platform::LPARAM LParam) override {
        if (Msg == platform::WM_TIMER) bodyCountAtTick.push_back(BodyReceivedCount());
        return THttpCli::HandleWindowMessage(Msg, WParam, LParam);
    }
};

struct GetOutcome {
    bool raised = false;
    int errorNumber = 0;
    std::string message;
};

class ClientHarness {
  public:
    ClientHarness();
    ~ClientHarness();

    TracingHttpCli cli;
    platform::MemoryStream body;
    // "HeaderBegin", "DocData 5", "RequestDone 1 0", "State httpReady", ... in order raised.
    std::vector<std::string> events;
    int requestDoneCount = 0;
    std::uint16_t lastErrCode = 0;
    bool watchdogFired = false;

    // Get with the watchdog; the outcome of the call. Pending messages are processed afterwards,
    // so that events posted at the end (request-done) have been raised.
    GetOutcome Get(const std::string& url, std::chrono::milliseconds limit = 5s);
    // Runs the message loop until done() holds or limit passes; false on the time-out.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s);
    void ProcessPending();

    std::vector<std::string> EventsStartingWith(const std::string& prefix) const;
    bool HasTrace(const std::string& line) const;

  private:
    platform::HWND watchdogWindow_ = 0;
};

// The request ended once, as cancelled, and Get raised the cancel.
void ExpectAbortedOnce(const ClientHarness& h, const GetOutcome& outcome,
                       const std::string& label = "");

// A scripted server and a client under test.
class HttpClientTest : public ::testing::Test {
  protected:
    test_support::ScriptedHttpServer server;
    ClientHarness h;
};
