#include "feed_monitor_fixture.h"

namespace app::testing {
namespace {

using FeedRegistry = FeedMonitorTest;

TEST_F(FeedRegistry, TheAddButtonTakesTheFieldAsTypedAndClearsIt) {
    monitor_->Button1Click();  // empty field: nothing
    EXPECT_EQ(monitor_->FeedCount(), 0);
    for (const char* typed : {"http://a.example/rss", "   ", "http://a.example/rss"}) {
        view_.newFeedText = typed;
        monitor_->Button1Click();
        EXPECT_EQ(view_.newFeedText, "");
    }
    EXPECT_EQ(Urls(),
              (std::vector<std::string>{"http://a.example/rss", "   ", "http://a.example/rss"}));
    ExpectRowsMatchRegistry();
    EXPECT_EQ(monitor_->FeedEntries[1].EnclosureCount, 0);
    EXPECT_TRUE(monitor_->FeedEntries[1].EnclosureUrls.empty());
}

TEST_F(FeedRegistry, DeletesKeepTheListBoxAndTheRegistryInStep) {
    for (const char* url : {"a", "b", "c", "d"})
        monitor_->AddEntry(url);
    monitor_->FeedEntries[2].EnclosureCount = 2;
    monitor_->FeedEntries[2].EnclosureUrls = {"c1", "c2"};

    monitor_->Button2Click();  // no selected row: nothing
    EXPECT_EQ(monitor_->FeedCount(), 4);

    view_.selectedRow = 1;  // in the middle
    monitor_->Button2Click();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"a", "c", "d"}));
    ExpectRowsMatchRegistry();
    // An entry moves down whole.
    EXPECT_EQ(monitor_->FeedEntries[1].EnclosureCount, 2);
    EXPECT_EQ(monitor_->FeedEntries[1].EnclosureUrls, (std::vector<std::string>{"c1", "c2"}));

    view_.selectedRow = 0;
    monitor_->Button2Click();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"c", "d"}));
    monitor_->DelEintrag(1);
    monitor_->DelEintrag(5);  // no such entry: nothing
    EXPECT_EQ(Urls(), (std::vector<std::string>{"c"}));
    view_.selectedRow = 0;
    monitor_->Button2Click();
    EXPECT_EQ(monitor_->FeedCount(), 0);
    EXPECT_TRUE(view_.rows.empty());
}

TEST_F(FeedRegistry, HoldsAtMost65535Feeds) {
    for (int i = 0; i < 65535; ++i)
        monitor_->AddEntry("f");
    EXPECT_EQ(monitor_->FeedCount(), 65535);
    EXPECT_FALSE(monitor_->AddEntry("one too many"));
    view_.newFeedText = "typed";
    monitor_->Button1Click();
    EXPECT_EQ(monitor_->FeedEntries.size(), 65535u);
    EXPECT_EQ(view_.rows.size(), 65535u);
    EXPECT_EQ(view_.newFeedText, "typed");
}

TEST_F(FeedRegistry, AddDeleteAndAboutDoNothingDuringARun) {
    monitor_->AddEntry("a");
    monitor_->ScanBusy = true;
    view_.newFeedText = "b";
    monitor_->Button1Click();
    view_.selectedRow = 0;
    monitor_->Button2Click();
    monitor_->AboutClick();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"a"}));
    EXPECT_EQ(view_.newFeedText, "b");
    EXPECT_EQ(view_.aboutShown, 0);
    EXPECT_TRUE(app_.ShownBoxes().empty());

    // The folder button, the proxy box (showing and hiding the proxy field and its caption) and
    // the language menu still work.
    app_.ScriptDirectory(programDir_ + "picked");
    monitor_->Button4Click();
    EXPECT_EQ(view_.folderText, programDir_ + "picked/");
    for (bool checked : {true, false}) {
        view_.proxyChecked = checked;
        monitor_->CheckBox1Click();
        EXPECT_EQ(view_.visible.at({Window::Main, "ProxyEdit"}), checked);
        EXPECT_EQ(view_.visible.at({Window::Main, "Label4"}), checked);
    }
    monitor_->English1Click();
    EXPECT_EQ(monitor_->UiLanguage, 1);

    monitor_->ScanBusy = false;
    monitor_->AboutClick();
    EXPECT_EQ(view_.aboutShown, 1);
}

TEST_F(FeedRegistry, TheFolderButtonPutsThePickedFolderWithItsSeparatorIntoTheField) {
    view_.folderText = "/before/";
    app_.ScriptDirectory(std::nullopt);  // cancelled
    monitor_->Button4Click();
    EXPECT_EQ(view_.folderText, "/before/");
    app_.ScriptDirectory(programDir_ + "new/deep");  // typed in: created
    monitor_->Button4Click();
    EXPECT_EQ(view_.folderText, programDir_ + "new/deep/");
    EXPECT_TRUE(std::filesystem::is_directory(programDir_ + "new/deep"));
    app_.ScriptDirectory(programDir_);
    monitor_->Button4Click();
    EXPECT_EQ(view_.folderText, programDir_);
    // The folder itself is taken from the field only when needed.
    EXPECT_EQ(monitor_->DownloadFolder, "");
}

}  // namespace
}  // namespace app::testing
