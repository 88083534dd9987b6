// The program: the application object, then the main, about and progress windows in that order.
#include "app/gui/program_windows.h"
#include "platform/qt/qt_application.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    platform::QtApplication application(argc, argv);
    application.SetTitle("TOVEKA Vozuvor Ezirezodoz");

    app::ProgramWindows windows(platform::ExecutableDirectory(),
                                platform::GetSystemDefaultLangID());
    windows.Form1.show();

    int exitCode = application.exec();
    // A close refused during a run ended the loop through the terminate flag; the run has
    // unwound by now, so the list is saved here.
    windows.Form1.Monitor().FormClose();
    return exitCode;
}
