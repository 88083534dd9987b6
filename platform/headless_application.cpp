#include "platform/headless_application.h"

#include <filesystem>

#include "platform/message_loop.h"
#include "platform/system.h"

namespace platform {

HeadlessApplication::HeadlessApplication() = default;
HeadlessApplication::~HeadlessApplication() = default;

void HeadlessApplication::ProcessMessages() {
    if (ProcessPendingMessages()) Terminate();
}

void HeadlessApplication::WaitForInput(int timeoutMs) {
    platform::WaitForInput(timeoutMs);
}

void HeadlessApplication::ShowException(const std::exception& error) {
    shown_.push_back({ShownBox::Kind::ErrorReport, ErrorReportText(error), Title()});
    if (!OnUnexpectedBox && !OnBoxShown) OutputDebugString(Title() + ": " + ErrorReportText(error));
    if (OnBoxShown) OnBoxShown(shown_.back());
}

MessageBoxResult HeadlessApplication::MessageBox(const std::string& text,
                                                 const std::string& caption,
                                                 MessageBoxButtons buttons) {
    ShownBox box{ShownBox::Kind::Message, text, caption, buttons};
    shown_.push_back(box);
    MessageBoxResult answer =
        buttons == MessageBoxButtons::Ok ? MessageBoxResult::Ok : MessageBoxResult::No;
    if (!boxAnswers_.empty()) {
        answer = boxAnswers_.front();
        boxAnswers_.pop_front();
    } else if (OnUnexpectedBox) {
        OnUnexpectedBox(box);
    }
    if (OnBoxShown) OnBoxShown(box);
    return answer;
}

std::optional<std::string> HeadlessApplication::SelectDirectory() {
    ShownBox box{ShownBox::Kind::DirectoryPicker, {}, {}};
    shown_.push_back(box);
    if (directories_.empty()) {
        if (OnUnexpectedBox) OnUnexpectedBox(box);
        return std::nullopt;
    }
    auto directory = std::move(directories_.front());
    directories_.pop_front();
    if (directory && !std::filesystem::exists(*directory))
        std::filesystem::create_directories(*directory);
    return directory;
}

bool HeadlessApplication::OpenUrl(const std::string& url) {
    openedUrls_.push_back(url);
    return true;
}

}  // namespace platform
