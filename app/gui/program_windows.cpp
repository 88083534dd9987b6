#include "app/gui/program_windows.h"

#include "app/documentation_page.h"

namespace app {

ProgramWindows::ProgramWindows(const std::string& programDir, std::uint16_t systemLanguageId)
    : Form1(programDir, systemLanguageId),
      Form2(DocumentationPageUrl(programDir)),
      Form3(Form1.Monitor().UiLanguage) {
    Form1.SetAboutWindow(Form2);
    Form1.SetProgressWindow(Form3);
}

}  // namespace app
