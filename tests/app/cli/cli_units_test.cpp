// The command line, the progress texts, the run lock and the list's location.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/cli/command_line.h"
#include "app/cli/terminal_view.h"
#include "app/list_location.h"
#include "app/run_lock.h"
#include "tests/support/server_process.h"

namespace app::cli::testing {
namespace {

TEST(CliCommandLine, CommandsArgumentsAndOptions) {
    struct Case {
        std::vector<std::string> args;
        Command command;
        std::optional<std::string> argument;
        std::optional<std::string> listFile;
        std::string proxy;
        bool quiet;
    };
    const Case cases[] = {
        {{}, Command::Scan, {}, {}, "", false},
        {{"--quiet", "scan", "--proxy", "p:3128"}, Command::Scan, {}, {}, "p:3128", true},
        {{"add", "http://a/feed", "--list-file=/l.pdl"},
         Command::Add,
         "http://a/feed",
         "/l.pdl",
         "",
         false},
        {{"--list-file", "x.pdl", "remove", "3"}, Command::Remove, "3", "x.pdl", "", false},
        {{"folder"}, Command::Folder, {}, {}, "", false},
        {{"-q", "folder", "--", "-dir"}, Command::Folder, "-dir", {}, "", true},
        {{"list", "--proxy="}, Command::List, {}, {}, "", false},
        {{"add", "x", "--help"}, Command::Help, {}, {}, "", false},
        {{"--version"}, Command::Version, {}, {}, "", false},
        {{"import", "subs.opml"}, Command::Import, "subs.opml", {}, "", false},
        {{"export"}, Command::Export, {}, {}, "", false},
        {{"--trace=t.log", "export", "-"}, Command::Export, "-", {}, "", false},
    };
    for (const Case& c : cases) {
        ParsedCommandLine parsed = ParseCommandLine(c.args);
        ASSERT_TRUE(parsed.line) << parsed.error;
        EXPECT_EQ(parsed.line->command, c.command);
        EXPECT_EQ(parsed.line->argument, c.argument);
        EXPECT_EQ(parsed.line->listFile, c.listFile);
        EXPECT_EQ(parsed.line->proxy, c.proxy);
        EXPECT_EQ(parsed.line->quiet, c.quiet);
    }
    EXPECT_EQ(ParseCommandLine({"--trace", "t.log", "scan"}).line->traceFile, "t.log");
    EXPECT_EQ(ParseCommandLine({"--jobs", "3"}).line->jobs, 3u);
    EXPECT_EQ(ParseCommandLine({"--jobs=1", "scan"}).line->jobs, 1u);
    EXPECT_EQ(ParseCommandLine({"--jobs", "4"}).error, "--jobs needs a number from 1 to 3");
    const std::vector<std::string> wrong[] = {
        {"add"},           {"add", ""},      {"remove"},  {"list", "x"}, {"a", "b"},
        {"--list-file"},   {"--list-file="}, {"--proxy"}, {"--force"},   {"scan", "--quiet=1"},
        {"add", "a", "b"}, {"import"},       {"--trace"}, {"--trace="},  {"export", "a", "b"},
        {"--jobs", "0"},   {"--jobs=4"},     {"--jobs"},  {"--jobs=x"},
    };
    for (const auto& args : wrong)
        EXPECT_FALSE(ParseCommandLine(args).line) << args[0];
}

TEST(CliProgress, LinesShowPercentBytesRateAndTimeLeft) {
    EXPECT_EQ(SizeText(1023), "1023 B");
    EXPECT_EQ(SizeText(1536), "1.5 KiB");
    EXPECT_EQ(SizeText(5 << 20), "5.0 MiB");
    EXPECT_EQ(SizeText(3LL << 30), "3.0 GiB");
    EXPECT_EQ(ProgressLine("e.mp3", 1 << 20, 4 << 20, 2.0, 1),
              "e.mp3   25%  1.0 MiB / 4.0 MiB  512.0 KiB/s  0:06 left");
    EXPECT_EQ(ProgressLine("e.mp3", 90 << 20, 100 << 20, 90.0, 0),
              "e.mp3   90%  90.0 MiB / 100.0 MiB  1.0 MiB/s  noch 0:10");
    // No length announced: neither a percentage nor a time left; nothing yet: no rate.
    EXPECT_EQ(ProgressLine("e.mp3", 2048, -1, 1.0, 1), "e.mp3  2.0 KiB  2.0 KiB/s");
    EXPECT_EQ(ProgressLine("e.mp3", 0, -1, 0.0, 1), "e.mp3  0 B  0 B/s");
    EXPECT_EQ(FinishedLine("e.mp3", 1 << 20, 0.25), "e.mp3  1.0 MiB  0.2 s");
}

TEST(RunLockTest, OneHolderAtATimeUntilItLetsGo) {
    test_support::TempFolder folder("pd_lock");
    const std::string list = folder / "sub/liste.pdl";  // the folder is made for the lock
    {
        RunLock first(list);
        EXPECT_TRUE(first.Acquired());
        RunLock second(list);
        EXPECT_FALSE(second.Acquired());
        EXPECT_TRUE(RunLock(folder / "other.pdl").Acquired());
    }
    EXPECT_TRUE(RunLock(list).Acquired());
}

class ListLocation : public ::testing::Test {
  protected:
    ListLocation() {
        setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
        setenv("HOME", (folder_ / "home").c_str(), 1);
    }
    ~ListLocation() override {
        unsetenv("XDG_DATA_HOME");
        unsetenv("HOME");
    }
    test_support::TempFolder folder_{"pd_location"};
};

TEST_F(ListLocation, BesideAWritableProgramOtherwiseInTheDataFolder) {
    const std::string program = folder_.Path() + "/";
    EXPECT_EQ(ListFileLocation(program), program + "liste.pdl");
    // A folder the user cannot write to (here: one that is not there) sends the list to the data
    // folder, named after the program.
    const std::string missing = folder_ / "missing/";
    EXPECT_EQ(ListFileLocation(missing), folder_ / "data/podcast-downloader/liste.pdl");
    setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
    EXPECT_EQ(ListFileLocation(missing),
              folder_ / "home/.local/share/podcast-downloader/liste.pdl");
    EXPECT_EQ(FolderOf("/a/b/liste.pdl"), "/a/b/");
}

}  // namespace
}  // namespace app::cli::testing
