#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "app/run_lock.h"
#include "feed_monitor_fixture.h"
#include "platform/exception.h"

namespace app::testing {
namespace {

using platform::ShownBox;

class ListFile : public FeedMonitorTest {
  protected:
    // Another program of the same list, from its start to its end: it loads, changes and saves.
    void OtherProgram(const std::function<void(FeedMonitor&, RecordingView&)>& change) {
        RecordingView view;
        FeedMonitor other(view, programDir_);
        other.FormCreate(kGerman);
        change(other, view);
        other.FormClose();
    }
    // A rewrite renames a new file into place.
    ino_t ListInode() const {
        struct stat status {};
        stat(ListPath().c_str(), &status);
        return status.st_ino;
    }
};

TEST_F(ListFile, LoadsAndSavesBackByteForByte) {
    // Lines in code page 1252 (an older list) show legibly and are written back as they were.
    const std::string bytes =
        "4\r\nhttp://a.example/feed\r\nwww.b.example/r\xFC"
        "ss?q=1&x=2\r\nhttp://c.example/\xC3\xBC\r\n   \r\n/music/Podcasts f\xFCr \x80/";
    WriteListFile(bytes);
    monitor_->FormCreate(kGerman);
    EXPECT_EQ(Urls(),
              (std::vector<std::string>{"http://a.example/feed", "www.b.example/r\xFCss?q=1&x=2",
                                        "http://c.example/ü", "   "}));
    EXPECT_EQ(view_.rows,
              (std::vector<std::string>{"http://a.example/feed", "www.b.example/rüss?q=1&x=2",
                                        "http://c.example/ü", "   "}));
    EXPECT_EQ(monitor_->DownloadFolder, "/music/Podcasts f\xFCr \x80/");
    EXPECT_EQ(view_.folderText, "/music/Podcasts für €/");
    EXPECT_TRUE(app_.ShownBoxes().empty());

    monitor_->FormClose();
    EXPECT_EQ(ReadListFile(), bytes);
    EXPECT_FALSE(std::filesystem::exists(ListPath() + ".tmp"));
}

TEST_F(ListFile, AFolderLineInCodePage1252IsKeptUntilTheUserEditsIt) {
    WriteListFile("1\r\nhttp://a.example\r\n" + programDir_ + "M\xFCsik");
    monitor_->FormCreate(kGerman);
    EXPECT_EQ(view_.folderText, programDir_ + "Müsik/");
    // A run creates and uses the folder of that name, not a look-alike.
    monitor_->FetchFeed = [](const std::string&) { return std::string(); };
    monitor_->Button3Click();
    EXPECT_TRUE(std::filesystem::is_directory(programDir_ + "M\xFCsik"));
    EXPECT_FALSE(std::filesystem::exists(programDir_ + "Müsik"));

    view_.folderText = programDir_ + "Müsik2";
    monitor_->ListeSpeichern();
    EXPECT_EQ(ReadListFile(), "1\r\nhttp://a.example\r\n" + programDir_ + "Müsik2/");
}

TEST_F(ListFile, BytesThatAreNotUtf8ReadAsCodePage1252) {
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"plain ascii", "plain ascii"},
        {"sch\xC3\xB6n \xE2\x82\xAC \xF0\x9F\x8E\xA7", "schön € 🎧"},
        {"\x80\x81\x8A\x9F\xA0\xFF", "€\u0081Š\u0178\u00A0ÿ"},
        {"\xC0\xAF", "À¯"},                 // an overlong "/"
        {"\xED\xA0\x80", "í\u00A0€"},       // a surrogate
        {"\xF4\x90\x80\x80", "ô\u0090€€"},  // beyond Unicode
        {"caf\xC3", "cafÃ"},                // cut short
    };
    for (const auto& c : cases) {
        WriteListFile("1\r\n" + c.bytes + "\r\n/f/");
        RecordingView view;
        FeedMonitor monitor(view, programDir_);
        monitor.ListeLaden();
        EXPECT_EQ(view.rows, std::vector<std::string>{c.shown}) << c.bytes;
        EXPECT_EQ(UrlsOf(monitor), std::vector<std::string>{c.bytes});
    }
}

TEST_F(ListFile, SavingTakesTheFolderFromItsFieldAndEndsWithoutALineEnd) {
    WriteListFile("0\r\n/old/");
    monitor_->ListeLaden();
    monitor_->AddEntry("http://one.example/rss");
    monitor_->AddEntry("two.example");
    view_.folderText = "/home/me/Podcasts";
    monitor_->ListeSpeichern();
    EXPECT_EQ(ReadListFile(), "2\r\nhttp://one.example/rss\r\ntwo.example\r\n/home/me/Podcasts/");
    EXPECT_EQ(monitor_->DownloadFolder, "/home/me/Podcasts/");
}

// Loading trusts the count line, kept to its low 16 bits, and reads a missing or empty folder
// line as the default folder; a folder gets its separator, and lines may end in LF alone.
TEST_F(ListFile, LoadsTheCountedLinesAndTheFolderLine) {
    const std::string standard = programDir_ + "Download/";
    const struct {
        std::string bytes;
        std::vector<std::string> urls;
        std::string folder;
    } cases[] = {
        {"3\r\nhttp://only.example\r\n/folder/", {"http://only.example", "/folder/", ""}, standard},
        {"65536\r\n/folder/\r\nhttp://never.example", {}, "/folder/"},
        {"65538\r\na\r\nb\r\n/f/", {"a", "b"}, "/f/"},
        {"0", {}, standard},
        {"0\r\n", {}, standard},
        {"0\r\n\r\n", {}, standard},
        {"0\r\n/music", {}, "/music/"},
        {"1\nhttp://lf.example\n/lf", {"http://lf.example"}, "/lf/"},
    };
    for (const auto& c : cases) {
        WriteListFile(c.bytes);
        RecordingView view;
        FeedMonitor monitor(view, programDir_);
        monitor.ListeLaden();
        EXPECT_EQ(UrlsOf(monitor), c.urls) << c.bytes;
        EXPECT_EQ(view.rows, c.urls) << c.bytes;
        EXPECT_EQ(monitor.DownloadFolder, c.folder) << c.bytes;
        EXPECT_EQ(view.folderText, c.folder) << c.bytes;
    }
}

TEST_F(ListFile, ACountThatIsNoIntegerStopsTheLoadWithItsText) {
    for (std::string line : {"zwei", "", " 2", "2 ", "12abc", "+-3", "0x10", "4294967296"}) {
        WriteListFile(line + "\r\nhttp://a.example\r\n/f/");
        RecordingView otherView;
        FeedMonitor other(otherView, programDir_);
        try {
            other.ListeLaden();
            ADD_FAILURE() << "no error for '" << line << "'";
        } catch (const platform::Exception& error) {
            EXPECT_EQ(error.Message(), "'" + line + "' is not a valid integer value");
        }
        EXPECT_EQ(other.FeedCount(), 0);
        EXPECT_TRUE(otherView.rows.empty());
        EXPECT_EQ(other.DownloadFolder, "");
    }
    for (const char* line : {"-0", "+7", "007"}) {
        WriteListFile(std::string(line) + "\r\n");
        RecordingView otherView;
        FeedMonitor other(otherView, programDir_);
        EXPECT_NO_THROW(other.ListeLaden()) << line;
    }
}

TEST_F(ListFile, AnUnreadableFileIsReportedAtStartAndKeptAtClose) {
    const std::string bytes = "zwei\r\nhttp://a.example\r\nhttp://b.example\r\n/f/";
    WriteListFile(bytes);
    app_.SetTitle("Title");
    monitor_->FormCreate(kGerman);
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    EXPECT_EQ(app_.ShownBoxes()[0].kind, ShownBox::Kind::ErrorReport);
    EXPECT_EQ(app_.ShownBoxes()[0].text, "'zwei' is not a valid integer value.");
    EXPECT_EQ(app_.ShownBoxes()[0].caption, "Title");
    EXPECT_EQ(view_.folderText, "");
    EXPECT_EQ(monitor_->FeedCount(), 0);

    monitor_->FormClose();
    EXPECT_EQ(ReadListFile(), bytes);
}

TEST_F(ListFile, AFileThatCannotBeOpenedIsLoadedSilentlyAndKeptAtClose) {
    // A socket's name is there, but no open succeeds (unlike a file without permissions, also
    // for root).
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(ListPath().size(), sizeof address.sun_path);
    ListPath().copy(address.sun_path, ListPath().size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    monitor_->FormCreate(kGerman);
    EXPECT_TRUE(app_.ShownBoxes().empty());
    EXPECT_EQ(monitor_->FeedCount(), 0);
    EXPECT_EQ(view_.folderText, "");
    monitor_->FormClose();
    EXPECT_TRUE(std::filesystem::is_socket(ListPath()));
    close(listener);
}

TEST_F(ListFile, FeedsAddedAfterAFailedLoadAreSavedOverTheFile) {
    WriteListFile("kaputt\r\n");
    monitor_->FormCreate(kGerman);
    view_.newFeedText = "http://new.example";
    monitor_->Button1Click();
    monitor_->FormClose();
    EXPECT_EQ(ReadListFile(), "1\r\nhttp://new.example\r\n");
}

TEST_F(ListFile, AListThatCannotBeWrittenIsReportedAndTheOldOneStays) {
    // liste.pdl is a directory that a rename cannot replace.
    std::filesystem::create_directories(ListPath() + "/inside");
    monitor_->AddEntry("http://a.example");
    view_.folderText = "/new/";
    monitor_->DownloadFolder = "/old/";
    monitor_->ListeSpeichern();
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    EXPECT_EQ(app_.ShownBoxes()[0].kind, ShownBox::Kind::ErrorReport);
    EXPECT_NE(app_.ShownBoxes()[0].text.find(ListPath()), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(ListPath() + "/inside"));
    EXPECT_FALSE(std::filesystem::exists(ListPath() + ".tmp"));
    EXPECT_EQ(monitor_->DownloadFolder, "/old/");

    // A list folder that cannot be made: a file stands in its place.
    app_.ClearRecord();
    std::ofstream(programDir_ + "blocked") << "a file";
    RecordingView otherView;
    FeedMonitor other(otherView, programDir_);
    other.ListFile = programDir_ + "blocked/liste.pdl";
    other.AddEntry("http://a.example");
    other.ListeSpeichern();
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    EXPECT_NE(app_.ShownBoxes()[0].text.find("blocked/liste.pdl"), std::string::npos);
}

TEST_F(ListFile, FeedsAnotherProgramAddedOrRemovedMeanwhileStaySo) {
    WriteListFile("3\r\na\r\nb\r\nc\r\n/f/");
    monitor_->FormCreate(kGerman);
    OtherProgram([](FeedMonitor& other, RecordingView& view) {
        view.selectedRow = 1;
        other.Button2Click();
        other.AddEntry("d");
    });
    monitor_->AddEntry("e");
    monitor_->ListeSpeichern();
    EXPECT_EQ(ReadListFile(), "4\r\na\r\nc\r\ne\r\nd\r\n/f/");
    EXPECT_EQ(Urls(), (std::vector<std::string>{"a", "c", "e", "d"}));
    ExpectRowsMatchRegistry();

    // The list saved is the one the next save compares with: d, removed since, stays removed.
    OtherProgram([](FeedMonitor& other, RecordingView& view) {
        view.selectedRow = 3;
        other.Button2Click();
    });
    monitor_->FormClose();
    EXPECT_EQ(ReadListFile(), "3\r\na\r\nc\r\ne\r\n/f/");
}

TEST_F(ListFile, AProgramThatChangedNothingLeavesTheFileAsAnotherSavedIt) {
    WriteListFile("1\r\na\r\n/f/");
    monitor_->FormCreate(kGerman);
    OtherProgram([](FeedMonitor& other, RecordingView&) { other.AddEntry("b"); });
    const ino_t saved = ListInode();
    monitor_->FormClose();
    EXPECT_EQ(ListInode(), saved);
    EXPECT_EQ(ReadListFile(), "2\r\na\r\nb\r\n/f/");
    EXPECT_EQ(Urls(), (std::vector<std::string>{"a", "b"}));
    ExpectRowsMatchRegistry();
}

TEST_F(ListFile, TheFolderIsTheOneThisProgramChoseElseTheOneAnotherChose) {
    const struct {
        const char *ours, *theirs, *saved;
    } cases[] = {{"/f/", "/o/", "/o/"}, {"/w/", "/f/", "/w/"}, {"/w/", "/o/", "/w/"}};
    for (const auto& c : cases) {
        WriteListFile("1\r\na\r\n/f/");
        RecordingView view;
        FeedMonitor window(view, programDir_);
        window.FormCreate(kGerman);
        OtherProgram([&](FeedMonitor&, RecordingView& other) { other.folderText = c.theirs; });
        view.folderText = c.ours;
        window.FormClose();
        EXPECT_EQ(ReadListFile(), std::string("1\r\na\r\n") + c.saved) << c.ours << c.theirs;
        EXPECT_EQ(view.folderText, c.saved) << c.ours << c.theirs;
    }
}

TEST_F(ListFile, ASaveWaitsForAnotherSaveOnlySoLongAndNeverForARun) {
    WriteListFile("1\r\na\r\n/f/");
    monitor_->FormCreate(kGerman);
    monitor_->AddEntry("b");
    monitor_->SaveLockWait = std::chrono::milliseconds(50);
    {
        SaveLock otherSave(ListPath(), {});
        ASSERT_TRUE(otherSave.Acquired());
        const ino_t before = ListInode();
        monitor_->ListeSpeichern();
        ASSERT_EQ(app_.ShownBoxes().size(), 1u);
        EXPECT_EQ(app_.ShownBoxes()[0].kind, ShownBox::Kind::ErrorReport);
        EXPECT_NE(app_.ShownBoxes()[0].text.find(ListPath()), std::string::npos);
        EXPECT_EQ(ListInode(), before);
        EXPECT_EQ(ReadListFile(), "1\r\na\r\n/f/");
    }
    // Another program's scan holds the run lock for minutes; closing meanwhile saves at once.
    RunLock otherRun(ListPath());
    ASSERT_TRUE(otherRun.Acquired());
    monitor_->FormClose();
    EXPECT_EQ(ReadListFile(), "2\r\na\r\nb\r\n/f/");
    EXPECT_EQ(app_.ShownBoxes().size(), 1u);
}

}  // namespace
}  // namespace app::testing
