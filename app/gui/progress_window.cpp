#include "app/gui/progress_window.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/feed_monitor.h"
#include "app/gui/controls.h"
#include "app/gui/gauge.h"

namespace app {

TForm3::TForm3(std::uint8_t language)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("Form3");
    setWindowTitle("Download");
    resize(432, 302);

    auto* panel = new QFrame(this);
    panel->setObjectName("Panel1");
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setFont(SansSerifFont(11));
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(panel);

    Place<QLabel>(panel, "Label1", {200, 8, 35, 24});
    Place<QLabel>(panel, "Label2", {80, 32, 258, 24});
    Place<Gauge>(panel, "Gauge1", {8, 64, 417, 33});
    Place<QLabel>(panel, "Label3", {136, 104, 165, 24});
    Place<QLabel>(panel, "Label4", {184, 136, 61, 24});
    Place<Gauge>(panel, "Gauge2", {7, 168, 418, 33});
    auto* button1 = Place<QPushButton>(panel, "Button1", {72, 216, 297, 33});
    auto* button2 = Place<QPushButton>(panel, "Button2", {72, 256, 297, 33});
    for (QWidget* control : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!dynamic_cast<Gauge*>(control)) control->setFont(SansSerifFont(kControlPixelSize));
    setTabOrder(button1, button2);
    connect(button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(button2, &QPushButton::clicked, this, [this] { Button2Click(); });

    // The texts come last: labels take the width of their text in their font.
    SetCaption(*FindControl(*this, "Label1"), "1 / 1");
    SetCaption(*FindControl(*this, "Label4"), "Datei X");
    SetCaptions(*this, Window::Progress, language);
    FormCreate();
}

void TForm3::FormCreate() {
    CentreOnScreen(*this);
    CentreHorizontally(*this, "Label2");
    CentreHorizontally(*this, "Label3");
}

void TForm3::Button1Click() {
    if (monitor_) monitor_->CancelCurrentDownload();
}

void TForm3::Button2Click() {
    if (monitor_) monitor_->CancelAllDownloads();
}

}  // namespace app
