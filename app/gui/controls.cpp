#include "app/gui/controls.h"

#include <QAbstractButton>
#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>

#include "app/captions.h"
#include "app/centring.h"

namespace app {

QFont SansSerifFont(int pixelSize) {
    return NamedFont("MS Sans Serif", pixelSize);
}

QFont NamedFont(const QString& family, int pixelSize) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

void FitFont(QWidget& control, int pixelSize) {
    QFont font = control.font();
    font.setPixelSize(pixelSize);
    control.setFont(font);
    while (font.pixelSize() > 1 && control.sizeHint().width() > control.width()) {
        font.setPixelSize(font.pixelSize() - 1);
        control.setFont(font);
    }
}

QString ToQString(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), utf8.size());
}

QObject* FindControl(QWidget& window, const std::string& name) {
    if (name.empty()) return &window;
    return window.findChild<QObject*>(ToQString(name));
}

void SetCaption(QObject& control, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(&control)) {
        label->setText(text);
        label->resize(label->sizeHint().width(), label->height());
    } else if (auto* button = qobject_cast<QAbstractButton*>(&control)) {
        button->setText(text);
        FitFont(*button, kControlPixelSize);
    } else if (auto* action = qobject_cast<QAction*>(&control)) {
        action->setText(text);
    } else if (auto* menu = qobject_cast<QMenu*>(&control)) {
        menu->setTitle(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(&control)) {
        edit->setText(text);
    } else if (auto* window = qobject_cast<QWidget*>(&control)) {
        window->setWindowTitle(text);
    }
}

void SetCaptions(QWidget& window, Window which, std::uint8_t language) {
    for (const SwitchableCaption& caption : SwitchableCaptions) {
        if (caption.window != which) continue;
        if (QObject* control = FindControl(window, std::string(caption.control)))
            SetCaption(*control, ToQString(std::string(caption.In(language))));
    }
}

int OuterWidth(const QWidget& window) {
    return window.frameGeometry().width();
}

void CentreOnScreen(QWidget& window) {
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    QSize outer = window.frameGeometry().size();
    window.move(screen.left() + CentredPosition(screen.width(), outer.width()),
                screen.top() + CentredPosition(screen.height(), outer.height()));
}

void CentreHorizontally(QWidget& window, const char* control) {
    auto* widget = window.findChild<QWidget*>(control);
    widget->move(CentredPosition(OuterWidth(window), widget->width()), widget->y());
}

}  // namespace app
