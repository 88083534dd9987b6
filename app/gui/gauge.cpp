#include "app/gui/gauge.h"

#include <QPainter>
#include <algorithm>

namespace app {

Gauge::Gauge(QWidget* parent) : QWidget(parent) {}

void Gauge::SetProgress(int value) {
    value = std::clamp(value, 0, 100);
    if (value == progress_) return;
    progress_ = value;
    update();
}

void Gauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect inside = rect().adjusted(1, 1, -1, -1);
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.fillRect(inside, Qt::white);
    QRect filled = inside;
    filled.setWidth(inside.width() * progress_ / 100);
    painter.fillRect(filled, QColor(Qt::darkBlue));

    // The text reads navy on the white part and white on the navy part.
    QString text = QString::number(progress_) + "%";
    painter.setClipRect(inside);
    painter.setPen(QColor(Qt::darkBlue));
    painter.drawText(inside, Qt::AlignCenter, text);
    painter.setClipRect(filled);
    painter.setPen(Qt::white);
    painter.drawText(inside, Qt::AlignCenter, text);
}

}  // namespace app
