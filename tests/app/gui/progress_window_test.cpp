#include "app/gui/progress_window.h"

#include <QTest>

#include "app/centring.h"
#include "app/gui/gauge.h"
#include "app/gui/main_window.h"
#include "window_testing.h"

namespace app::testing {
namespace {

TEST(ProgressWindow, IsAFramelessWindowOnTopWithItsControlsAndCentredHeadings) {
    TForm3 form(0);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form.isHidden());
    EXPECT_EQ(form.size(), QSize(432, 302));
    EXPECT_EQ(form.windowTitle(), "Download");

    ExpectPlaced(Find(form, "Label1"), QRect(200, 8, 35, 24));
    EXPECT_EQ(TextOf(Find(form, "Label1")), "1 / 1");
    for (const char* heading : {"Label2", "Label3"}) {
        QWidget& label = Find(form, heading);
        EXPECT_EQ(label.x(), CentredPosition(432, label.sizeHint().width())) << heading;
    }
    ExpectPlaced(Find(form, "Label2"), QRect(Find(form, "Label2").x(), 32, 0, 24));
    EXPECT_EQ(TextOf(Find(form, "Label2")), "Dateien werden gedownloadet");
    ExpectPlaced(Find(form, "Label3"), QRect(Find(form, "Label3").x(), 104, 0, 24));
    EXPECT_EQ(TextOf(Find(form, "Label3")), "aktueller Download:");
    ExpectPlaced(Find(form, "Label4"), QRect(184, 136, 61, 24));
    EXPECT_EQ(TextOf(Find(form, "Label4")), "Datei X");
    EXPECT_EQ(Find(form, "Gauge1").geometry(), QRect(8, 64, 417, 33));
    EXPECT_EQ(Find(form, "Gauge2").geometry(), QRect(7, 168, 418, 33));
    EXPECT_EQ(Find<Gauge>(form, "Gauge2").Progress(), 0);
    EXPECT_EQ(Find(form, "Button1").geometry(), QRect(72, 216, 297, 33));
    EXPECT_EQ(TextOf(Find(form, "Button1")), "aktuellen Download abbrechen");
    EXPECT_EQ(Find(form, "Button2").geometry(), QRect(72, 256, 297, 33));
    EXPECT_EQ(TextOf(Find(form, "Button2")), "alle Downloads abbrechen");
    ExpectFontFitting(Find(form, "Button2"), 19);
    EXPECT_EQ(Find(form, "Button2").font().family(), "MS Sans Serif");

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(Find(form, "Panel1").size(), QSize(432, 302));
}

TEST(ProgressWindow, ItsButtonsCancelAndTheDownloadStepDrivesItsControls) {
    ProgramDirectory dir;
    TForm1 main(dir.Path(), 0x0407);
    TForm3 form(0);
    main.SetProgressWindow(form);
    FeedMonitor& monitor = main.Monitor();

    // Cancel current takes the file back from the count, wrapping at 16 bits.
    QTest::mouseClick(&Find(form, "Button1"), Qt::LeftButton);
    EXPECT_EQ(monitor.NewFileCount, 65535);
    EXPECT_FALSE(monitor.CancelAll);
    QTest::mouseClick(&Find(form, "Button2"), Qt::LeftButton);
    EXPECT_TRUE(monitor.CancelAll);
    EXPECT_EQ(monitor.NewFileCount, 65535);

    main.SetGaugeValue(Window::Progress, "Gauge2", 48);
    EXPECT_EQ(Find<Gauge>(form, "Gauge2").Progress(), 48);
    main.SetVisible(Window::Progress, "", true);
    EXPECT_TRUE(form.isVisible());
    main.SetVisible(Window::Progress, "", false);
    EXPECT_TRUE(form.isHidden());
}

}  // namespace
}  // namespace app::testing
