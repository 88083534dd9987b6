#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "platform/headless_application.h"
#include "platform/message_loop.h"
#include "tests/socket/loopback.h"

namespace {

// A window whose messages run a handler, to act from inside a wait.
class Poster {
  public:
    explicit Poster(std::function<void()> handler)
        : window_(platform::AllocateHWnd(
              [handler](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
                  handler();
                  return platform::LRESULT{0};
              })) {}
    ~Poster() { platform::DestroyWindow(window_); }
    void Post() { platform::PostMessage(window_, platform::WM_USER, 0, 0); }

  private:
    platform::HWND window_;
};

TEST(SyncWait, FlagAndTimeLimit) {
    TWSocket socket;
    bool done = true;
    bool ran = false;
    Poster poster([&] { ran = true; });
    poster.Post();
    // A flag that is already true returns before any message is processed.
    EXPECT_EQ(socket.WaitForFlag(done), 0);
    EXPECT_FALSE(ran);

    // RunAndWait clears it first, then runs the step whose message sets it.
    Poster setter([&] { done = true; });
    EXPECT_EQ(socket.RunAndWait(done, [&] { setter.Post(); }), 0);
    EXPECT_TRUE(ran);

    socket.SetWaitTimeout(30);
    EXPECT_EQ(socket.RunAndWait(done, nullptr), WaitEndedWithoutFlag);
    EXPECT_FALSE(done);
}

TEST(SyncWait, TerminationEndsTheWait) {
    platform::HeadlessApplication app;
    platform::Application* previous = platform::SetApplication(&app);
    TWSocket socket;
    bool done = false;
    Poster terminator([&] { app.Terminate(); });
    terminator.Post();
    EXPECT_EQ(socket.WaitForFlag(done), WaitEndedWithoutFlag);
    platform::SetApplication(previous);

    // On a thread of its own, the quit message taken by the socket's pump ends the wait.
    int result = 0;
    std::thread([&] {
        TWSocket worker;
        worker.SetMultiThreaded(true);
        platform::PostQuitMessage(0);
        bool never = false;
        result = worker.WaitForFlag(never);
    }).join();
    EXPECT_EQ(result, WaitEndedWithoutFlag);
}

using SyncWaitWithPeer = LoopbackTest;

TEST_F(SyncWaitWithPeer, AHandlersExceptionEndsTheWaitAtItsCaller) {
    struct Case {
        const char* label;
        std::function<void()> thrower;
    } cases[] = {
        {"socket error", [] { throw ESocketException("from the handler"); }},
        {"any other", [] { throw std::runtime_error("from the handler"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Connect();
        socket.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { c.thrower(); };
        ClosePeer();
        bool never = false;
        socket.SetWaitTimeout(5000);
        std::string caught = "no exception";
        try {
            socket.WaitForFlag(never);
        } catch (const std::exception& e) {
            caught = e.what();
        }
        EXPECT_EQ(caught, "from the handler");
        socket.Close();
    }
}

using SyncWaitInHandler = LoopbackTest;

TEST_F(SyncWaitInHandler, AHandlerWaitsForTheAnswerToItsQuestion) {
    bool answered = false;
    int result = -1;
    std::string answer;
    socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
        answer += sender->ReceiveText();
        answered = answer == "yes";
    };
    socket.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t) {
        socket.SendText("ok?");
        result = socket.WaitForFlag(answered);
    };
    Listener& server = listener;
    std::thread peerThread([&] {
        int fd = server.Accept();
        if (ReadExactly(fd, 3) == "ok?") WriteAll(fd, "yes");
        ReadToEnd(fd);
        ::close(fd);
    });
    StartConnect(listener.Port());
    ASSERT_TRUE(PumpUntil([&] { return result != -1; }));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(answer, "yes");
    socket.Close();
    peerThread.join();
}

}  // namespace
