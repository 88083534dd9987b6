// A feed monitor in a fresh program directory, with the headless application installed.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/feed_monitor.h"
#include "platform/headless_application.h"
#include "recording_view.h"

namespace app::testing {

class FeedMonitorTest : public ::testing::Test {
  protected:
    static constexpr std::uint16_t kGerman = 0x0407;
    static constexpr std::uint16_t kEnglish = 0x0409;

    FeedMonitorTest() : previous_(platform::SetApplication(&app_)) {
        std::string pattern = (std::filesystem::temp_directory_path() / "pd_app_XXXXXX").string();
        programDir_ = std::string(mkdtemp(pattern.data())) + "/";
        monitor_ = std::make_unique<FeedMonitor>(view_, programDir_);
        // A scripted server answers its connections in the order they come; feeds fetched side by
        // side would race for the answers.
        monitor_->FeedsInFlight = 1;
        view_.widths[{Window::Main, ""}] = 1024;
        view_.widths[{Window::Main, "Button3"}] = 537;
        view_.widths[{Window::Progress, ""}] = 432;
    }
    ~FeedMonitorTest() override {
        platform::SetApplication(previous_);
        std::filesystem::remove_all(programDir_);
    }

    std::string ListPath() const { return programDir_ + "liste.pdl"; }
    void WriteListFile(const std::string& bytes) const {
        std::ofstream(ListPath(), std::ios::binary) << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        return bytes.str();
    }
    std::string ReadListFile() const { return ReadFile(ListPath()); }
    static std::vector<std::string> UrlsOf(const FeedMonitor& monitor) {
        std::vector<std::string> urls;
        for (const FeedEntry& entry : monitor.FeedEntries)
            urls.push_back(entry.FeedUrl);
        return urls;
    }
    std::vector<std::string> Urls() const { return UrlsOf(*monitor_); }
    // The list box shows the registry row by row.
    void ExpectRowsMatchRegistry() const { EXPECT_EQ(view_.rows, Urls()); }
    // The last box shown is the run's summary, with text k and caption k + 1.
    void ExpectSummary(int k) const {
        ASSERT_FALSE(app_.ShownBoxes().empty());
        const auto& box = app_.ShownBoxes().back();
        EXPECT_EQ(box.text, monitor_->MessageText(k));
        EXPECT_EQ(box.caption, monitor_->MessageText(k + 1));
        EXPECT_EQ(box.buttons, platform::MessageBoxButtons::Ok);
    }

    platform::HeadlessApplication app_;
    platform::Application* previous_;
    std::string programDir_;
    RecordingView view_;
    std::unique_ptr<FeedMonitor> monitor_;
};

}  // namespace app::testing
