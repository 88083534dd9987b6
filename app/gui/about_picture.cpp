#include "app/gui/about_picture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace app {

QImage MakeAboutPicture() {
    QImage picture(264, 170, QImage::Format_RGB888);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, picture.height());
    sky.setColorAt(0, QColor(0x10, 0x24, 0x5c));
    sky.setColorAt(1, QColor(0x2a, 0x7a, 0xb8));
    painter.fillRect(picture.rect(), sky);

    // A microphone sending waves to both sides: the feeds.
    const QPointF head(132, 62);
    QPen wave(QColor(0xff, 0xd5, 0x4f), 5, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(wave);
    for (int ring = 1; ring <= 3; ++ring) {
        double radius = 26 + ring * 16;
        QRectF box(head.x() - radius, head.y() - radius, 2 * radius, 2 * radius);
        painter.setOpacity(1.0 - 0.25 * (ring - 1));
        painter.drawArc(box, -40 * 16, 80 * 16);
        painter.drawArc(box, 140 * 16, 80 * 16);
    }
    painter.setOpacity(1.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(head.x() - 14, head.y() - 32, 28, 52), 14, 14);
    painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(head.x() - 22, head.y() - 14, 44, 44), 180 * 16, 180 * 16);
    painter.drawLine(QPointF(head.x(), head.y() + 30), QPointF(head.x(), head.y() + 42));

    // An arrow down into a tray: the episodes arriving.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xd5, 0x4f));
    QPainterPath arrow;
    arrow.moveTo(124, 112);
    arrow.lineTo(140, 112);
    arrow.lineTo(140, 128);
    arrow.lineTo(150, 128);
    arrow.lineTo(132, 148);
    arrow.lineTo(114, 128);
    arrow.lineTo(124, 128);
    arrow.closeSubpath();
    painter.drawPath(arrow);
    painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(
        QPolygonF({QPointF(104, 146), QPointF(104, 158), QPointF(160, 158), QPointF(160, 146)}));
    return picture;
}

}  // namespace app
