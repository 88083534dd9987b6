// One full scan run of the real program, offscreen: the windows are built as the program builds
// them over the liste.pdl in the given program directory, the scan button is pressed, and every
// message box the run raises is printed and closed. The run ends the program, which saves the list
// as on closing, so the same directory serves a second run.
//
//     full_run_bench PROGRAM-DIR
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/gui/program_windows.h"
#include "platform/qt/qt_application.h"
#include "platform/system.h"

namespace {

constexpr int kBoxPollMs = 50;

// Boxes are modal and run their own loop inside the run, so they are looked for from a timer.
void CloseModalBoxes() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    std::printf("message box \"%s\": %s\n", box->windowTitle().toUtf8().constData(),
                box->text().toUtf8().constData());
    std::fflush(stdout);
    box->accept();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PROGRAM-DIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::QtApplication application(argc, argv);
    application.SetTitle("TOVEKA Vozuvor Ezirezodoz");

    app::ProgramWindows windows(argv[1], platform::GetSystemDefaultLangID());
    app::TForm1& form1 = windows.Form1;
    form1.show();
    std::printf("feeds in the list: %u\n", static_cast<unsigned>(form1.Monitor().FeedCount()));

    QTimer boxWatch;
    QObject::connect(&boxWatch, &QTimer::timeout, &CloseModalBoxes);
    boxWatch.start(kBoxPollMs);
    // The click returns once the run has ended, with its summary or with an error report that
    // the exception escaping it raised; the program ends either way.
    QTimer::singleShot(0, &form1, [&] {
        struct QuitAfterwards {
            platform::QtApplication& application;
            ~QuitAfterwards() { application.quit(); }
        } quit{application};
        form1.findChild<QPushButton*>("Button3")->click();
    });

    int exitCode = application.exec();
    form1.Monitor().FormClose();
    return exitCode;
}
