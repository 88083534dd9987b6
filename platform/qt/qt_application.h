// The application object of the program: Qt's event loop is the master, and our thread loop
// runs inside it through a notifier on the loop's single epoll descriptor.
#pragma once

#include <QApplication>
#include <QSocketNotifier>
#include <QTranslator>
#include <memory>

#include "platform/application.h"

namespace platform {

class QtApplication : public QApplication, public Application {
    Q_OBJECT
  public:
    QtApplication(int& argc, char** argv);
    ~QtApplication() override;

    void ProcessMessages() override;
    void WaitForInput(int timeoutMs) override;
    void ShowException(const std::exception& error) override;
    MessageBoxResult MessageBox(const std::string& text, const std::string& caption,
                                MessageBoxButtons buttons) override;
    std::optional<std::string> SelectDirectory() override;
    bool OpenUrl(const std::string& url) override;
    // Loads or removes Qt's own German texts.
    void SetInterfaceLanguage(InterfaceLanguage language) override;
    void Terminate() override;

    // Exceptions that escape a Qt event handler reach the default error report.
    bool notify(QObject* receiver, QEvent* event) override;

  private:
    void DispatchOurMessages();

    std::unique_ptr<QSocketNotifier> loopNotifier_;
    QTranslator qtTexts_;
};

}  // namespace platform
