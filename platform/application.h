// The application object: the services the upper layers ask of "the application" (pending message
// processing, the terminate flag, message boxes, the default error report, the directory picker,
// opening a web address, the language of its own texts). The program installs a Qt implementation,
// tests a headless one.
#pragma once

#include <exception>
#include <optional>
#include <string>

namespace platform {

// YesNoDefaultNo: Enter answers No, for questions whose Yes loses something.
enum class MessageBoxButtons { Ok, YesNo, YesNoDefaultNo };
enum class MessageBoxResult { Ok, Yes, No };
enum class InterfaceLanguage { German, English };

class Application {
  public:
    virtual ~Application() = default;

    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }

    // The language of the platform's own texts: the boxes' buttons and the directory picker.
    InterfaceLanguage Language() const { return language_; }
    virtual void SetInterfaceLanguage(InterfaceLanguage language) { language_ = language; }

    bool Terminated() const { return terminated_; }
    virtual void Terminate() { terminated_ = true; }

    // Processes every pending message (the GUI's events, then our loop's messages).
    virtual void ProcessMessages() = 0;
    // Waits until input is pending or timeoutMs passed.
    virtual void WaitForInput(int timeoutMs) = 0;

    // The default error report: error icon, the title as caption, ErrorReportText as text.
    virtual void ShowException(const std::exception& error) = 0;
    // A modal box without icon.
    virtual MessageBoxResult MessageBox(const std::string& text, const std::string& caption,
                                        MessageBoxButtons buttons) = 0;
    // The modal directory picker; a typed-in directory that does not exist is created with its
    // parents after "The specified directory does not exist. Create it?" (in the interface
    // language). Nothing when cancelled.
    virtual std::optional<std::string> SelectDirectory() = 0;
    // Opens a web address in the default browser; false when that failed.
    virtual bool OpenUrl(const std::string& url) = 0;

  private:
    std::string title_;
    InterfaceLanguage language_ = InterfaceLanguage::English;
    bool terminated_ = false;
};

// The error's text, with a period added when its last character's code is above that of ".".
std::string ErrorReportText(const std::exception& error);

// The installed application; a plain headless one until another is installed.
Application& App();
// Installs app (not owned; nullptr restores the default). Returns the previous one.
Application* SetApplication(Application* app);

}  // namespace platform
