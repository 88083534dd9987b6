#include "app/gui/gauge.h"

#include <gtest/gtest.h>

#include <QImage>

namespace app {
namespace {

TEST(Gauge, ClampsAndFillsNavyOnWhiteWithTheValueOverIt) {
    Gauge gauge;
    gauge.resize(417, 33);
    gauge.SetProgress(150);
    EXPECT_EQ(gauge.Progress(), 100);
    gauge.SetProgress(-3);
    EXPECT_EQ(gauge.Progress(), 0);
    gauge.SetProgress(48);
    EXPECT_EQ(gauge.Progress(), 48);

    QImage shown = gauge.grab().toImage();
    const QColor navy(0, 0, 128);
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(Qt::black));  // the border
    EXPECT_EQ(shown.pixelColor(10, 5), navy);
    EXPECT_EQ(shown.pixelColor(190, 28), navy);
    EXPECT_EQ(shown.pixelColor(210, 28), QColor(Qt::white));
    EXPECT_EQ(shown.pixelColor(400, 5), QColor(Qt::white));
    // The text "48%" stands in the middle, navy where it is over the white part.
    int navyText = 0;
    for (int x = 202; x < 240; ++x)
        for (int y = 4; y < 29; ++y)
            navyText += shown.pixelColor(x, y) == navy;
    EXPECT_GT(navyText, 0);
}

}  // namespace
}  // namespace app
