#include "platform/message_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/exception.h"
#include "platform/headless_application.h"

namespace platform {
namespace {

struct Received {
    UINT message;
    WPARAM wParam;
};

// A window class that records every message it receives.
class RecordingWindow {
  public:
    RecordingWindow() {
        RegisterWindowClass("RecordingWindow", [](HWND w, UINT m, WPARAM wp, LPARAM) -> LRESULT {
            auto* self = static_cast<RecordingWindow*>(GetWindowData(w));
            if (self) self->received.push_back({m, wp});
            if (self && self->onMessage) self->onMessage(m, wp);
            return 0;
        });
        window = CreateHiddenWindow("RecordingWindow");
        SetWindowData(window, this);
    }
    ~RecordingWindow() {
        DestroyWindow(window);
        UnregisterWindowClass("RecordingWindow");
    }
    HWND window;
    std::vector<Received> received;
    std::function<void(UINT, WPARAM)> onMessage;
};

class MessageLoopTest : public ::testing::Test {
  protected:
    void SetUp() override { ProcessPendingMessages(); }
    RecordingWindow recorder;
};

TEST_F(MessageLoopTest, PostedMessagesRunInOrderAndOnlyFromTheLoop) {
    for (WPARAM i = 0; i < 5; ++i)
        PostMessage(recorder.window, WM_USER + 1, i, 0);
    EXPECT_TRUE(recorder.received.empty());
    EXPECT_FALSE(ProcessPendingMessages());
    ASSERT_EQ(recorder.received.size(), 5u);
    for (WPARAM i = 0; i < 5; ++i)
        EXPECT_EQ(recorder.received[i].wParam, i);
    MSG message;
    EXPECT_FALSE(PeekMessage(message));
}

TEST_F(MessageLoopTest, HandlersMayProcessMessagesFromInsideThemselves) {
    recorder.onMessage = [&](UINT, WPARAM wParam) {
        if (wParam == 1) {
            PostMessage(recorder.window, WM_USER, 3, 0);
            ProcessPendingMessages();  // runs 2 (already queued) and 3 inside message 1
        }
    };
    PostMessage(recorder.window, WM_USER, 1, 0);
    PostMessage(recorder.window, WM_USER, 2, 0);
    ProcessPendingMessages();
    ASSERT_EQ(recorder.received.size(), 3u);
    EXPECT_EQ(recorder.received[1].wParam, 2u);
    EXPECT_EQ(recorder.received[2].wParam, 3u);
}

TEST_F(MessageLoopTest, PostFromAnotherThreadWakesTheWaitingLoop) {
    EXPECT_FALSE(WaitForInput(0));
    // With nothing to come, a wait lasts its time.
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitForInput(20));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
    std::thread poster([&] { PostMessage(recorder.window, WM_USER, 7, 0); });
    EXPECT_TRUE(WaitForInput(5000));
    poster.join();
    ProcessPendingMessages();
    ASSERT_EQ(recorder.received.size(), 1u);
    EXPECT_EQ(recorder.received[0].wParam, 7u);
}

TEST_F(MessageLoopTest, TheLoopDescriptorIsReadableExactlyWhileWorkIsPending) {
    auto readable = [] {
        pollfd probe{MessageLoopDescriptor(), POLLIN, 0};
        return poll(&probe, 1, 0) == 1;
    };
    EXPECT_FALSE(readable());
    PostMessage(recorder.window, WM_USER, 1, 0);
    PostMessage(recorder.window, WM_USER, 2, 0);
    EXPECT_TRUE(readable());
    MSG message;
    ASSERT_TRUE(PeekMessage(message));
    EXPECT_TRUE(readable());  // one message still waits
    ASSERT_TRUE(PeekMessage(message));
    EXPECT_FALSE(readable());
}

TEST_F(MessageLoopTest, DestroyingAWindowDropsItsPendingMessages) {
    RegisterWindowClass("Other", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        ADD_FAILURE() << "message for a destroyed window was delivered";
        return 0;
    });
    HWND doomed = CreateHiddenWindow("Other");
    PostMessage(doomed, WM_USER, 0, 0);
    PostMessage(recorder.window, WM_USER, 1, 0);
    EXPECT_TRUE(DestroyWindow(doomed));
    EXPECT_FALSE(IsWindow(doomed));
    EXPECT_FALSE(PostMessage(doomed, WM_USER, 0, 0));
    EXPECT_FALSE(DestroyWindow(doomed));
    ProcessPendingMessages();
    EXPECT_EQ(recorder.received.size(), 1u);
    UnregisterWindowClass("Other");
}

TEST_F(MessageLoopTest, WindowClassesAndWindowData) {
    EXPECT_FALSE(RegisterWindowClass("RecordingWindow", {}));  // taken
    EXPECT_EQ(CreateHiddenWindow("NoSuchClass"), 0u);
    EXPECT_EQ(GetWindowThread(recorder.window), std::this_thread::get_id());
    EXPECT_FALSE(UnregisterWindowClass("NoSuchClass"));
    EXPECT_FALSE(UnregisterWindowClass("RecordingWindow"));  // its window still lives
    int calls = 0;
    HWND own = AllocateHWnd([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return calls += m; });
    PostMessage(own, 5, 0, 0);
    ProcessPendingMessages();
    EXPECT_EQ(calls, 5);
    DestroyWindow(own);
}

TEST_F(MessageLoopTest, TimersRepeatWithoutPilingUp) {
    ASSERT_TRUE(SetTimer(recorder.window, 42, 5));
    auto timerMessages = [&] {
        return std::count_if(recorder.received.begin(), recorder.received.end(),
                             [](const Received& r) { return r.message == WM_TIMER; });
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (timerMessages() < 3 && std::chrono::steady_clock::now() < deadline) {
        WaitForInput(1000);
        ProcessPendingMessages();
    }
    EXPECT_GE(timerMessages(), 3);
    EXPECT_EQ(recorder.received.back().wParam, 42u);

    // Without processing, many intervals pass but only one WM_TIMER waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    recorder.received.clear();
    ProcessPendingMessages();
    EXPECT_EQ(timerMessages(), 1);

    EXPECT_TRUE(KillTimer(recorder.window, 42));
    EXPECT_FALSE(KillTimer(recorder.window, 42));
    recorder.received.clear();
    EXPECT_FALSE(WaitForInput(20));
    ProcessPendingMessages();
    EXPECT_EQ(timerMessages(), 0);
}

TEST_F(MessageLoopTest, ATakenTimerMessageLetsTheTimerWakeTheLoopAgain) {
    ASSERT_TRUE(SetTimer(recorder.window, 7, 5));
    MSG message;
    ASSERT_TRUE(WaitForInput(5000));
    ASSERT_TRUE(PeekMessage(message));
    EXPECT_EQ(message.message, WM_TIMER);
    // Nothing else is pending; only the timer's next interval can end this wait.
    EXPECT_TRUE(WaitForInput(5000));
    KillTimer(recorder.window, 7);
}

TEST_F(MessageLoopTest, QuitStopsProcessingAndLeavesTheRestQueued) {
    PostQuitMessage(3);
    PostMessage(recorder.window, WM_USER, 1, 0);
    EXPECT_TRUE(ProcessPendingMessages());
    EXPECT_TRUE(recorder.received.empty());
    EXPECT_FALSE(ProcessPendingMessages());
    EXPECT_EQ(recorder.received.size(), 1u);
}

TEST_F(MessageLoopTest, WatchedDescriptorsRunTheirHandlersFromTheLoop) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    int fired = 0;
    ASSERT_TRUE(WatchDescriptor(pair[0], EPOLLIN, [&](std::uint32_t events) {
        ++fired;
        EXPECT_TRUE(events & EPOLLIN);
        ModifyWatch(pair[0], 0);  // silence until re-enabled, as a one-shot notification would
        PostMessage(recorder.window, WM_USER, 9, 0);
    }));
    EXPECT_FALSE(WatchDescriptor(pair[0], EPOLLIN, {}));
    ASSERT_EQ(write(pair[1], "x", 1), 1);
    EXPECT_TRUE(WaitForInput(5000));
    ProcessPendingMessages();
    EXPECT_EQ(fired, 1);
    ASSERT_EQ(recorder.received.size(), 1u);
    EXPECT_FALSE(WaitForInput(0));  // silenced: data remains but nothing wakes the loop
    EXPECT_TRUE(UnwatchDescriptor(pair[0]));
    EXPECT_FALSE(UnwatchDescriptor(pair[0]));
    close(pair[0]);
    close(pair[1]);
}

TEST_F(MessageLoopTest, AnEscapingExceptionReachesTheErrorReportAndTheLoopGoesOn) {
    HeadlessApplication app;
    app.SetTitle("Title");
    Application* previous = SetApplication(&app);
    recorder.onMessage = [](UINT, WPARAM wParam) {
        if (wParam == 1) throw Exception("Broken");
    };
    PostMessage(recorder.window, WM_USER, 1, 0);
    PostMessage(recorder.window, WM_USER, 2, 0);
    ProcessPendingMessages();
    SetApplication(previous);
    EXPECT_EQ(recorder.received.size(), 2u);
    ASSERT_EQ(app.ShownBoxes().size(), 1u);
    EXPECT_EQ(app.ShownBoxes()[0].kind, ShownBox::Kind::ErrorReport);
    EXPECT_EQ(app.ShownBoxes()[0].text, "Broken.");
    EXPECT_EQ(app.ShownBoxes()[0].caption, "Title");
}

TEST(MessageLoopThreads, EachThreadHasItsOwnQueue) {
    std::vector<WPARAM> seen;
    HWND window = 0;
    std::atomic<bool> ready{false};
    std::thread worker([&] {
        window = AllocateHWnd([&](HWND, UINT, WPARAM wParam, LPARAM) -> LRESULT {
            seen.push_back(wParam);
            if (wParam == 2) PostQuitMessage(0);
            return 0;
        });
        ready = true;
        MSG message;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            WaitForInput(50);
            if (!PeekMessage(message)) continue;
            if (message.message == WM_QUIT) break;
            DispatchMessage(message);
        }
        DestroyWindow(window);
    });
    while (!ready)
        std::this_thread::yield();
    PostMessage(window, WM_USER, 1, 0);
    PostMessage(window, WM_USER, 2, 0);
    worker.join();
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
    MSG message;
    EXPECT_FALSE(PeekMessage(message));  // nothing leaked into this thread's queue
}

}  // namespace
}  // namespace platform
