// Several downloads at once: each episode on a server of its own, so that each server sees when
// its request comes, while the feeds come one after another from one server.
#include <array>
#include <filesystem>
#include <set>
#include <string>

#include "app/episode_history.h"
#include "tests/app/feed_monitor_fixture.h"
#include "tests/support/scripted_http_server.h"

namespace app {
namespace {

using namespace std::chrono_literals;
using test_support::HeaderList;
using test_support::InPieces;
using test_support::NormalResponse;
using test_support::ScriptedHttpServer;
using test_support::ScriptedResponse;

std::string Episode(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
    return bytes;
}

// The body in 20 pieces 20 ms apart: long enough for the other downloads to start meanwhile.
ScriptedResponse Slowly(ScriptedResponse response) {
    const std::size_t piece = response.pieces.front().bytes.size() / 20 + 1;
    return InPieces(std::move(response), piece, 20ms);
}

class DownloadsAtOnceTest : public testing::FeedMonitorTest {
  protected:
    DownloadsAtOnceTest() : folder_(programDir_ + "downloads/") {
        view_.folderText = folder_;
        monitor_->DownloadsAtOnce = 3;
    }

    // A feed with the ETag etag announcing the episode name of server.
    std::string AddFeedOf(ScriptedHttpServer& server, const std::string& name,
                          const std::string& etag) {
        feeds_.AddConnection(NormalResponse(200,
                                            "<rss><channel><item><enclosure url=\"" +
                                                server.Url("/" + name) +
                                                "\"/></item></channel></rss>",
                                            {{"ETag", etag}}));
        const std::string url = feeds_.Url("/feed" + std::to_string(monitor_->FeedCount()));
        monitor_->AddEntry(url);
        return url;
    }
    std::size_t EpisodeRequests() const {
        std::size_t count = 0;
        for (const ScriptedHttpServer& server : episodes_)
            count += server.Requests().size();
        return count;
    }
    std::string FileContents(const std::string& name) const { return ReadFile(folder_ + name); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(folder_ + name); }

    std::string folder_;
    ScriptedHttpServer feeds_;
    std::array<ScriptedHttpServer, 3> episodes_;
};

TEST_F(DownloadsAtOnceTest, RunSideBySideLandWholeAndEachFeedIsRecordedWhenItsLastEnds) {
    const std::string one = Episode(40000, 1), two = Episode(30000, 2);
    const std::string feed0 = AddFeedOf(episodes_[0], "one.mp3", "\"f0\"");
    const std::string feed1 = AddFeedOf(episodes_[1], "two.mp3", "\"f1\"");
    const std::string feed2 = AddFeedOf(episodes_[2], "three.mp3", "\"f2\"");
    // The same episode in a feed taken while its download for the first feed still runs.
    const std::string feed3 = AddFeedOf(episodes_[0], "one.mp3", "\"f3\"");
    episodes_[0].AddConnection(Slowly(NormalResponse(200, one)));
    episodes_[1].AddConnection(Slowly(NormalResponse(200, two)));
    episodes_[2].AddConnection(NormalResponse(404, "<html>gone</html>"));
    std::size_t mostAtOnce = 0;  // requests the servers had while no download had landed
    view_.onDownloadProgress = [&](std::size_t) {
        if (!Exists("one.mp3") && !Exists("two.mp3"))
            mostAtOnce = std::max(mostAtOnce, EpisodeRequests());
    };

    monitor_->Button3Click();

    EXPECT_EQ(mostAtOnce, 3u);
    EXPECT_EQ(EpisodeRequests(), 3u);  // one.mp3 once
    EXPECT_EQ(FileContents("one.mp3"), one);
    EXPECT_EQ(FileContents("two.mp3"), two);
    EXPECT_FALSE(Exists("three.mp3") || Exists("three.mp3.part") || Exists("one.mp3.part"));
    ASSERT_EQ(monitor_->FailedDownloads().size(), 1u);
    EXPECT_EQ(monitor_->FailedDownloads()[0].FileName, "three.mp3");
    EXPECT_EQ(monitor_->FailedDownloads()[0].Reason, "404 Not Found");
    EXPECT_EQ(monitor_->NewFileCount, 2);
    ASSERT_EQ(app_.ShownBoxes().size(), 2u);  // the summary, then the failures
    EXPECT_EQ(app_.ShownBoxes()[0].text, monitor_->MessageText(3));

    EpisodeHistory history(EpisodeHistory::PathFor(ListPath()));
    EXPECT_EQ(history.Validators(feed0).etag, "\"f0\"");
    EXPECT_EQ(history.Validators(feed1).etag, "\"f1\"");
    EXPECT_EQ(history.Validators(feed2).etag, "");  // its download failed: asked again next run
    ASSERT_EQ(history.List(feed1).size(), 1u);
    EXPECT_EQ(history.List(feed1)[0].fate, EpisodeFate::Downloaded);
    EXPECT_EQ(history.Summary(feed1)->pending, 0);
    EXPECT_EQ(history.Summary(feed2)->pending, 1);
}

TEST_F(DownloadsAtOnceTest, AnInterruptStopsEveryDownloadAndKeepsTheirParts) {
    const std::array<std::string, 3> names{"a.mp3", "b.mp3", "c.mp3"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        AddFeedOf(episodes_[i], names[i], "\"f\"");
        // A first piece, then nothing until the client goes.
        ScriptedResponse response =
            InPieces(NormalResponse(200, Episode(5000, static_cast<char>(i)),
                                    {{"ETag", "\"e" + std::to_string(i) + "\""}}),
                     1000, 0ms);
        response.pieces.resize(2);
        response.after = test_support::AfterResponse::Stall;
        episodes_[i].AddConnection(response);
    }
    std::set<std::size_t> receiving;
    bool refused = false;
    view_.onDownloadProgress = [&](std::size_t slot) {
        receiving.insert(slot);
        if (receiving.size() == 3 && !refused) refused = !monitor_->RequestClose();
    };

    monitor_->Button3Click();

    EXPECT_TRUE(refused);
    EXPECT_TRUE(monitor_->FailedDownloads().empty());  // stopped by the user
    EpisodeHistory history(EpisodeHistory::PathFor(ListPath()));
    for (const std::string& name : names) {
        EXPECT_FALSE(Exists(name)) << name;
        EXPECT_GT(std::filesystem::file_size(folder_ + name + ".part"), 0u) << name;
        EXPECT_TRUE(history.Partial(name).has_value()) << name;
    }
    EXPECT_FALSE(monitor_->ScanBusy);
}

}  // namespace
}  // namespace app
