#include "feed_monitor_fixture.h"

namespace app::testing {
namespace {

using Languages = FeedMonitorTest;

// A sample of the captions, one of each kind of control in both windows.
struct Expected {
    Window window;
    const char* control;
    const char* german;
    const char* english;
};
const Expected kCaptions[] = {
    {Window::Main, "About", "Über TOVEKA Vededezevirivedo", "About TOVEKA Vededezevirivedo"},
    {Window::Main, "Sprache1", "Sprache", "Language"},
    {Window::Main, "English1", "Englisch", "English"},
    {Window::Main, "Button4", "Auswählen", "Select..."},
    {Window::Main, "CheckBox1", "Internetverbindung läuft über einen Proxyserver",
     "Internet connection is via a proxy server"},
    {Window::Progress, "Label2", "Dateien werden gedownloadet", "files to download"},
    {Window::Progress, "Button2", "alle Downloads abbrechen", "Cancel all downloads"},
};

int CentredLabelLeft(const char* text) {
    return 432 / 2 -
           RecordingView::kLabelPixelsPerByte * static_cast<int>(std::string(text).size()) / 2;
}

// Each switch rewrites every caption of both windows, disables its own menu entry and centres
// the progress headings on their new widths.
TEST_F(Languages, EachSwitchRewritesBothWindows) {
    monitor_->English1Click();
    for (const Expected& caption : kCaptions)
        EXPECT_EQ(view_.Caption(caption.window, caption.control), caption.english)
            << caption.control;
    // Every switchable caption: 13 of the main window, 4 of the progress window.
    EXPECT_EQ(view_.captions.size(), 17u);
    EXPECT_EQ(monitor_->UiLanguage, 1);
    EXPECT_EQ(app_.Language(), platform::InterfaceLanguage::English);
    EXPECT_FALSE(view_.enabled.at({Window::Main, "English1"}));
    EXPECT_TRUE(view_.enabled.at({Window::Main, "Deutsch1"}));
    // 17 bytes of 7 pixels: an odd width in an even window.
    EXPECT_EQ((view_.lefts.at({Window::Progress, "Label2"})), 157);
    EXPECT_EQ((view_.lefts.at({Window::Progress, "Label3"})),
              CentredLabelLeft("Current Download:"));

    monitor_->Deutsch1Click();
    for (const Expected& caption : kCaptions)
        EXPECT_EQ(view_.Caption(caption.window, caption.control), caption.german)
            << caption.control;
    EXPECT_EQ(monitor_->UiLanguage, 0);
    EXPECT_EQ(app_.Language(), platform::InterfaceLanguage::German);
    EXPECT_TRUE(view_.enabled.at({Window::Main, "English1"}));
    EXPECT_FALSE(view_.enabled.at({Window::Main, "Deutsch1"}));
    EXPECT_EQ((view_.lefts.at({Window::Progress, "Label2"})),
              CentredLabelLeft("Dateien werden gedownloadet"));
    EXPECT_EQ((view_.lefts.at({Window::Progress, "Label3"})),
              CentredLabelLeft("aktueller Download:"));
}

TEST_F(Languages, MessagesFollowTheCurrentLanguage) {
    EXPECT_EQ(monitor_->MessageText(5), "Es wurden keine neuen Dateien gefunden.");
    EXPECT_EQ(monitor_->MessageText(10), "Download abgebrochen!");
    monitor_->InEnglish();
    EXPECT_EQ(monitor_->MessageText(0) + "http://x.example" + monitor_->MessageText(1),
              "At http://x.example were no downloadable files are found. Do you want to delete "
              "the entry?");
    EXPECT_EQ(monitor_->MessageText(9), "The download of the files has been canceled.");
}

}  // namespace
}  // namespace app::testing
