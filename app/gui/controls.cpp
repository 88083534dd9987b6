#include "app/gui/controls.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>

#include "app/captions.h"
#include "app/centring.h"

namespace app {
namespace {

class FrameWatch : public QObject {
  public:
    FrameWatch(QWidget& window, std::function<void()> onKnown)
        : QObject(&window), window_(window), onKnown_(std::move(onKnown)) {
        window.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        // The frame shows in the outer size once the window is mapped; which event brings the news
        // depends on the window manager.
        QEvent::Type type = event->type();
        bool mayKnow = type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize ||
                       type == QEvent::Paint;
        if (mayKnow && window_.frameGeometry().size() != window_.size()) {
            window_.removeEventFilter(this);
            deleteLater();
            onKnown_();
        }
        return false;
    }

  private:
    QWidget& window_;
    std::function<void()> onKnown_;
};

}  // namespace

QFont SansSerifFont(int pixelSize) {
    return NamedFont("MS Sans Serif", pixelSize);
}

QFont NamedFont(const QString& family, int pixelSize) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

void FitFont(QWidget& control, int pixelSize, int width) {
    QFont font = control.font();
    font.setPixelSize(pixelSize);
    control.setFont(font);
    while (font.pixelSize() > 1 && control.sizeHint().width() > width) {
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
        if (label->maximumWidth() < QWIDGETSIZE_MAX)
            FitFont(*label, kControlPixelSize, label->maximumWidth());
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

void WhenFrameKnown(QWidget& window, std::function<void()> centre) {
    new FrameWatch(window, std::move(centre));
}

}  // namespace app
