// The program's three windows, created in their order: the main window (which runs its start-up
// steps), the about window and the progress window, then introduced to each other.
#pragma once

#include <cstdint>
#include <string>

#include "app/gui/about_window.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_window.h"

namespace app {

struct ProgramWindows {
    ProgramWindows(const std::string& programDir, std::uint16_t systemLanguageId);

    TForm1 Form1;
    TForm2 Form2;
    TForm3 Form3;
};

}  // namespace app
