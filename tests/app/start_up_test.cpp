#include <filesystem>

#include "app/centring.h"
#include "feed_monitor_fixture.h"

namespace app::testing {
namespace {

using StartUp = FeedMonitorTest;

TEST(CentringRule, HalvesEachSizeOnItsOwn) {
    EXPECT_EQ(CentredPosition(1024, 537), 244);
    EXPECT_EQ(CentredPosition(432, 35), 199);  // (432 - 35) / 2 would be 198
    EXPECT_EQ(CentredPosition(365, 265), 50);
    EXPECT_EQ(CentredPosition(7, 3), 2);
    EXPECT_EQ(CentredPosition(10, 31), -10);
}

TEST_F(StartUp, OnlyGermanAsUsedInGermanyStartsInGerman) {
    for (std::uint16_t id : {0x0407, 0x0C07, 0x0807, 0x0409, 0x0000}) {
        RecordingView view;
        FeedMonitor monitor(view, programDir_);
        monitor.FormCreate(id);
        bool german = id == 0x0407;
        EXPECT_EQ(monitor.UiLanguage, german ? 0 : 1) << id;
        // Qt's own texts (the boxes' buttons, the picker) speak the same language.
        EXPECT_EQ(app_.Language(), german ? platform::InterfaceLanguage::German
                                          : platform::InterfaceLanguage::English)
            << id;
        // German keeps the form's texts untouched.
        EXPECT_EQ(view.captions.empty(), german) << id;
        if (!german) {
            EXPECT_EQ(view.Caption(Window::Main, "Button1"), "Add to List");
        }
    }
}

TEST_F(StartUp, CentresTheScanButtonAndShowsTheDefaultFolderWithoutAList) {
    monitor_->ScanBusy = true;
    monitor_->FormCreate(kGerman);
    EXPECT_EQ((view_.lefts.at({Window::Main, "Button3"})), 244);
    EXPECT_EQ(monitor_->FeedCount(), 0);
    EXPECT_EQ(view_.folderText, programDir_ + "Download/");
    EXPECT_EQ(monitor_->DownloadFolder, programDir_ + "Download/");
    EXPECT_FALSE(std::filesystem::exists(programDir_ + "Download"));
    EXPECT_FALSE(monitor_->ScanBusy);
    EXPECT_TRUE(app_.ShownBoxes().empty());
}

TEST_F(StartUp, TheProgramDirectoryEndsInOneSeparator) {
    EXPECT_EQ(monitor_->ListFilePath(), programDir_ + "liste.pdl");
    RecordingView view;
    FeedMonitor unterminated(view, "/opt/podcasts");
    EXPECT_EQ(unterminated.ProgramDir, "/opt/podcasts/");
    FeedMonitor inRoot(view, "/");
    EXPECT_EQ(inRoot.ProgramDir, "/");
    if (!std::filesystem::exists("/liste.pdl")) {
        inRoot.FormCreate(kGerman);
        EXPECT_EQ(view.folderText, inRoot.DefaultDownloadFolder());
    }
}

}  // namespace
}  // namespace app::testing
