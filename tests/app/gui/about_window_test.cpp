#include "app/gui/about_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include "app/centring.h"
#include "app/gui/about_picture.h"
#include "platform/headless_application.h"
#include "window_testing.h"

namespace app::testing {
namespace {

TEST(AboutWindow, IsAFixedDialogWithPictureAndNameCentred) {
    TForm2 form("file:///doc/README.md");
    EXPECT_TRUE(form.isHidden());
    EXPECT_EQ(form.windowTitle(), "TOVEKA Vededezevirivedo");
    EXPECT_EQ(form.minimumSize(), QSize(365, 260));
    EXPECT_EQ(form.maximumSize(), QSize(365, 260));

    auto& image = Find<QLabel>(form, "Image1");
    EXPECT_EQ(image.geometry(), QRect(CentredPosition(365, 265), -1, 265, 170));
    EXPECT_EQ(image.pixmap().size(), QSize(264, 170));
    auto& name = Find<QLabel>(form, "Label2");
    EXPECT_EQ(name.text(), "Vozuvor Ezirezodoz");
    EXPECT_EQ(name.font().family(), "Times New Roman");
    // 37 pixels, or less where a wider stand-in font would not show the name whole.
    EXPECT_LE(name.font().pixelSize(), 37);
    EXPECT_LE(name.width(), 302);
    EXPECT_EQ(name.width(), name.sizeHint().width());
    EXPECT_EQ(name.geometry(), QRect(CentredPosition(365, name.width()), 172, name.width(), 42));

    QWidget& panel = Find(form, "Panel1");
    EXPECT_EQ(panel.palette().color(QPalette::Window),
              panel.palette().color(QPalette::HighlightedText));

    QImage picture = MakeAboutPicture();
    EXPECT_EQ(picture.size(), QSize(264, 170));
    EXPECT_EQ(picture.depth(), 24);
}

TEST(AboutWindow, OnceShownItIsCentredOnItsOuterSize) {
    TForm2 form("file:///doc/README.md");
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QRect outer = form.frameGeometry();
    ASSERT_NE(outer.size(), form.size()) << "the platform gives the window no frame";
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(outer.topLeft(), QPoint(CentredPosition(screen.width(), outer.width()),
                                      CentredPosition(screen.height(), outer.height())));
    EXPECT_EQ(Find(form, "Image1").x(), CentredPosition(outer.width(), 265));
    auto& name = Find(form, "Label2");
    EXPECT_EQ(name.x(), CentredPosition(outer.width(), name.width()));
}

TEST(AboutWindow, PictureAndNameOpenTheDocumentationPage) {
    TForm2 form("file:///doc/README.md");
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    platform::HeadlessApplication headless;
    ApplicationScope scope(headless);
    QTest::mouseClick(&Find(form, "Image1"), Qt::LeftButton);
    QTest::mouseClick(&Find(form, "Label2"), Qt::LeftButton);
    QTest::mouseClick(&Find(form, "Label2"), Qt::RightButton);
    EXPECT_EQ(headless.OpenedUrls(),
              (std::vector<std::string>{"file:///doc/README.md", "file:///doc/README.md"}));
}

}  // namespace
}  // namespace app::testing
