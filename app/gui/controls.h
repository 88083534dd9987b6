// What the three windows share: fonts asked for by name, controls placed by name and bounds,
// captions, and the centring rule applied to widgets.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "app/feed_monitor.h"

namespace app {

// The font family of the controls; the system's fallback serves where it is missing.
QFont SansSerifFont(int pixelSize);
QFont NamedFont(const QString& family, int pixelSize);
// The size of the labels', buttons' and check boxes' font in the main and progress windows.
constexpr int kControlPixelSize = 19;

// Asks for the control's font family at pixelSize, or smaller where a wider stand-in font would
// cut the control's text at width (its own width unless given).
void FitFont(QWidget& control, int pixelSize, int width);
inline void FitFont(QWidget& control, int pixelSize) {
    FitFont(control, pixelSize, control.width());
}

QString ToQString(const std::string& utf8);

template <class Control>
Control* Place(QWidget* parent, const char* name, QRect bounds) {
    auto* control = new Control(parent);
    control->setObjectName(name);
    control->setGeometry(bounds);
    return control;
}

// The window itself for the empty name, else its child of that object name (or nullptr).
QObject* FindControl(QWidget& window, const std::string& name);

// Sets the text of a label, button, menu, menu entry or edit; for a window, its caption. Labels
// take the width of their text, up to their maximum width, within which a label with one fits
// its font; buttons and check boxes fit their text in their width.
void SetCaption(QObject& control, const QString& text);

// The captions of the window's switchable controls in a language (German: the form's own texts).
void SetCaptions(QWidget& window, Window which, std::uint8_t language);

// Outer size, frame included (the plain size before the window is first shown).
int OuterWidth(const QWidget& window);

void CentreOnScreen(QWidget& window);
void CentreHorizontally(QWidget& window, const char* control);

// Runs centre once, as soon as the window manager's frame of the window is known (after the window
// is first shown): centring done before that took the client size for the outer size.
void WhenFrameKnown(QWidget& window, std::function<void()> centre);

}  // namespace app
