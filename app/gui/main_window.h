// The main window TForm1: the feed list, the folder and proxy fields, the buttons and the menu.
// Its logic is the FeedMonitor's; the window is its view.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <string>

#include "app/feed_monitor.h"

class QCheckBox;
class QLineEdit;
class QListWidget;

namespace app {

class HorizontalAnchors;
class TForm2;
class TForm3;

class TForm1 : public QMainWindow, public FeedMonitorView {
  public:
    // Runs the creation handler, with the system language given (tests give any).
    TForm1(const std::string& programDir, std::uint16_t systemLanguageId);

    FeedMonitor& Monitor() { return monitor_; }
    // The about and progress windows come into being after the main window.
    void SetAboutWindow(TForm2& window) { about_ = &window; }
    void SetProgressWindow(TForm3& window);

    void AppendFeedRow(const std::string& url) override;
    void DeleteFeedRow(int index) override;
    int SelectedFeedRow() const override;
    std::string NewFeedText() const override;
    void SetNewFeedText(const std::string& text) override;
    std::string FolderText() const override;
    void SetFolderText(const std::string& text) override;
    std::string ProxyText() const override;
    bool ProxyChecked() const override;
    void ShowAboutModal() override;
    void SetCaption(Window window, const std::string& control, const std::string& text) override;
    void SetEnabled(Window window, const std::string& control, bool enabled) override;
    void SetVisible(Window window, const std::string& control, bool visible) override;
    int Width(Window window, const std::string& control) const override;
    void SetLeft(Window window, const std::string& control, int left) override;
    void SetGaugeValue(Window window, const std::string& control, int value) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenu();
    void BuildPanel();
    void FormCreate(std::uint16_t systemLanguageId);
    QWidget* WindowOf(Window window) const;
    QWidget* WidgetOf(Window window, const std::string& control) const;

    FeedMonitor monitor_;
    HorizontalAnchors* anchors_ = nullptr;
    QListWidget* listBox1_ = nullptr;
    QLineEdit* edit1_ = nullptr;
    QLineEdit* edit2_ = nullptr;
    QLineEdit* proxyEdit_ = nullptr;
    QCheckBox* checkBox1_ = nullptr;
    TForm2* about_ = nullptr;
    TForm3* progress_ = nullptr;
};

}  // namespace app
