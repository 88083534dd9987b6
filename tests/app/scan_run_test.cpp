#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/feed_fetch.h"
#include "app/message_table.h"
#include "app/run_lock.h"
#include "platform/exception.h"
#include "platform/message_loop.h"
#include "tests/app/feed_monitor_fixture.h"
#include "tests/support/scripted_http_server.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::MessageBoxResult;
using test_support::NormalResponse;

// An RSS document with one item per enclosure element.
std::string Feed(const std::vector<std::string>& enclosures) {
    std::string feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>";
    for (const auto& enclosure : enclosures)
        feed += "<item>" + enclosure + "</item>";
    return feed + "</channel></rss>";
}

class ScanRunTest : public testing::FeedMonitorTest {
  protected:
    ScanRunTest() : folder_(programDir_ + "downloads/") {
        view_.folderText = folder_;
        monitor_->DownloadEpisode = [this](const std::string& url, const std::string& path) {
            downloads_.emplace_back(url, path);
            if (onDownload_) onDownload_();
            return true;
        };
    }
    ~ScanRunTest() override {
        if (window_) platform::DestroyWindow(window_);
    }

    // Adds a feed served by the next scripted connection.
    void AddFeed(const std::string& path, test_support::ScriptedResponse answer) {
        server_.AddConnection(std::move(answer));
        monitor_->AddEntry(server_.Url(path));
    }

    std::vector<std::string> RequestedPaths() const {
        std::vector<std::string> paths;
        for (const auto& request : server_.Requests())
            paths.push_back(request.raw.substr(4, request.raw.find(' ', 4) - 4));
        return paths;
    }

    void ExpectQuestionAbout(std::size_t box, const std::string& url) {
        ASSERT_LT(box, app_.ShownBoxes().size());
        EXPECT_EQ(app_.ShownBoxes()[box].text,
                  monitor_->MessageText(0) + url + monitor_->MessageText(1));
        EXPECT_EQ(app_.ShownBoxes()[box].caption, monitor_->MessageText(2));
        EXPECT_EQ(app_.ShownBoxes()[box].buttons, platform::MessageBoxButtons::YesNoDefaultNo);
    }

    std::string folder_;
    test_support::ScriptedHttpServer server_;
    std::vector<std::pair<std::string, std::string>> downloads_;
    std::function<void()> onDownload_;
    platform::HWND window_ = 0;
};

// Episodes of a host that names every file media.mp3, newest first, as feeds list them.
std::string SharedNameFeed(int newest, int oldest) {
    std::vector<std::string> items;
    for (int n = newest; n >= oldest; --n)
        items.push_back("<guid>ep-" + std::to_string(n) + "</guid><title>Ep " +
                        std::to_string(n) + "</title><enclosure type=\"audio/mpeg\" url=\"/" +
                        std::to_string(n) + "/media.mp3?src=rss&amp;x=1\"/>");
    return Feed(items);
}

TEST_F(ScanRunTest, EveryNewEpisodeIsDownloadedOnceUnderItsOwnName) {
    AddFeed("/show/feed", NormalResponse(200, SharedNameFeed(3, 1)));
    onDownload_ = [&] {
        monitor_->Button3Click();  // a second click during the run does nothing
        monitor_->UiLanguage = 1;  // the summary speaks the language current when it is shown
    };
    monitor_->Button3Click();  // the first sight of the feed: its newest episode only
    EXPECT_TRUE(fs::is_directory(folder_));
    const std::string host = server_.Url("");
    EXPECT_EQ(downloads_, (decltype(downloads_){{host + "/3/media.mp3?src=rss&x=1",
                                                 folder_ + "Ep 3.mp3"}}));
    EXPECT_EQ(monitor_->FeedEntries[0].EnclosureCount, 3);
    EXPECT_EQ(monitor_->FeedEntries[0].EnclosureUrls.back(), host + "/1/media.mp3?src=rss&x=1");
    EXPECT_EQ(monitor_->NewFileCount, 1);
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    EXPECT_EQ(app_.ShownBoxes()[0].text, "New files were found and downloaded.");
    EXPECT_EQ(monitor_->LastRun().ending, RunOutcome::Ending::NewFiles);
    EXPECT_FALSE(monitor_->ScanBusy);

    // Two episodes published since: both, newest first; the user deleted what was downloaded.
    onDownload_ = nullptr;
    downloads_.clear();
    server_.AddConnection(NormalResponse(200, SharedNameFeed(5, 1)));
    monitor_->Button3Click();
    EXPECT_EQ(downloads_, (decltype(downloads_){{host + "/5/media.mp3?src=rss&x=1", folder_ + "Ep 5.mp3"},
                                                {host + "/4/media.mp3?src=rss&x=1", folder_ + "Ep 4.mp3"}}));
    EXPECT_EQ(monitor_->NewFileCount, 2);

    downloads_.clear();
    server_.AddConnection(NormalResponse(200, SharedNameFeed(5, 1)));
    monitor_->Button3Click();
    EXPECT_TRUE(downloads_.empty());
    ExpectSummary(5);
    EXPECT_EQ(monitor_->LastRun().ending, RunOutcome::Ending::NothingNew);
}

TEST_F(ScanRunTest, ADamagedHistoryIsReportedAndTheRunGoesOnByTheFolder) {
    const std::string historyPath = ListPath() + ".history";
    const std::string garbage(4096, '\x5A');
    std::ofstream(historyPath, std::ios::binary) << garbage;
    fs::create_directories(folder_);
    std::ofstream(folder_ + "Ep 2.mp3") << "there";
    for (int run = 0; run < 2; ++run)
        server_.AddConnection(NormalResponse(200, SharedNameFeed(2, 1)));
    monitor_->AddEntry(server_.Url("/feed"));

    monitor_->Button3Click();
    EXPECT_TRUE(downloads_.empty());  // the newest episode is there
    ASSERT_EQ(app_.ShownBoxes().size(), 2u);
    EXPECT_EQ(app_.ShownBoxes()[0].kind, platform::ShownBox::Kind::ErrorReport);
    EXPECT_NE(app_.ShownBoxes()[0].text.find(historyPath), std::string::npos);
    ExpectSummary(5);
    fs::remove(folder_ + "Ep 2.mp3");
    monitor_->Button3Click();
    EXPECT_EQ(downloads_.size(), 1u);
    EXPECT_EQ(ReadFile(historyPath), garbage);
}

TEST_F(ScanRunTest, AFeedWithoutEnclosuresMayBeDeletedAndTheNextTakesItsIndex) {
    AddFeed("/missing", NormalResponse(404, Feed({"<enclosure url=\"http://h/0.mp3\"/>"})));
    AddFeed("/second", NormalResponse(200, Feed({"<enclosure url=\"http://h/2.mp3\"/>"})));
    // A list written in code page 1252 may hold such a byte; the question shows it legibly.
    AddFeed("/third-\xE9", NormalResponse(200, Feed({"<enclosure type=\"audio/mpeg\"/>"})));
    std::vector<std::pair<int, std::string>> visits;
    monitor_->FetchFeed = [&](const std::string& url) {
        visits.emplace_back(monitor_->FeedIndex, url);
        return FetchFeedDocument(url);
    };
    app_.ScriptAnswer(MessageBoxResult::Yes);
    app_.ScriptAnswer(MessageBoxResult::No);
    std::string first = server_.Url("/missing"), second = server_.Url("/second"),
                third = server_.Url("/third-\xE9");

    monitor_->Button3Click();
    EXPECT_EQ(visits, (decltype(visits){{0, first}, {0, second}, {1, third}}));
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/missing", "/second", "/third-%e9"}));
    ASSERT_EQ(app_.ShownBoxes().size(), 3u);
    ExpectQuestionAbout(0, first);
    ExpectQuestionAbout(1, server_.Url("/third-\xC3\xA9"));
    ExpectSummary(3);
    ASSERT_EQ(monitor_->FeedCount(), 2);
    EXPECT_EQ(monitor_->FeedEntries[0].FeedUrl, second);
    EXPECT_EQ(monitor_->FeedEntries[1].FeedUrl, third);
    EXPECT_EQ(monitor_->FeedEntries[1].EnclosureCount, 0);
    EXPECT_EQ(view_.rows, (std::vector<std::string>{second, third}));
    EXPECT_EQ(downloads_.size(), 1u);
}

TEST_F(ScanRunTest, DeletingEveryFeedEmptiesTheRegistry) {
    AddFeed("/a", NormalResponse(404, ""));
    AddFeed("/b", NormalResponse(200, "<rss/>"));
    AddFeed("/c", NormalResponse(200, Feed({"<enclosure url=http://h/unquoted.mp3/>"})));
    monitor_->UiLanguage = 1;
    for (int i = 0; i < 3; ++i)
        app_.ScriptAnswer(MessageBoxResult::Yes);
    std::string first = server_.Url("/a");

    monitor_->Button3Click();
    EXPECT_EQ(monitor_->FeedCount(), 0);
    EXPECT_TRUE(view_.rows.empty());
    EXPECT_EQ(server_.Requests().size(), 3u);
    ASSERT_EQ(app_.ShownBoxes().size(), 4u);
    EXPECT_EQ(
        app_.ShownBoxes()[0].text,
        "At " + first + " were no downloadable files are found. Do you want to delete the entry?");
    ExpectSummary(5);

    app_.ClearRecord();
    monitor_->Button3Click();  // nothing left to scan: no message at all
    EXPECT_TRUE(app_.ShownBoxes().empty());
}

TEST_F(ScanRunTest, ARunIsRefusedWhileAnotherRunHoldsTheList) {
    AddFeed("/one", NormalResponse(200, Feed({"<enclosure url=\"http://h/1.mp3\"/>"})));
    {
        RunLock otherRun(ListPath());
        monitor_->Button3Click();
        EXPECT_TRUE(RequestedPaths().empty());
        ExpectSummary(kAnotherRunMessage);
        EXPECT_EQ(monitor_->LastRun().ending, RunOutcome::Ending::Refused);
        EXPECT_FALSE(monitor_->ScanBusy);
    }
    monitor_->Button3Click();
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/one"});
}

TEST_F(ScanRunTest, CancelAllStopsBeforeTheNextFeed) {
    AddFeed("/one", NormalResponse(200, Feed({"<enclosure url=\"http://h/1.mp3\"/>"})));
    AddFeed("/two", NormalResponse(200, Feed({"<enclosure url=\"http://h/2.mp3\"/>"})));
    onDownload_ = [&] { monitor_->CancelAll = true; };

    monitor_->Button3Click();
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/one"});
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    ExpectSummary(9);
    EXPECT_FALSE(monitor_->ScanBusy);
}

// Feeds on servers of their own, fetched side by side: the later ones answer first.
class SideBySideScanTest : public ScanRunTest {
  protected:
    SideBySideScanTest() { monitor_->FeedsInFlight = 16; }

    void AddFeedOnItsServer(test_support::ScriptedResponse answer) {
        servers_.push_back(std::make_unique<test_support::ScriptedHttpServer>());
        servers_.back()->AddConnection(std::move(answer));
        monitor_->AddEntry(servers_.back()->Url("/feed"));
    }

    std::vector<std::unique_ptr<test_support::ScriptedHttpServer>> servers_;
};

TEST_F(SideBySideScanTest, QuestionsAndDownloadsComeInListOrder) {
    const int feeds = 5;
    for (int i = 0; i < feeds; ++i) {
        const std::string enclosure =
            i == 2 ? "" : "<enclosure url=\"http://h/" + std::to_string(i) + ".mp3\"/>";
        test_support::ScriptedResponse answer = NormalResponse(200, Feed({enclosure}));
        answer.pieces[0].delayBefore = std::chrono::milliseconds((feeds - i) * 40);
        AddFeedOnItsServer(std::move(answer));
    }
    std::vector<std::string> events;
    app_.OnBoxShown = [&](const platform::ShownBox& box) {
        if (box.buttons == platform::MessageBoxButtons::YesNoDefaultNo) events.push_back(box.text);
    };
    app_.ScriptAnswer(MessageBoxResult::Yes);  // the feed without enclosures goes
    onDownload_ = [&] {
        events.push_back(downloads_.back().first);
        // Every feed was asked for while the first one's answer was on its way.
        if (downloads_.size() == 1)
            for (const auto& server : servers_)
                EXPECT_TRUE(server->WaitForRequests(1, 2s));
    };

    monitor_->Button3Click();
    const std::string question =
        monitor_->MessageText(0) + servers_[2]->Url("/feed") + monitor_->MessageText(1);
    EXPECT_EQ(events, (std::vector<std::string>{"http://h/0.mp3", "http://h/1.mp3", question,
                                                "http://h/3.mp3", "http://h/4.mp3"}));
    EXPECT_EQ(monitor_->FeedCount(), feeds - 1);
    ExpectSummary(3);
}

TEST_F(SideBySideScanTest, CancelAllStopsTheFetchesUnderWay) {
    AddFeedOnItsServer(NormalResponse(200, Feed({"<enclosure url=\"http://h/1.mp3\"/>"})));
    for (int i = 0; i < 3; ++i)
        AddFeedOnItsServer(test_support::StalledResponse());
    onDownload_ = [&] {
        for (const auto& server : servers_)
            EXPECT_TRUE(server->WaitForRequests(1, 2s));
        monitor_->CancelAllDownloads();
    };

    monitor_->Button3Click();
    EXPECT_EQ(downloads_.size(), 1u);
    ASSERT_EQ(app_.ShownBoxes().size(), 1u);
    ExpectSummary(9);
    EXPECT_FALSE(monitor_->ScanBusy);
}

TEST_F(ScanRunTest, TheRunAfterACancelAllScansAgain) {
    AddFeed("/one", NormalResponse(200, Feed({"<enclosure url=\"http://h/1.mp3\"/>"})));
    AddFeed("/two", NormalResponse(200, Feed({"<enclosure url=\"http://h/2.mp3\"/>"})));
    monitor_->CancelAll = true;  // left from the last run's "cancel all"
    monitor_->Button3Click();
    EXPECT_EQ(RequestedPaths(), (std::vector<std::string>{"/one", "/two"}));
    EXPECT_EQ(downloads_.size(), 2u);
    ExpectSummary(3);
}

TEST_F(ScanRunTest, EpisodesGoIntoTheFolderUnderSafeNamesOnly) {
    AddFeed("/dots", NormalResponse(200, Feed({"<enclosure url=\"http://h/a/..\"/>"})));
    AddFeed("/slash", NormalResponse(200, Feed({"<enclosure url=\"../x%2F..%2Fy\"/>"})));
    // No request can carry a control byte.
    AddFeed("/control", NormalResponse(200, Feed({"<enclosure url=\"http://h/a&#10;b.mp3\"/>"})));

    monitor_->Button3Click();
    EXPECT_EQ(downloads_, (decltype(downloads_){{"http://h/", folder_ + "episode"},
                                                {server_.Url("/x%2F..%2Fy"), folder_ + "episode (2)"}}));
    EXPECT_EQ(monitor_->NewFileCount, 2);
}

TEST_F(ScanRunTest, AStalledFeedGivesUpAndTheRunGoesOn) {
    AddFeed("/silent", test_support::StalledResponse());
    AddFeed("/next", NormalResponse(200, Feed({"<enclosure url=\"http://h/n.mp3\"/>"})));
    monitor_->FetchFeed = [](const std::string& url) {
        return FetchFeedDocument(url, platform::UrlReaderTimeouts{2000ms, 300ms});
    };

    monitor_->Button3Click();
    ASSERT_EQ(app_.ShownBoxes().size(), 2u);
    ExpectQuestionAbout(0, server_.Url("/silent"));
    EXPECT_EQ(downloads_.size(), 1u);
    ExpectSummary(3);
    EXPECT_EQ(monitor_->FeedCount(), 2);
}

TEST_F(ScanRunTest, ClosingTheWindowEndsTheRunAtOnce) {
    AddFeed("/silent", test_support::StalledResponse());
    AddFeed("/next", NormalResponse(200, Feed({"<enclosure url=\"http://h/n.mp3\"/>"})));
    // The user closes the window once the first feed's request has reached its server.
    window_ = platform::AllocateHWnd(
        [this](platform::HWND window, platform::UINT, platform::WPARAM, platform::LPARAM) {
            if (!server_.Requests().empty() && platform::KillTimer(window, 1)) {
                EXPECT_FALSE(monitor_->RequestClose());
            }
            return platform::LRESULT{0};
        });
    platform::SetTimer(window_, 1, 5);

    monitor_->Button3Click();
    EXPECT_TRUE(app_.ShownBoxes().empty());  // neither the delete question nor a summary
    EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/silent"});
    EXPECT_EQ(monitor_->FeedCount(), 2);
    EXPECT_FALSE(monitor_->ScanBusy);
}

TEST_F(ScanRunTest, AFolderThatCannotBeCreatedStopsTheRunBeforeItStarts) {
    AddFeed("/feed", NormalResponse(200, Feed({"<enclosure url=\"http://h/a.mp3\"/>"})));
    const std::string missing = programDir_ + "no/such/folder/";
    view_.folderText = missing;
    for (std::uint8_t language : {0, 1}) {
        monitor_->UiLanguage = language;
        try {
            monitor_->Button3Click();
            ADD_FAILURE() << "the run started";
        } catch (const platform::Exception& error) {
            const std::string reason =
                std::make_error_code(std::errc::no_such_file_or_directory).message();
            EXPECT_EQ(error.what(), (language == 0 ? missing + " kann nicht angelegt werden: "
                                                   : "Cannot create " + missing + ": ") +
                                        reason + ".");
        }
    }
    EXPECT_FALSE(monitor_->ScanBusy);
    EXPECT_EQ(server_.AcceptedConnections(), 0);
    EXPECT_TRUE(app_.ShownBoxes().empty());

    view_.folderText = folder_;
    monitor_->ScanBusy = true;  // a run is under way
    monitor_->Button3Click();
    EXPECT_FALSE(fs::exists(folder_));
}

TEST_F(ScanRunTest, AFeedTooLargeToReadIsReportedAndKept) {
    monitor_->AddEntry("http://h/huge");
    monitor_->FetchFeed = [](const std::string&) {
        FetchedFeed refused;
        refused.tooLarge = true;
        return refused;
    };
    monitor_->InEnglish();
    monitor_->Button3Click();
    ASSERT_EQ(app_.ShownBoxes().size(), 2u);  // the summary and the failures, no question
    EXPECT_EQ(app_.ShownBoxes()[0].text, monitor_->MessageText(5));
    EXPECT_EQ(app_.ShownBoxes()[1].text,
              "These downloads failed:\nhttp://h/huge: The feed is larger than 64 MiB and was "
              "not read");
    EXPECT_EQ(monitor_->FeedCount(), 1);
}

TEST_F(ScanRunTest, MoreEnclosuresThanTheCountHoldsKeepTheLatest) {
    std::vector<std::string> items;
    for (int i = 0; i <= 0xFFFF; ++i)
        items.push_back("<enclosure url=\"http://h/" + std::to_string(i) + ".mp3\"/>");
    monitor_->AddEntry("http://h/feed");
    monitor_->DownloadFolder = folder_;
    fs::create_directories(folder_);

    monitor_->XML_einlesen(0, Feed(items));
    EXPECT_EQ(monitor_->FeedEntries[0].EnclosureCount, 0xFFFF);
    EXPECT_EQ(monitor_->FeedEntries[0].EnclosureUrls.front(), "http://h/1.mp3");
    EXPECT_EQ(downloads_, (decltype(downloads_){{"http://h/0.mp3", folder_ + "0.mp3"}}));
    EXPECT_TRUE(app_.ShownBoxes().empty());
}

}  // namespace
}  // namespace app
