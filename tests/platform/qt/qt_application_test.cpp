#include "platform/qt/qt_application.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <thread>

#include "platform/exception.h"
#include "platform/message_loop.h"

namespace platform {
namespace {

QtApplication* app;

class QtLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = AllocateHWnd([this](HWND, UINT, WPARAM wParam, LPARAM) -> LRESULT {
            received.push_back(wParam);
            if (onMessage) onMessage(wParam);
            return 0;
        });
    }
    void TearDown() override { DestroyWindow(window_); }
    HWND window_;
    std::vector<WPARAM> received;
    std::function<void(WPARAM)> onMessage;
};

TEST_F(QtLoopTest, OurMessagesRunFromQtsEventLoop) {
    PostMessage(window_, WM_USER, 1, 0);
    QTimer::singleShot(0, [] { PostMessage(0, 0, 0, 0); });
    QTimer::singleShot(2000, [] { QCoreApplication::exit(1); });  // bound
    onMessage = [](WPARAM) { QCoreApplication::exit(0); };
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(received, (std::vector<WPARAM>{1}));
}

TEST_F(QtLoopTest, OurMessagesRunInsideAModalBox) {
    QMessageBox box(QMessageBox::NoIcon, "caption", "text", QMessageBox::Ok);
    onMessage = [&](WPARAM) { box.accept(); };
    QTimer::singleShot(0, [&] { PostMessage(window_, WM_USER, 2, 0); });
    QTimer::singleShot(2000, &box, &QMessageBox::reject);  // bound
    box.exec();
    EXPECT_EQ(received, (std::vector<WPARAM>{2}));
}

TEST_F(QtLoopTest, WaitForInputWakesOnAPostFromAnotherThread) {
    std::thread poster([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessage(window_, WM_USER, 3, 0);
    });
    auto start = std::chrono::steady_clock::now();
    while (received.empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        app->WaitForInput(1000);
        app->ProcessMessages();
    }
    poster.join();
    EXPECT_EQ(received, (std::vector<WPARAM>{3}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

TEST_F(QtLoopTest, NestedWaitsInsideOurHandlersStillDeliverMessages) {
    // A handler that waits for a later message, as a synchronous request does.
    onMessage = [this](WPARAM wParam) {
        if (wParam != 4) return;
        PostMessage(window_, WM_USER, 5, 0);
        auto start = std::chrono::steady_clock::now();
        while (received.back() != 5 &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            app->WaitForInput(1000);
            app->ProcessMessages();
        }
    };
    PostMessage(window_, WM_USER, 4, 0);
    auto start = std::chrono::steady_clock::now();
    app->ProcessMessages();
    EXPECT_EQ(received, (std::vector<WPARAM>{4, 5}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

}  // namespace
}  // namespace platform

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    platform::QtApplication application(argc, argv);
    platform::app = &application;
    return RUN_ALL_TESTS();
}
