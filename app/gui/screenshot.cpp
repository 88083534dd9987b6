// Draws the main window, with a few example feeds, the about window and the progress window as
// during a download offscreen into main-window.png, about-window.png and progress-window.png in the
// given directory (default: the current one).
#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "app/centring.h"
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

// The progress window's texts as the download step sets them, centred by the same rule, and the
// current file's gauge part way.
void ShowDownloadUnderWay(app::TForm1& form1) {
    constexpr auto kProgress = app::Window::Progress;
    for (auto [control, text] : {std::pair{"Label1", "1 / 1"}, {"Label4", "episode-042.mp3"}}) {
        form1.SetCaption(kProgress, control, text);
        form1.SetLeft(
            kProgress, control,
            app::CentredPosition(form1.Width(kProgress, ""), form1.Width(kProgress, control)));
    }
    form1.SetGaugeValue(kProgress, "Gauge2", 37);
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

    ShowDownloadUnderWay(form1);

    bool saved = Save(form1, target.filePath("main-window.png")) &&
                 Save(form2, target.filePath("about-window.png")) &&
                 Save(form3, target.filePath("progress-window.png"));
    return saved ? 0 : 1;
}
