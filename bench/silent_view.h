// The benchmarks' main window: it shows nothing and only answers the folder and proxy fields.
#pragma once

#include <string>

#include "app/feed_monitor.h"

namespace bench {

class SilentView : public app::FeedMonitorView {
  public:
    explicit SilentView(std::string folder) : folder_(std::move(folder)) {}
    void AppendFeedRow(const std::string&) override {}
    void DeleteFeedRow(int) override {}
    int SelectedFeedRow() const override { return -1; }
    std::string NewFeedText() const override { return {}; }
    void SetNewFeedText(const std::string&) override {}
    std::string FolderText() const override { return folder_; }
    void SetFolderText(const std::string& text) override { folder_ = text; }
    std::string ProxyText() const override { return {}; }
    bool ProxyChecked() const override { return false; }
    void ShowAboutModal() override {}
    void SetCaption(app::Window, const std::string&, const std::string&) override {}
    void SetEnabled(app::Window, const std::string&, bool) override {}
    void SetVisible(app::Window, const std::string&, bool) override {}
    int Width(app::Window, const std::string&) const override { return 0; }
    void SetLeft(app::Window, const std::string&, int) override {}
    void SetGaugeValue(app::Window, const std::string&, int) override {}

  private:
    std::string folder_;
};

}  // namespace bench
