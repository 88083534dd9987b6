// The command-line program end to end: the built program against nginx on 127.0.0.1, with its
// output through pipes (no terminal) and the list given with --list-file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/run_lock.h"
#include "program_run.h"
#include "tests/support/server_process.h"

namespace app::cli::testing {
namespace {

using test_support::LocalNginx;
using test_support::TempFolder;
using test_support::WriteTextFile;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

class CliProgram : public ::testing::Test {
  protected:
    CliProgram() {
        std::filesystem::create_directories(folder_ / "www/feeds");
        std::filesystem::create_directories(folder_ / "www/slow");
        std::filesystem::create_directories(folder_ / "home");
        nginx_ =
            std::make_unique<LocalNginx>(folder_ / "www",
                                         // Slow after the first 300 KiB of a whole file, fast
                                         // for the rest of one.
                                         "location /slow/ { set $rate 8k;"
                                         " if ($http_range) { set $rate 0; } limit_rate $rate;"
                                         " limit_rate_after 300k; }");
    }

    std::string ListPath() const { return folder_ / "liste.pdl"; }
    std::string Downloads() const { return folder_ / "downloads/"; }

    // An episode of size bytes at path under the server's root; returns its URL.
    std::string AddEpisode(const std::string& path, std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 251);
        WriteTextFile(folder_ / ("www/" + path), bytes);
        return nginx_->Url("/" + path);
    }
    // A feed announcing enclosureUrl, or nothing when it is empty; returns its URL.
    std::string AddFeed(const std::string& name, const std::string& enclosureUrl) {
        std::string item = enclosureUrl.empty() ? "<item><title>no file</title></item>"
                                                : "<item><enclosure url=\"" + enclosureUrl +
                                                      "\" type=\"audio/mpeg\"/></item>";
        WriteTextFile(folder_ / ("www/feeds/" + name),
                      "<rss version=\"2.0\"><channel>" + item + "</channel></rss>");
        return nginx_->Url("/feeds/" + name);
    }
    std::string ListWith(const std::vector<std::string>& feeds) const {
        std::string text = std::to_string(feeds.size()) + "\r\n";
        for (const std::string& feed : feeds)
            text += feed + "\r\n";
        return text + Downloads();
    }
    void WriteList(const std::vector<std::string>& feeds) const {
        WriteTextFile(ListPath(), ListWith(feeds));
    }
    std::string ServerCopy(const std::string& path) const {
        return ReadFile(folder_ / ("www/" + path));
    }

    std::vector<std::string> Argv(std::vector<std::string> args) const {
        args.insert(args.begin(), {CLI_PROGRAM, "--list-file", ListPath()});
        return args;
    }
    std::vector<std::string> Environment(const std::string& locale) const {
        return {"PATH=/usr/bin:/bin", "HOME=" + (folder_ / "home"), "LANG=" + locale};
    }
    std::unique_ptr<ProgramRun> Start(std::vector<std::string> args,
                                      const std::string& locale = "C") const {
        return std::make_unique<ProgramRun>(Argv(std::move(args)), Environment(locale));
    }
    ProgramResult Run(std::vector<std::string> args, const std::string& locale = "C") const {
        return Start(std::move(args), locale)->Wait();
    }

    TempFolder folder_{"pd_cli"};
    std::unique_ptr<LocalNginx> nginx_;
};

TEST_F(CliProgram, ScanDownloadsTheNewEpisodesThenFindsNothingNew) {
    const std::string feedB = AddFeed("b.xml", AddEpisode("b.mp3", 1234));
    WriteList({AddFeed("a.xml", AddEpisode("a.mp3", 300000)), feedB});
    const std::string list = ReadFile(ListPath());

    ProgramResult first = Run({});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(ReadFile(Downloads() + "a.mp3"), ServerCopy("a.mp3"));
    EXPECT_EQ(ReadFile(Downloads() + "b.mp3"), ServerCopy("b.mp3"));
    // Without a terminal: one line per finished episode, then the summary, and nothing redrawn.
    EXPECT_NE(first.out.find("a.mp3  293.0 KiB"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("b.mp3  1.2 KiB"), std::string::npos) << first.out;
    EXPECT_TRUE(first.out.ends_with("\nNew files were found and downloaded.\n")) << first.out;
    EXPECT_EQ(first.out.find('\r'), std::string::npos);
    EXPECT_EQ(first.err, "");

    ProgramResult second = Run({});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, "There are no new files.\n");
    // What the scans found is kept beside the list, and neither scan rewrote the list.
    EXPECT_EQ(ReadFile(ListPath()), list);
    EXPECT_NE(Run({"list"}).out.find("2  " + feedB + "\n   newest episode: b.mp3\n"),
              std::string::npos);
    const ProgramResult history = Run({"history", "1"});
    EXPECT_NE(history.out.find("/a.mp3: downloaded as a.mp3\n"), std::string::npos) << history.out;

    EXPECT_EQ(Run({"--quiet"}).out, "");
}

TEST_F(CliProgram, AFailedDownloadIsNamedWithItsReasonAndEndsWithStatusOne) {
    const std::string empty = AddFeed("empty.xml", "");
    WriteList({AddFeed("gone.xml", nginx_->Url("/missing.mp3")), empty,
               AddFeed("ok.xml", AddEpisode("ok.mp3", 100))});
    const std::string list = ReadFile(ListPath());

    const std::string trace = folder_ / "trace.log";
    ProgramResult result = Run({"--trace", trace});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Download failed: missing.mp3: 404 Not Found"), std::string::npos)
        << result.err;
    // The trace holds what the line leaves out; a trace that cannot be written stops the program.
    EXPECT_NE(ReadFile(trace).find("/missing.mp3 failed: host 127.0.0.1, status 404 \"Not Found\""),
              std::string::npos)
        << ReadFile(trace);
    EXPECT_EQ(Run({"--trace", folder_ / "no-such-folder/trace.log"}).status, 2);
    // A feed without enclosures is kept, with a warning that names it.
    EXPECT_NE(
        result.err.find("No downloadable files were found at " + empty + "; the entry is kept."),
        std::string::npos)
        << result.err;
    EXPECT_FALSE(Exists(Downloads() + "missing.mp3"));
    EXPECT_FALSE(Exists(Downloads() + "missing.mp3.part"));
    EXPECT_TRUE(Exists(Downloads() + "ok.mp3"));
    EXPECT_EQ(ReadFile(ListPath()), list);
}

TEST_F(CliProgram, AnUnreadableListEndsWithStatusTwoAndIsKept) {
    WriteTextFile(ListPath(), "many\r\nhttp://example.org/feed\r\n/tmp/");
    for (auto command : {std::vector<std::string>{}, {"add", "http://example.org/other"}}) {
        ProgramResult result = Run(command);
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find("'many' is not a valid integer value."), std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find("The list " + ListPath() + " cannot be read"), std::string::npos);
        EXPECT_EQ(ReadFile(ListPath()), "many\r\nhttp://example.org/feed\r\n/tmp/");
    }
}

TEST_F(CliProgram, EditingCommandsWriteTheListAsTheWindowDoes) {
    EXPECT_EQ(Run({"folder", folder_ / "x"}).status, 2);  // an empty list is not kept
    EXPECT_FALSE(Exists(ListPath()));
    EXPECT_EQ(Run({"add", "http://one.example/feed"}).status, 0);
    EXPECT_EQ(Run({"add", "  two  "}).status, 0);  // as typed, blanks and all
    EXPECT_EQ(Run({"add", "http://three.example/feed"}).status, 0);
    EXPECT_EQ(ReadFile(ListPath()),
              "3\r\nhttp://one.example/feed\r\n  two  \r\n"
              "http://three.example/feed\r\n" +
                  (folder_ / "Download/"));

    EXPECT_EQ(Run({"folder", folder_ / "podcasts/../pods"}).status, 0);
    EXPECT_EQ(Run({"folder"}).out, (folder_ / "pods/") + "\n");
    EXPECT_EQ(Run({"remove", "2"}).status, 0);
    EXPECT_EQ(Run({"remove", "http://one.example/feed"}).status, 0);
    EXPECT_EQ(Run({"remove", "5"}).status, 2);
    EXPECT_EQ(Run({"remove", "http://nowhere.example/"}).status, 2);
    EXPECT_EQ(ReadFile(ListPath()), "1\r\nhttp://three.example/feed\r\n" + (folder_ / "pods/"));
    EXPECT_EQ(Run({"list"}).out, "1  http://three.example/feed\n   not scanned yet\n");

    // Removing the last feed removes the file, as closing the window with no feeds does.
    EXPECT_EQ(Run({"remove", "1"}).status, 0);
    EXPECT_FALSE(Exists(ListPath()));

    for (auto usage : {std::vector<std::string>{"add"}, {"scan", "extra"}, {"--bogus"}, {"fetch"}})
        EXPECT_EQ(Run(usage).status, 2);
}

TEST_F(CliProgram, AnInterruptStopsTheDownloadKeepsThePartForTheNextRunAndSavesTheList) {
    WriteList({AddFeed("slow.xml", AddEpisode("slow/big.mp3", 1 << 20)),
               AddFeed("later.xml", AddEpisode("later.mp3", 100))});
    const std::string list = ReadFile(ListPath());
    auto run = Start({});
    const std::string part = Downloads() + "big.mp3.part";
    // The program writes in blocks of up to 256 KiB: the first one shows the download under way.
    const auto underWay = [&] {
        std::error_code error;
        return std::filesystem::file_size(part, error) >= 128 * 1024 && !error;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!underWay() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(underWay()) << "the download never got under way";
    run->Signal(SIGINT);
    ProgramResult result = run->Wait();
    EXPECT_EQ(result.status, 130) << result.err;
    EXPECT_NE(result.out.find("The download of the files has been canceled."), std::string::npos);
    const std::string kept = ReadFile(part);
    EXPECT_GE(kept.size(), 128u * 1024);
    EXPECT_TRUE(kept == ServerCopy("slow/big.mp3").substr(0, kept.size()));
    EXPECT_FALSE(Exists(Downloads() + "big.mp3"));
    EXPECT_FALSE(Exists(Downloads() + "later.mp3"));  // the run stopped
    EXPECT_EQ(ReadFile(ListPath()), list);

    // The next run asks for the rest only, and the episode lands whole.
    result = Run({});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(ReadFile(Downloads() + "big.mp3") == ServerCopy("slow/big.mp3"));
    EXPECT_FALSE(Exists(part));
    EXPECT_TRUE(Exists(Downloads() + "later.mp3"));
}

TEST_F(CliProgram, ARunIsRefusedWhileAnotherHoldsTheList) {
    WriteList({AddFeed("a.xml", AddEpisode("a.mp3", 100))});
    RunLock otherRun(ListPath());
    ASSERT_TRUE(otherRun.Acquired());
    for (auto command : {std::vector<std::string>{}, {"add", "http://x.example/"}}) {
        ProgramResult result = Run(command);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "Another run with this list is in progress.\n");
    }
    EXPECT_FALSE(Exists(Downloads() + "a.mp3"));
    EXPECT_EQ(ReadFile(ListPath()), ListWith({nginx_->Url("/feeds/a.xml")}));
}

TEST_F(CliProgram, AGermanLocaleSpeaksGerman) {
    WriteList({AddFeed("a.xml", AddEpisode("a.mp3", 100)), AddFeed("e.xml", "")});
    ProgramResult first = Run({}, "de_DE.UTF-8");
    EXPECT_NE(first.out.find("Neue Dateien wurden gefunden und heruntergeladen."),
              std::string::npos);
    EXPECT_NE(first.err.find("Unter " + nginx_->Url("/feeds/e.xml") +
                             " wurden keine Downloaddateien gefunden; der Eintrag bleibt."),
              std::string::npos)
        << first.err;
    EXPECT_EQ(Run({}, "de_AT.UTF-8").out.find("There are no new files."), 0u);  // as the window
}

TEST_F(CliProgram, ImportAddsTheMissingFeedsAndExportHandsTheListBack) {
    WriteList({"http://b.example/"});
    const std::string opml = folder_ / "from-elsewhere.opml";
    WriteTextFile(opml,
                  "<?xml version=\"1.0\" encoding=\"windows-1252\"?><opml version=\"1.0\"><body>"
                  "<outline text=\"Shows\"><outline xmlUrl=\"http://a.example/?x=1&amp;y=2\"/>"
                  "<outline xmlUrl=\"http://b.example/\"/></outline>"
                  "<outline type=\"rss\" xmlUrl=\"http://m\xfc.example/\"/></body></opml>");
    ProgramResult imported = Run({"import", opml});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out, "New feeds taken from " + opml + ": 2.\n");
    EXPECT_EQ(ReadFile(ListPath()), ListWith({"http://b.example/", "http://a.example/?x=1&y=2",
                                              "http://m\xc3\xbc.example/"}));

    const std::string exported = folder_ / "out.opml";
    EXPECT_EQ(Run({"export", exported}).status, 0);
    const ProgramResult printed = Run({"export"});
    EXPECT_EQ(printed.out, ReadFile(exported));
    EXPECT_NE(printed.out.find("xmlUrl=\"http://a.example/?x=1&amp;y=2\""), std::string::npos)
        << printed.out;

    // A broken file leaves the list as it was, byte for byte, and says why in the user's language.
    const std::string list = ReadFile(ListPath());
    WriteTextFile(opml, "<opml><body><outline xmlUrl=\"http://c.example/\">\n</body>\n</opml>");
    ProgramResult broken = Run({"import", opml}, "de_DE.UTF-8");
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err, opml +
                              " ist keine gültige OPML-Datei (Fehler in Zeile 2); die Liste "
                              "bleibt unverändert.\n");
    EXPECT_EQ(ReadFile(ListPath()), list);
}

}  // namespace
}  // namespace app::cli::testing
