// The two language switches of the main window.
#include "app/captions.h"
#include "app/feed_monitor.h"
#include "platform/application.h"

namespace app {

void FeedMonitor::InDeutsch() {
    SwitchLanguage(0);
}

void FeedMonitor::InEnglish() {
    SwitchLanguage(1);
}

void FeedMonitor::SwitchLanguage(std::uint8_t language) {
    bool english = language == 1;
    // The entry of the current language is the one that cannot be chosen.
    view_.SetEnabled(Window::Main, "English1", !english);
    view_.SetEnabled(Window::Main, "Deutsch1", english);
    for (const SwitchableCaption& caption : SwitchableCaptions) {
        view_.SetCaption(caption.window, std::string(caption.control),
                         std::string(caption.In(language)));
    }
    // Labels take the width of their text, so the progress window's headings move.
    CentreHorizontally(Window::Progress, "Label2");
    CentreHorizontally(Window::Progress, "Label3");
    UiLanguage = language;
    platform::App().SetInterfaceLanguage(english ? platform::InterfaceLanguage::English
                                                 : platform::InterfaceLanguage::German);
}

}  // namespace app
