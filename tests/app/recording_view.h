// A main window without a toolkit for the feed monitor's tests: it keeps what the logic shows.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/feed_monitor.h"

namespace app::testing {

class RecordingView : public FeedMonitorView {
  public:
    using Key = std::pair<Window, std::string>;
    // Labels take the width of their text: this many pixels per byte.
    static constexpr int kLabelPixelsPerByte = 7;

    std::vector<std::string> rows;
    int selectedRow = -1;
    std::string newFeedText;
    std::string folderText;
    std::string proxyText;
    bool proxyChecked = false;
    int aboutShown = 0;
    std::map<Key, std::string> captions;
    std::map<Key, bool> enabled;
    std::map<Key, bool> visible;
    std::map<Key, int> widths;
    std::map<Key, int> lefts;
    std::map<Key, std::vector<int>> gaugeValues;  // every value set, in order
    // Runs after each gauge value, from inside the download that set it.
    std::function<void(const std::string& gauge, int value)> onGaugeValue;
    // Runs after each piece of a download in any slot, from inside the download.
    std::function<void(std::size_t slot)> onDownloadProgress;

    void AppendFeedRow(const std::string& url) override { rows.push_back(url); }
    void DeleteFeedRow(int index) override {
        rows.erase(rows.begin() + index);
        selectedRow = -1;
    }
    int SelectedFeedRow() const override { return selectedRow; }
    std::string NewFeedText() const override { return newFeedText; }
    void SetNewFeedText(const std::string& text) override { newFeedText = text; }
    std::string FolderText() const override { return folderText; }
    void SetFolderText(const std::string& text) override { folderText = text; }
    std::string ProxyText() const override { return proxyText; }
    bool ProxyChecked() const override { return proxyChecked; }
    void ShowAboutModal() override { ++aboutShown; }
    void SetCaption(Window window, const std::string& control, const std::string& text) override {
        captions[{window, control}] = text;
        if (control.starts_with("Label"))
            widths[{window, control}] = kLabelPixelsPerByte * static_cast<int>(text.size());
    }
    void SetEnabled(Window window, const std::string& control, bool on) override {
        enabled[{window, control}] = on;
    }
    void SetVisible(Window window, const std::string& control, bool on) override {
        visible[{window, control}] = on;
    }
    int Width(Window window, const std::string& control) const override {
        auto found = widths.find({window, control});
        return found == widths.end() ? 0 : found->second;
    }
    void SetLeft(Window window, const std::string& control, int left) override {
        lefts[{window, control}] = left;
    }

    void SetGaugeValue(Window window, const std::string& control, int value) override {
        gaugeValues[{window, control}].push_back(value);
        if (onGaugeValue) onGaugeValue(control, value);
    }

    void DownloadProgress(std::size_t slot, std::int64_t, std::int64_t) override {
        if (onDownloadProgress) onDownloadProgress(slot);
    }

    std::string Caption(Window window, const std::string& control) const {
        auto found = captions.find({window, control});
        return found == captions.end() ? std::string() : found->second;
    }
};

}  // namespace app::testing
