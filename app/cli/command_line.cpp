#include "app/cli/command_line.h"

#include <array>
#include <charconv>
#include <string_view>
#include <utility>

namespace app::cli {
namespace {

struct CommandName {
    std::string_view name;
    Command command;
    bool takesArgument;
    bool needsArgument;
};

constexpr std::array<CommandName, 8> kCommands{{
    {"scan", Command::Scan, false, false},
    {"list", Command::List, false, false},
    {"add", Command::Add, true, true},
    {"remove", Command::Remove, true, true},
    {"folder", Command::Folder, true, false},
    {"history", Command::History, true, true},
    {"import", Command::Import, true, true},
    {"export", Command::Export, true, false},
}};

// The most episodes per feed and run that --episodes takes.
constexpr std::size_t kMaxEpisodesPerFeed = 1000;
// The most downloads at once that --jobs takes: more would only crowd one link.
constexpr std::size_t kMaxJobs = 3;

const CommandName* FindCommand(std::string_view name) {
    for (const CommandName& entry : kCommands)
        if (entry.name == name) return &entry;
    return nullptr;
}

// "--name VALUE" or "--name=VALUE"; advances i past what it took.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       std::string_view name, std::string& error) {
    const std::string& arg = args[i];
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
        arg[name.size()] == '=')
        return arg.substr(name.size() + 1);
    if (i + 1 >= args.size()) {
        error = std::string(name) + " needs a value";
        return std::nullopt;
    }
    return args[++i];
}

// The value as a whole number from 1 to most.
std::optional<std::size_t> CountIn(const std::string& value, std::size_t most) {
    std::size_t count = 0;
    auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), count);
    if (failure != std::errc{} || end != value.data() + value.size() || count == 0 || count > most)
        return std::nullopt;
    return count;
}

bool IsOption(const std::string& arg, std::string_view name) {
    return arg == name || (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
                           arg[name.size()] == '=');
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    std::vector<std::string> words;
    std::string error;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            words.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            line.command = Command::Help;
            return {line, {}};
        } else if (arg == "--version") {
            line.command = Command::Version;
            return {line, {}};
        } else if (arg == "--quiet" || arg == "-q") {
            line.quiet = true;
        } else if (IsOption(arg, "--list-file")) {
            auto value = OptionValue(args, i, "--list-file", error);
            if (!value) return {std::nullopt, error};
            if (value->empty()) return {std::nullopt, "--list-file needs a file name"};
            line.listFile = std::move(value);
        } else if (IsOption(arg, "--trace")) {
            auto value = OptionValue(args, i, "--trace", error);
            if (!value) return {std::nullopt, error};
            if (value->empty()) return {std::nullopt, "--trace needs a file name"};
            line.traceFile = std::move(value);
        } else if (IsOption(arg, "--episodes")) {
            auto value = OptionValue(args, i, "--episodes", error);
            if (!value) return {std::nullopt, error};
            line.episodesPerFeed = CountIn(*value, kMaxEpisodesPerFeed);
            if (!line.episodesPerFeed)
                return {std::nullopt, "--episodes needs a number from 1 to 1000"};
        } else if (IsOption(arg, "--jobs")) {
            auto value = OptionValue(args, i, "--jobs", error);
            if (!value) return {std::nullopt, error};
            line.jobs = CountIn(*value, kMaxJobs);
            if (!line.jobs) return {std::nullopt, "--jobs needs a number from 1 to 3"};
        } else if (IsOption(arg, "--proxy")) {
            auto value = OptionValue(args, i, "--proxy", error);
            if (!value) return {std::nullopt, error};
            line.proxy = std::move(*value);
        } else {
            return {std::nullopt, "unknown option " + arg};
        }
    }
    if (words.empty()) return {line, {}};

    const CommandName* command = FindCommand(words[0]);
    if (!command) return {std::nullopt, "unknown command " + words[0]};
    line.command = command->command;
    const std::size_t maxWords = command->takesArgument ? 2 : 1;
    if (words.size() > maxWords) return {std::nullopt, "too many arguments for " + words[0]};
    if (words.size() == 2) line.argument = words[1];
    if (command->needsArgument && (!line.argument || line.argument->empty()))
        return {std::nullopt, words[0] + " needs an argument"};
    return {line, {}};
}

std::string HelpText() {
    return R"(Usage: podcast-downloader-cli [OPTION]... [COMMAND]

Downloads the new episodes of every podcast feed in the list, the same list and
the same run as the window program's scan button, without a display.

Commands:
  scan             fetch every feed and download each new episode (the default)
  list             print the feeds, numbered from 1, each with its newest episode
                   and how many new episodes wait, as the last scan found them
  add URL          add a feed at the end of the list
  remove N|URL     remove feed number N, or the first feed with this URL
  folder [DIR]     print the download folder, or set it to DIR
  history N|URL    print what the episode history holds for feed N or URL
  import FILE      add the feeds of the OPML file FILE that the list lacks, in
                   the file's order
  export [FILE]    write the list as OPML to FILE, or to standard output

Options:
  --list-file PATH  use the list in PATH instead of the program's liste.pdl
  --episodes N      download at most N new episodes per feed and run (default 10);
                    the rest wait for the next run
  --jobs N          download up to N episodes at once, 1 to 3 (default 1), each
                    with its own progress line
  --proxy TEXT      download the episodes through this proxy, as the proxy field
                    takes it, in one of these forms:
                      [http://][user:password@]host[:port]  HTTP proxy (port 80)
                      socks5://[user:password@]host[:port]  SOCKS 5 (port 1080)
                      socks4a://host[:port]                 SOCKS 4A (port 1080)
                      socks4://host[:port]                  SOCKS 4 (port 1080)
  --trace FILE      append the downloads' technical trace (connections, TLS,
                    the error numbers behind each failure) to FILE
  -q, --quiet       print nothing but warnings and errors
  -h, --help        print this help and exit
  --version         print the version and exit

The list is liste.pdl beside the program when that file exists or the program's
folder is writable, otherwise in $XDG_DATA_HOME/podcast-downloader/ (by default
~/.local/share/podcast-downloader/). A feed without downloadable files is kept
with a warning; a download folder that does not exist is created.

Every episode a scan downloads or passes over is remembered in the episode
history beside the list (liste.pdl.history), so it is never downloaded again,
even after its file was deleted. The first scan of a feed downloads its newest
episode only. Remove the history file to start afresh.

On a terminal each running download shows a progress line; otherwise one line is
printed per finished episode. Failed downloads are named with their reason on
standard error. Ctrl-C or SIGTERM stops the downloads, keeps each partial file
that the server lets the next run continue, and saves the list.

Exit status:
  0    every download succeeded, or nothing was new
  1    a download, the saving of the list, an import or an export failed
  2    usage error, unreadable list file, or another run of the list in progress
  130  interrupted by Ctrl-C (143 for SIGTERM)
)";
}

}  // namespace app::cli
