// The program: the application object, then the main, about and progress windows in that order.
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/gui/program_windows.h"
#include "app/trace_log.h"
#include "http/http_cli.h"
#include "platform/exception.h"
#include "platform/qt/qt_application.h"
#include "platform/system.h"

namespace {

// "--trace FILE" or "--trace=FILE" among the arguments; nullptr without one.
const char* TraceFileIn(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace") == 0 && i + 1 < argc) return argv[i + 1];
        if (std::strncmp(argv[i], "--trace=", 8) == 0 && argv[i][8] != '\0') return argv[i] + 8;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    platform::QtApplication application(argc, argv);
    application.SetTitle("TOVEKA Vozuvor Ezirezodoz");

    // Made before the windows, so it outlasts the download client that writes to it.
    std::unique_ptr<TQtxLogger> trace;
    if (const char* path = TraceFileIn(argc, argv)) {
        try {
            trace = app::OpenTraceLog(path);
        } catch (const platform::Exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 2;
        }
    }
    app::ProgramWindows windows(platform::ExecutableDirectory(),
                                platform::GetSystemDefaultLangID());
    if (trace) windows.Form1.Monitor().HttpCli1()->SetQtxLogger(trace.get());
    windows.Form1.show();

    int exitCode = application.exec();
    // A close refused during a run ended the loop through the terminate flag; the run has
    // unwound by now, so the list is saved here.
    windows.Form1.Monitor().FormClose();
    return exitCode;
}
