// The program: the application object, then the main, about and progress windows in that order.
#include "app/documentation_page.h"
#include "app/gui/about_window.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_window.h"
#include "platform/qt/qt_application.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    platform::QtApplication application(argc, argv);
    application.SetTitle("TOVEKA Vozuvor Ezirezodoz");

    std::string programDir = platform::ExecutableDirectory();
    app::TForm1 Form1(programDir, platform::GetSystemDefaultLangID());
    app::TForm2 Form2(app::DocumentationPageUrl(programDir));
    app::TForm3 Form3(Form1.Monitor().UiLanguage);
    Form1.SetAboutWindow(Form2);
    Form1.SetProgressWindow(Form3);
    Form1.show();

    int exitCode = application.exec();
    // A close refused during a run ended the loop through the terminate flag; the run has
    // unwound by now, so the list is saved here.
    Form1.Monitor().FormClose();
    return exitCode;
}
