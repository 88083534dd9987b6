// Draws the main window, with a few example feeds, and the about window offscreen into
// main-window.png and about-window.png in the given directory (default: the current one).
#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "app/gui/about_window.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_window.h"
#include "platform/qt/qt_application.h"

namespace {

constexpr std::uint16_t kEnglish = 0x0409;

void WriteExampleList(const QString& programDir) {
    std::ofstream list(QDir(programDir).filePath("liste.pdl").toStdString(), std::ios::binary);
    list << "3\r\n"
            "https://podcasts.example.org/science-hour/feed.xml\r\n"
            "https://radio.example.com/late-night-talk/rss\r\n"
            "http://example.net/history-in-ten-minutes.rss\r\n"
            "/home/listener/Podcasts/";
}

bool Save(QWidget& window, const QString& path) {
    window.show();
    QCoreApplication::processEvents();
    return window.grab().save(path);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::QtApplication application(argc, argv);
    application.SetTitle("TOVEKA Vozuvor Ezirezodoz");
    QDir target(argc > 1 ? argv[1] : ".");

    QTemporaryDir programDir;
    WriteExampleList(programDir.path());
    app::TForm1 form1(programDir.path().toStdString(), kEnglish);
    app::TForm2 form2("file:///");
    app::TForm3 form3(form1.Monitor().UiLanguage);
    form1.SetAboutWindow(form2);
    form1.SetProgressWindow(form3);

    bool saved = Save(form1, target.filePath("main-window.png")) &&
                 Save(form2, target.filePath("about-window.png"));
    return saved ? 0 : 1;
}
