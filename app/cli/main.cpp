// The command-line program: the window program's list and run, for cron and terminals.
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "app/cli/cli_session.h"
#include "app/cli/command_line.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    // A closed standard output (a pager that quit) ends the lines, not the run.
    std::signal(SIGPIPE, SIG_IGN);
    auto parsed = app::cli::ParseCommandLine({argv + 1, argv + argc});
    if (!parsed.line) {
        std::fprintf(stderr, "podcast-downloader-cli: %s\nTry 'podcast-downloader-cli --help'.\n",
                     parsed.error.c_str());
        return app::cli::kUsageError;
    }
    if (parsed.line->command == app::cli::Command::Help) {
        std::fputs(app::cli::HelpText().c_str(), stdout);
        return app::cli::kSucceeded;
    }
    if (parsed.line->command == app::cli::Command::Version) {
        std::puts("podcast-downloader-cli 1.00");
        return app::cli::kSucceeded;
    }
    app::cli::CliSession session(*parsed.line, platform::ExecutableDirectory(),
                                 isatty(STDOUT_FILENO) == 1);
    return session.Run();
}
