#include "app/gui/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "app/centring.h"
#include "app/gui/controls.h"
#include "app/gui/progress_window.h"
#include "platform/headless_application.h"
#include "tests/support/modal_script.h"
#include "window_testing.h"

namespace app::testing {
namespace {

constexpr std::uint16_t kGerman = 0x0407;
constexpr std::uint16_t kEnglish = 0x0409;

struct Placed {
    const char* name;
    QRect bounds;
    const char* text;
};

// Button3 is left out: start-up centres it. Labels take the width of their text.
const Placed kMainControls[] = {
    {"Label1", {8, 8, 232, 24}, "Überwachte Podcast Feeds"},
    {"Button2", {760, 8, 241, 25}, "Ausgewählte URL löschen"},
    {"ListBox1", {8, 40, 993, 385}, ""},
    {"Label2", {8, 432, 309, 24}, "Neue Podcast Feed URL hinzufügen"},
    {"Edit1", {8, 464, 889, 32}, ""},
    {"Button1", {896, 464, 105, 33}, "Hinzufügen"},
    {"Label3", {8, 504, 332, 24}, "Downloadordner für die Podcastdateien"},
    {"Edit2", {8, 536, 889, 32}, nullptr},
    {"Button4", {896, 536, 105, 33}, "Auswählen"},
    {"CheckBox1", {8, 632, 425, 25}, "Internetverbindung läuft über einen Proxyserver"},
    {"Label4", {8, 672, 186, 24}, "URL des Proxyservers"},
    {"ProxyEdit", {208, 664, 793, 32}, ""},
};

class MainWindow : public ::testing::Test {
  protected:
    ProgramDirectory dir_;
    TForm1 form_{dir_.Path(), kGerman};

    QString ListFileContents() const {
        QFile file(QString::fromStdString(dir_.Path() + "liste.pdl"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                              : QString("<none>");
    }
};

TEST_F(MainWindow, HasTheControlsTextsAndFontsOfItsFormDescription) {
    EXPECT_EQ(form_.windowTitle(), "TOVEKA Vozuvor Ezirezodoz 1.00");
    for (const Placed& control : kMainControls) {
        QWidget& widget = Find(form_, control.name);
        ExpectPlaced(widget, control.bounds);
        if (control.text) {
            EXPECT_EQ(TextOf(widget), QString::fromUtf8(control.text)) << control.name;
        }
        bool listBox = std::string(control.name) == "ListBox1";
        EXPECT_EQ(widget.font().family(), "MS Sans Serif") << control.name;
        if (listBox) {
            EXPECT_EQ(widget.font().pixelSize(), 11);
        } else {
            ExpectFontFitting(widget, 19);
        }
    }
    QWidget& button3 = Find(form_, "Button3");
    EXPECT_EQ(button3.geometry(), QRect(CentredPosition(OuterWidth(form_), 537), 584, 537, 33));
    EXPECT_EQ(TextOf(Find(form_, "Edit2")), QString::fromStdString(dir_.Path() + "Download/"));
    EXPECT_TRUE(Find(form_, "Label4").isHidden());
    EXPECT_TRUE(Find(form_, "ProxyEdit").isHidden());
    EXPECT_FALSE(Find<QCheckBox>(form_, "CheckBox1").isChecked());

    EXPECT_EQ(Find<QMenu>(form_, "Sprache1").title(), "Sprache");
    EXPECT_EQ(Find<QAction>(form_, "Deutsch1").text(), "Deutsch");
    EXPECT_FALSE(Find<QAction>(form_, "Deutsch1").isEnabled());
    EXPECT_EQ(Find<QAction>(form_, "English1").text(), "English");
    EXPECT_TRUE(Find<QAction>(form_, "English1").isEnabled());
    EXPECT_EQ(Find<QAction>(form_, "About").text(), "Über TOVEKA Vededezevirivedo");

    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    EXPECT_EQ(Find(form_, "Panel1").size(), QSize(1016, 717));
}

TEST_F(MainWindow, TheLanguageMenuSwitchesBothWindows) {
    TForm3 progress(form_.Monitor().UiLanguage);
    form_.SetProgressWindow(progress);
    Find<QAction>(form_, "English1").trigger();
    EXPECT_EQ(form_.Monitor().UiLanguage, 1);
    EXPECT_EQ(TextOf(Find(form_, "Button1")), "Add to List");
    EXPECT_EQ(TextOf(Find(form_, "CheckBox1")), "Internet connection is via a proxy server");
    EXPECT_EQ(Find<QMenu>(form_, "Sprache1").title(), "Language");
    EXPECT_EQ(Find<QAction>(form_, "About").text(), "About TOVEKA Vededezevirivedo");
    EXPECT_FALSE(Find<QAction>(form_, "English1").isEnabled());
    EXPECT_TRUE(Find<QAction>(form_, "Deutsch1").isEnabled());
    EXPECT_EQ(TextOf(Find(progress, "Button2")), "Cancel all downloads");
    for (const char* heading : {"Label2", "Label3"}) {
        auto& label = Find<QLabel>(progress, heading);
        EXPECT_EQ(label.width(), label.sizeHint().width()) << heading;
        EXPECT_EQ(label.x(), CentredPosition(432, label.width())) << heading;
    }
    // Labels of the main window take the width of their text too.
    auto& label1 = Find<QLabel>(form_, "Label1");
    EXPECT_EQ(label1.width(), label1.sizeHint().width());

    Find<QAction>(form_, "Deutsch1").trigger();
    EXPECT_EQ(form_.Monitor().UiLanguage, 0);
    EXPECT_EQ(Find<QAction>(form_, "English1").text(), "Englisch");
    EXPECT_EQ(TextOf(Find(progress, "Label2")), "Dateien werden gedownloadet");
    EXPECT_EQ(TextOf(Find(form_, "Button3")),
              "Podcast Feeds durchsuchen und neue Dateien downloaden");
}

TEST_F(MainWindow, AddAndDeleteWorkThroughTheWidgets) {
    form_.show();
    auto& list = Find<QListWidget>(form_, "ListBox1");
    for (const char* url : {"http://a.example", "http://b.example", "http://c.example"}) {
        QTest::keyClicks(&Find(form_, "Edit1"), url);
        QTest::mouseClick(&Find(form_, "Button1"), Qt::LeftButton);
    }
    EXPECT_EQ(TextOf(Find(form_, "Edit1")), "");
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.item(2)->text(), "http://c.example");

    QTest::mouseClick(&Find(form_, "Button2"), Qt::LeftButton);  // nothing selected
    EXPECT_EQ(list.count(), 3);
    list.setCurrentRow(1);
    EXPECT_EQ(form_.SelectedFeedRow(), 1);
    QTest::mouseClick(&Find(form_, "Button2"), Qt::LeftButton);
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.item(1)->text(), "http://c.example");
    EXPECT_EQ(form_.Monitor().FeedEntries.at(1).FeedUrl, "http://c.example");
}

TEST_F(MainWindow, ADoubleClickOnDeleteRemovesOnlyTheChosenFeed) {
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    auto& list = Find<QListWidget>(form_, "ListBox1");
    for (const char* url : {"http://a.example", "http://b.example", "http://c.example"})
        form_.Monitor().AddEntry(url);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      list.visualItemRect(list.item(0)).center());
    ASSERT_EQ(form_.SelectedFeedRow(), 0);
    QTest::mouseDClick(&Find(form_, "Button2"), Qt::LeftButton);
    QTest::mouseClick(&Find(form_, "Button2"), Qt::LeftButton);
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(form_.Monitor().FeedCount(), 2);
    EXPECT_EQ(form_.SelectedFeedRow(), -1);
    EXPECT_EQ(list.currentRow(), -1);
}

TEST(MainWindowList, AnOlderListInCodePage1252IsShownLegiblyAndSavedAsItWas) {
    ProgramDirectory dir;
    const QByteArray bytes = "1\r\nhttp://a.example/f\xFCr\r\n/home/me/H\xF6rspiele/";
    QFile list(QString::fromStdString(dir.Path() + "liste.pdl"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(bytes);
    list.close();
    {
        TForm1 form(dir.Path(), kGerman);
        EXPECT_EQ(Find<QListWidget>(form, "ListBox1").item(0)->text(), "http://a.example/für");
        EXPECT_EQ(TextOf(Find(form, "Edit2")), "/home/me/Hörspiele/");
        form.close();
    }
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_EQ(list.readAll(), bytes);
}

TEST_F(MainWindow, TheProxyCaptionEndsBeforeTheProxyField) {
    TForm3 progress(form_.Monitor().UiLanguage);
    form_.SetProgressWindow(progress);
    auto& label = Find<QLabel>(form_, "Label4");
    for (const char* language : {"English1", "Deutsch1"}) {
        Find<QAction>(form_, language).trigger();
        EXPECT_LE(label.geometry().right(), 8 + 186 - 1) << language;
        EXPECT_EQ(label.width(), label.sizeHint().width()) << language;
        EXPECT_GE(label.font().pixelSize(), 12) << language;
    }
    EXPECT_EQ(label.text(), "URL des Proxyservers");
}

TEST_F(MainWindow, QtsOwnTextsFollowTheLanguageMenu) {
    TForm3 progress(form_.Monitor().UiLanguage);
    form_.SetProgressWindow(progress);
    auto yesButtonText = [] {
        QString yes;
        test_support::ModalScript script;
        script.Then<QMessageBox>([&](QMessageBox& box) {
            yes = box.button(QMessageBox::Yes)->text();
            QTest::mouseClick(box.button(QMessageBox::No), Qt::LeftButton);
        });
        platform::App().MessageBox("?", "caption", platform::MessageBoxButtons::YesNo);
        return yes;
    };
    EXPECT_EQ(yesButtonText(), "&Ja");
    Find<QAction>(form_, "English1").trigger();
    EXPECT_EQ(yesButtonText(), "&Yes");
    Find<QAction>(form_, "Deutsch1").trigger();
    EXPECT_EQ(yesButtonText(), "&Ja");
}

TEST_F(MainWindow, OnceShownItIsCentredOnItsOuterSize) {
    // Smaller than the offscreen screen, which would push a window over its edge back onto it.
    form_.resize(600, 500);
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    QRect outer = form_.frameGeometry();
    ASSERT_NE(outer.size(), form_.size()) << "the platform gives the window no frame";
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(outer.topLeft(), QPoint(CentredPosition(screen.width(), outer.width()),
                                      CentredPosition(screen.height(), outer.height())));
    EXPECT_EQ(Find(form_, "Button3").x(), CentredPosition(outer.width(), 537));
}

TEST_F(MainWindow, TheProxyBoxShowsTheProxyField) {
    form_.show();
    QTest::mouseClick(&Find(form_, "CheckBox1"), Qt::LeftButton);
    EXPECT_TRUE(Find(form_, "ProxyEdit").isVisible());
    EXPECT_TRUE(Find(form_, "Label4").isVisible());
    QTest::mouseClick(&Find(form_, "CheckBox1"), Qt::LeftButton);
    EXPECT_FALSE(Find(form_, "ProxyEdit").isVisible());
}

TEST_F(MainWindow, AnchoredControlsFollowTheWidth) {
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    QWidget& panel = Find(form_, "Panel1");
    QWidget& button3 = Find(form_, "Button3");
    double centreShare = (button3.x() + button3.width() / 2.0) / panel.width();
    form_.resize(form_.width() + 100, form_.height() + 40);
    QCoreApplication::processEvents();
    ASSERT_EQ(panel.width(), 1116);
    EXPECT_EQ(Find(form_, "Button2").geometry(), QRect(860, 8, 241, 25));
    EXPECT_EQ(Find(form_, "ListBox1").geometry(), QRect(8, 40, 1093, 385));
    EXPECT_EQ(Find(form_, "ProxyEdit").geometry(), QRect(208, 664, 893, 32));
    ExpectPlaced(Find(form_, "Label1"), QRect(8, 8, 232, 24));
    EXPECT_EQ(button3.y(), 584);
    EXPECT_NEAR((button3.x() + button3.width() / 2.0) / panel.width(), centreShare,
                1.0 / panel.width());
}

TEST_F(MainWindow, StartingInEnglishReachesTheProgressWindowCreatedAfterIt) {
    TForm1 english(dir_.Path(), kEnglish);
    TForm3 progress(english.Monitor().UiLanguage);
    EXPECT_EQ(TextOf(Find(english, "Button4")), "Select...");
    EXPECT_EQ(Find<QAction>(english, "English1").text(), "English");
    EXPECT_FALSE(Find<QAction>(english, "English1").isEnabled());
    EXPECT_EQ(TextOf(Find(progress, "Label2")), "files to download");
    EXPECT_EQ(TextOf(Find(progress, "Label3")), "Current Download:");
    EXPECT_EQ(TextOf(Find(progress, "Button1")), "Cancel current download");
    auto& heading = Find<QLabel>(progress, "Label2");
    EXPECT_EQ(heading.x(), CentredPosition(432, heading.sizeHint().width()));
}

TEST_F(MainWindow, ClosingSavesTheListUnlessARunIsUnderWay) {
    form_.show();
    form_.Monitor().AddEntry("http://a.example");
    {
        platform::HeadlessApplication headless;
        ApplicationScope scope(headless);
        form_.Monitor().ScanBusy = true;
        EXPECT_FALSE(form_.close());
        EXPECT_TRUE(form_.isVisible());
        EXPECT_TRUE(headless.Terminated());
        EXPECT_EQ(ListFileContents(), "<none>");
    }
    form_.Monitor().ScanBusy = false;
    EXPECT_TRUE(form_.close());
    EXPECT_EQ(ListFileContents(),
              QString::fromStdString("1\r\nhttp://a.example\r\n" + dir_.Path() + "Download/"));
}

}  // namespace
}  // namespace app::testing
