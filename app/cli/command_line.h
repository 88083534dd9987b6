// The command line of podcast-downloader-cli: one command with its argument, and options anywhere.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app::cli {

enum class Command { Scan, List, Add, Remove, Folder, History, Import, Export, Help, Version };

struct CommandLine {
    Command command = Command::Scan;
    // add URL, remove N|URL, folder [DIR], history N|URL, import FILE, export [FILE]
    std::optional<std::string> argument;
    std::optional<std::string> listFile;
    std::optional<std::string> traceFile;  // --trace FILE
    std::string proxy;
    bool quiet = false;
    std::optional<std::size_t> episodesPerFeed;  // --episodes N
    std::optional<std::size_t> jobs;             // --jobs N: downloads at once
};

// The parsed line, or the reason it is not one.
struct ParsedCommandLine {
    std::optional<CommandLine> line;
    std::string error;
};

// args without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string HelpText();

}  // namespace app::cli
