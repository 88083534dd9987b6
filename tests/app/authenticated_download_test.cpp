// Downloads that need credentials, end to end against real servers on 127.0.0.1: an enclosure
// address carrying user and password on an nginx with auth_basic, and a proxy text carrying them
// through a tinyproxy with BasicAuth.
#include <filesystem>
#include <string>

#include "http/http_cli.h"
#include "tests/app/feed_monitor_fixture.h"
#include "tests/support/scripted_http_server.h"
#include "tests/support/server_process.h"

namespace app {
namespace {

using test_support::NormalResponse;
using test_support::TempFolder;

class AuthenticatedDownloadTest : public testing::FeedMonitorTest {
  protected:
    AuthenticatedDownloadTest() : folder_(programDir_ + "downloads/") {
        view_.folderText = folder_;
        test_support::WriteTextFile(site_ / "show.mp3", "the episode");
        test_support::WriteTextFile(site_ / "other.mp3", "another episode");
    }

    void AddFeedOf(const std::string& enclosureUrl) {
        feeds_.AddConnection(
            NormalResponse(200, "<rss><item><enclosure url=\"" + enclosureUrl + "\"/></item></rss>"));
        monitor_->AddEntry(feeds_.Url("/feed" + std::to_string(monitor_->FeedCount())));
    }
    bool Downloaded(const std::string& name, const std::string& bytes) const {
        return std::filesystem::exists(folder_ + name) && ReadFile(folder_ + name) == bytes;
    }

    std::string folder_;
    TempFolder site_;
    test_support::ScriptedHttpServer feeds_;
};

TEST_F(AuthenticatedDownloadTest, AnEnclosureCarryingItsCredentialsLandsFromAProtectedServer) {
    TempFolder private_;
    test_support::WriteBasicPasswordFile(private_ / "users", "user", "pass");
    test_support::LocalNginx nginx(site_.Path(), "auth_basic \"episodes\";\nauth_basic_user_file " +
                                                     private_ / "users" + ";\n");
    const std::string authority = "127.0.0.1:" + std::to_string(nginx.Port());
    AddFeedOf("http://user:pass@" + authority + "/show.mp3");
    AddFeedOf("http://user:wrong@" + authority + "/other.mp3");

    monitor_->Button3Click();

    EXPECT_TRUE(Downloaded("show.mp3", "the episode"));
    EXPECT_FALSE(std::filesystem::exists(folder_ + "other.mp3"));
    ASSERT_EQ(app_.ShownBoxes().size(), 2u);
    EXPECT_EQ(app_.ShownBoxes()[0].text, monitor_->MessageText(3));
    EXPECT_EQ(app_.ShownBoxes()[1].text,
              "Diese Downloads sind fehlgeschlagen:\nother.mp3: 401 Unauthorized");
}

TEST_F(AuthenticatedDownloadTest, AProxyTextCarryingCredentialsPassesTheProxy) {
    test_support::LocalNginx nginx(site_.Path());
    test_support::LocalTinyproxy proxy("BasicAuth me secret");
    const std::string proxyAuthority = "127.0.0.1:" + std::to_string(proxy.Port());
    view_.proxyText = "http://me:secret@" + proxyAuthority;
    AddFeedOf(nginx.Url("/show.mp3"));
    monitor_->Button3Click();
    EXPECT_TRUE(Downloaded("show.mp3", "the episode"));

    // The credentials go with the text: a text without them leaves the proxy unanswered.
    view_.proxyText = proxyAuthority;
    monitor_->DelEintrag(0);
    AddFeedOf(nginx.Url("/other.mp3"));
    monitor_->Button3Click();
    EXPECT_FALSE(std::filesystem::exists(folder_ + "other.mp3"));
    EXPECT_EQ(monitor_->HttpCli1()->StatusCode(), 407);
}

}  // namespace
}  // namespace app
