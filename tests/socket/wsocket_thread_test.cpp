#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/socket/loopback.h"

namespace {

TEST(WSocketThread, SocketOnASecondThreadPumpsItsOwnQueue) {
    Listener listener;
    std::string port = listener.Port();
    std::string received;
    bool terminated = false;
    std::thread worker([&] {
        TWSocket socket;
        socket.SetMultiThreaded(true);
        socket.OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
            received += sender->ReceiveText();
            if (received == "to the worker") platform::PostQuitMessage(0);
        };
        socket.SetAddr("127.0.0.1");
        socket.SetPort(port);
        socket.Connect();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!socket.Terminated() && std::chrono::steady_clock::now() < deadline) {
            platform::WaitForInput(50);
            socket.PumpMessages();
        }
        terminated = socket.Terminated();
    });
    int peer = listener.Accept();
    WriteAll(peer, "to the worker");
    worker.join();
    ::close(peer);
    EXPECT_EQ(received, "to the worker");
    EXPECT_TRUE(terminated);
}

TEST(WSocketThread, DetachRefusedFromAnotherThread) {
    TWSocket socket;
    int errors = 0;
    socket.OnError = [&](TCustomWSocket*) { ++errors; };
    std::thread([&] { socket.DetachThread(); }).join();
    EXPECT_EQ(errors, 1);
    EXPECT_NE(socket.WindowHandle(), 0u);
    socket.DetachThread();
    EXPECT_EQ(socket.WindowHandle(), 0u);
    socket.AttachThread();
    EXPECT_NE(socket.WindowHandle(), 0u);
    socket.AttachThread();
    EXPECT_EQ(errors, 2);
}

TEST(WSocketThread, SocketsComeAndGoOnTwoThreadsWithoutLosingTheirWindowClass) {
    // Each thread's last socket unregisters the class; the other thread's next socket must
    // still get its window. The gap was narrow: many rounds catch it most of the time.
    auto churn = [](std::string& failure) {
        for (int i = 0; i < 50000 && failure.empty(); ++i) {
            try {
                TWSocket socket;
            } catch (const ESocketException& e) {
                failure = e.what();
            }
        }
    };
    std::string first, second;
    std::thread other([&] { churn(second); });
    churn(first);
    other.join();
    EXPECT_EQ(first, "");
    EXPECT_EQ(second, "");
}

}  // namespace
