// The about window's picture, drawn in code: 264 x 170 pixels, 24 bits per pixel.
#pragma once

#include <QImage>

namespace app {

QImage MakeAboutPicture();

}  // namespace app
