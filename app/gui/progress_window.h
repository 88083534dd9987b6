// The progress window TForm3: frameless and on top, with the file counter, the current file's
// name, two gauges and the two cancel buttons. It is created hidden; downloads show it.
#pragma once

#include <QWidget>
#include <cstdint>

namespace app {

class FeedMonitor;

class TForm3 : public QWidget {
  public:
    // Created after the main window, it takes the interface language already chosen.
    explicit TForm3(std::uint8_t language);

    // The downloads that the cancel buttons act on.
    void SetMonitor(FeedMonitor& monitor) { monitor_ = &monitor; }

  private:
    void FormCreate();
    void Button1Click();  // cancel the current download
    void Button2Click();  // cancel all downloads

    FeedMonitor* monitor_ = nullptr;
};

}  // namespace app
