// Draws the programs' icon at build time: the middle of the about window's picture on a rounded
// square, 256 x 256 pixels, written as PNG to the given path.
//
//     make_icon OUTPUT.png
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

#include "app/gui/about_picture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    constexpr int kSize = 256;
    const QImage picture = app::MakeAboutPicture();
    const int side = picture.height();
    const QImage middle = picture.copy((picture.width() - side) / 2, 0, side, side);

    QImage icon(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(8, 8, kSize - 16, kSize - 16), 36, 36);
    painter.setClipPath(rounded);
    painter.drawImage(QRectF(8, 8, kSize - 16, kSize - 16), middle);
    painter.end();
    return icon.save(argv[1], "PNG") ? 0 : 1;
}
