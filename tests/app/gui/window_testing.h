// Helpers of the window tests: a fresh program directory, controls by name and their texts.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWidget>
#include <ostream>
#include <string>

#include "platform/application.h"

// Readable rectangles and sizes in failure messages.
inline void PrintTo(const QRect& rect, std::ostream* out) {
    *out << "(" << rect.x() << ", " << rect.y() << ", " << rect.width() << " x " << rect.height()
         << ")";
}
inline void PrintTo(const QPoint& point, std::ostream* out) {
    *out << "(" << point.x() << ", " << point.y() << ")";
}
inline void PrintTo(const QSize& size, std::ostream* out) {
    *out << size.width() << " x " << size.height();
}

namespace app::testing {

class ProgramDirectory {
  public:
    std::string Path() const { return dir_.path().toStdString() + "/"; }

  private:
    QTemporaryDir dir_;
};

// Installs another application object for the scope, e.g. a headless one that records boxes.
class ApplicationScope {
  public:
    explicit ApplicationScope(platform::Application& app)
        : previous_(platform::SetApplication(&app)) {}
    ~ApplicationScope() { platform::SetApplication(previous_); }

  private:
    platform::Application* previous_;
};

template <class Control = QWidget>
Control& Find(QObject& window, const char* name) {
    auto* control = window.findChild<Control*>(name);
    if (!control) throw std::runtime_error(std::string("no control ") + name);
    return *control;
}

inline QString TextOf(QWidget& control) {
    if (auto* label = qobject_cast<QLabel*>(&control)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(&control)) return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(&control)) return edit->text();
    return {};
}

// At the given bounds; a label as wide as its text.
inline void ExpectPlaced(QWidget& control, QRect bounds) {
    if (qobject_cast<QLabel*>(&control)) bounds.setWidth(control.sizeHint().width());
    EXPECT_EQ(control.geometry(), bounds) << control.objectName().toStdString();
}

// The font size asked for, or less where a wider stand-in font would cut the text.
inline void ExpectFontFitting(QWidget& control, int pixelSize) {
    EXPECT_LE(control.font().pixelSize(), pixelSize) << control.objectName().toStdString();
    EXPECT_GE(control.font().pixelSize(), pixelSize - 4) << control.objectName().toStdString();
    EXPECT_LE(control.sizeHint().width(), control.width()) << control.objectName().toStdString();
}

}  // namespace app::testing
