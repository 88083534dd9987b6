// Draws the main window, with a few example feeds, the about window and the progress window as
// during a download offscreen into main-window.png, about-window.png and progress-window.png in the
// given directory (default: the current one).
#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "app/gui/program_windows.h"
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
    app::ProgramWindows windows(programDir.path().toStdString(), kEnglish);
    // The progress window as during a download, the current file part way.
    windows.Form1.Monitor().ShowDownloadOf("episode-042.mp3");
    windows.Form1.SetGaugeValue(app::Window::Progress, "Gauge2", 37);

    bool saved = Save(windows.Form1, target.filePath("main-window.png")) &&
                 Save(windows.Form2, target.filePath("about-window.png")) &&
                 Save(windows.Form3, target.filePath("progress-window.png"));
    return saved ? 0 : 1;
}
