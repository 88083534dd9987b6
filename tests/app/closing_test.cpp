#include <filesystem>

#include "feed_monitor_fixture.h"
#include "tests/support/read_only_folder.h"

namespace app::testing {
namespace {

using Closing = FeedMonitorTest;

TEST_F(Closing, WithFeedsSavesTheListOnce) {
    monitor_->FormCreate(kGerman);
    monitor_->AddEntry("http://a.example");
    EXPECT_TRUE(monitor_->RequestClose());
    EXPECT_TRUE(monitor_->Closed());
    EXPECT_EQ(ReadListFile(), "1\r\nhttp://a.example\r\n" + programDir_ + "Download/");
    std::filesystem::remove(ListPath());
    monitor_->FormClose();
    EXPECT_FALSE(std::filesystem::exists(ListPath()));
}

TEST_F(Closing, WithoutFeedsRemovesTheListAndWithItTheFolder) {
    WriteListFile("1\r\nhttp://a.example\r\n/chosen/");
    monitor_->FormCreate(kGerman);
    view_.selectedRow = 0;
    monitor_->Button2Click();
    EXPECT_TRUE(monitor_->RequestClose());
    EXPECT_FALSE(std::filesystem::exists(ListPath()));

    RecordingView view;
    FeedMonitor neverSaved(view, programDir_);
    neverSaved.FormClose();
    EXPECT_FALSE(std::filesystem::exists(ListPath()));
    EXPECT_TRUE(app_.ShownBoxes().empty());
}

TEST_F(Closing, AListThatCannotBeRemovedIsReportedAndNotSilentlyKept) {
    WriteListFile("1\r\nhttp://a.example\r\n/chosen/");
    monitor_->FormCreate(kGerman);
    app_.SetTitle("Title");
    view_.selectedRow = 0;
    monitor_->Button2Click();
    {
        test_support::ReadOnlyFolder readOnly(programDir_);
        monitor_->FormClose();
    }
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    const platform::ShownBox& report = app_.ShownBoxes()[0];
    EXPECT_EQ(report.kind, platform::ShownBox::Kind::ErrorReport);
    EXPECT_EQ(report.caption, "Title");
    EXPECT_EQ(report.text.rfind("Cannot delete " + ListPath() + ": ", 0), 0u) << report.text;
    EXPECT_TRUE(std::filesystem::exists(ListPath()));
}

TEST_F(Closing, DuringARunStopsTheRunAndKeepsTheWindow) {
    WriteListFile("1\r\nhttp://a.example\r\n/f/");
    monitor_->FormCreate(kGerman);
    monitor_->AddEntry("http://b.example");
    monitor_->ScanBusy = true;
    EXPECT_FALSE(monitor_->RequestClose());
    EXPECT_TRUE(monitor_->CancelAll);
    EXPECT_TRUE(app_.Terminated());
    EXPECT_FALSE(monitor_->Closed());
    EXPECT_EQ(ReadListFile(), "1\r\nhttp://a.example\r\n/f/");

    // Once the run has unwound, the program closes for real.
    monitor_->ScanBusy = false;
    view_.folderText = "/f/";
    monitor_->FormClose();
    EXPECT_EQ(ReadListFile(), "2\r\nhttp://a.example\r\nhttp://b.example\r\n/f/");
}

}  // namespace
}  // namespace app::testing
