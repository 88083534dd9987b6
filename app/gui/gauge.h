// A horizontal percentage bar for 0..100: navy fill on white, a single border, and the value
// written over it as a whole number followed by "%".
#pragma once

#include <QWidget>

namespace app {

class Gauge : public QWidget {
  public:
    explicit Gauge(QWidget* parent = nullptr);

    int Progress() const { return progress_; }
    // Clamps to 0..100 and repaints only when the shown value changes.
    void SetProgress(int value);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int progress_ = 0;
};

}  // namespace app
