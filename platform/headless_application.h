// The application object without a display: boxes and the picker answer from a script the caller
// sets; every box shown is recorded. A box with no scripted answer goes to OnUnexpectedBox.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/application.h"

namespace platform {

struct ShownBox {
    enum class Kind { Message, ErrorReport, DirectoryPicker };
    Kind kind;
    std::string text;
    std::string caption;
    MessageBoxButtons buttons = MessageBoxButtons::Ok;
};

class HeadlessApplication : public Application {
  public:
    HeadlessApplication();
    ~HeadlessApplication() override;

    void ProcessMessages() override;
    void WaitForInput(int timeoutMs) override;
    void ShowException(const std::exception& error) override;
    MessageBoxResult MessageBox(const std::string& text, const std::string& caption,
                                MessageBoxButtons buttons) override;
    std::optional<std::string> SelectDirectory() override;
    bool OpenUrl(const std::string& url) override;

    // Answers for the next message boxes (error reports need none) and directory pickers.
    void ScriptAnswer(MessageBoxResult answer) { boxAnswers_.push_back(answer); }
    void ScriptDirectory(std::optional<std::string> directory) {
        directories_.push_back(std::move(directory));
    }
    // Runs when a box (or picker) has no scripted answer; it then answers Ok/No/cancel.
    std::function<void(const ShownBox&)> OnUnexpectedBox;
    // Runs for each message box just before it returns its answer (a test may act "inside" it).
    std::function<void(const ShownBox&)> OnBoxShown;

    const std::vector<ShownBox>& ShownBoxes() const { return shown_; }
    const std::vector<std::string>& OpenedUrls() const { return openedUrls_; }
    void ClearRecord() {
        shown_.clear();
        openedUrls_.clear();
    }

  private:
    std::deque<MessageBoxResult> boxAnswers_;
    std::deque<std::optional<std::string>> directories_;
    std::vector<ShownBox> shown_;
    std::vector<std::string> openedUrls_;
};

}  // namespace platform
