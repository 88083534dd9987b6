// The run's message boxes as Qt shows them, answered from the keyboard.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/gui/main_window.h"
#include "window_testing.h"

namespace app::testing {
namespace {

TEST(ScanQuestion, EnterOnTheDeleteQuestionKeepsTheFeed) {
    ProgramDirectory dir;
    TForm1 form(dir.Path(), 0x0407);
    FeedMonitor& monitor = form.Monitor();
    monitor.AddEntry("http://feed.invalid/failed-once");
    monitor.FetchFeed = [](const std::string&) { return std::string("Status:500"); };
    form.show();

    // Each box is answered with Enter once it is up: the question, then the summary.
    QStringList answered;
    QTimer keyboard;
    QObject::connect(&keyboard, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        answered << box->windowTitle();
        QTest::keyClick(box, Qt::Key_Return);
    });
    keyboard.start(20);
    QTimer::singleShot(10000, [] {  // bound
        if (auto* box = QApplication::activeModalWidget()) box->close();
    });

    Find<QPushButton>(form, "Button3").click();
    EXPECT_EQ(answered, (QStringList{"Es ist ein Fehler beim downloaden aufgetreten!",
                                     "Keine neuen Dateien!"}));
    EXPECT_EQ(monitor.FeedCount(), 1);
}

}  // namespace
}  // namespace app::testing
