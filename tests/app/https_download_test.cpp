// Feeds in today's style, end to end: enclosures behind http tracking addresses that relocate to
// https, downloaded by the program's own client from nginx with a certificate of the test CA.
#include <filesystem>
#include <string>
#include <vector>

#include "http/http_cli.h"
#include "tests/app/feed_monitor_fixture.h"
#include "tests/support/scripted_http_server.h"
#include "tests/support/server_process.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

namespace app {
namespace {

using namespace test_support;

class HttpsDownloadTest : public testing::FeedMonitorTest {
  protected:
    HttpsDownloadTest() : folder_(programDir_ + "downloads/") { view_.folderText = folder_; }

    void AddFeedWithEnclosure(const std::string& url) {
        feeds_.AddConnection(
            NormalResponse(200, "<rss><channel><item><enclosure url=\"" + url +
                                    "\" type=\"audio/mpeg\"/></item></channel></rss>"));
        monitor_->AddEntry(feeds_.Url("/feed" + std::to_string(monitor_->FeedCount())));
    }
    bool Exists(const std::string& name) const { return std::filesystem::exists(folder_ + name); }

    std::string folder_;
    ScriptedHttpServer feeds_;
};

TEST_F(HttpsDownloadTest, AnEpisodeBehindAnHttpTrackerLandsFromHttps) {
    TempFolder www("pd_https_app");
    std::filesystem::create_directories(www / "files");
    const std::string bytes(200'000, 'e');
    WriteTextFile(www / "files/show-2.mp3", bytes);
    // Each hop goes to another host or port, so each needs a new connection.
    LocalNginx cdn(www.Path(),
                   "    location = /cdn/show-2.mp3 { return 302 https://localhost:$server_port"
                   "/files/show-2.mp3; }\n",
                   Certificates().server.certificateFile, Certificates().server.keyFile);
    LocalNginx tracker(www.Path(),
                       "    location = /t1/show-2.mp3 { return 302 "
                       "http://localhost:$server_port/t2/show-2.mp3; }\n"
                       "    location = /t2/show-2.mp3 { return 302 " +
                           cdn.Url("/cdn/show-2.mp3") + "; }\n");
    monitor_->HttpCli1()->SslExtraCaFile = Certificates().caFile;
    AddFeedWithEnclosure(tracker.Url("/t1/show-2.mp3"));

    monitor_->Button3Click();

    EXPECT_EQ(ReadFile(folder_ + "show-2.mp3"), bytes);
    EXPECT_FALSE(Exists("show-2.mp3.part"));
    EXPECT_EQ(monitor_->HttpCli1()->LocationChangeCurCount(), 6);
}

TEST_F(HttpsDownloadTest, AnEpisodeFromAHostOfOnlyAnIPv6AddressLands) {
    TempFolder www("pd_https_app6");
    const std::string bytes(100'000, '6');
    WriteTextFile(www / "show-6.mp3", bytes);
    LocalNginx server(www.Path(), "", Certificates().server.certificateFile,
                      Certificates().server.keyFile, "::1");
    monitor_->HttpCli1()->SslExtraCaFile = Certificates().caFile;
    AddFeedWithEnclosure(server.Url("/show-6.mp3"));

    monitor_->Button3Click();

    EXPECT_EQ(ReadFile(folder_ + "show-6.mp3"), bytes);
}

TEST_F(HttpsDownloadTest, TlsFailuresLeaveNoFile) {
    const auto& certificates = Certificates();
    TlsTestServer untrusted(certificates.server);
    TlsTestServer expired(certificates.expired);
    TlsTestServer wrongHost(certificates.wrongHost);
    for (TlsTestServer* server : {&untrusted, &expired, &wrongHost})
        server->AddConnection({"HTTP/1.0 200 OK\r\n\r\nnot to be kept"});
    // First as the program stands, trusting only the system's store; then trusting the test CA.
    AddFeedWithEnclosure(untrusted.Url("/a.mp3"));
    monitor_->Button3Click();
    EXPECT_EQ(monitor_->HttpCli1()->StatusReason(),
              "certificate verify failed: unable to get local issuer certificate");
    monitor_->HttpCli1()->SslExtraCaFile = certificates.caFile;
    AddFeedWithEnclosure(expired.Url("/b.mp3"));
    AddFeedWithEnclosure(wrongHost.Url("/c.mp3"));
    monitor_->DelEintrag(0);
    monitor_->Button3Click();
    EXPECT_EQ(monitor_->HttpCli1()->StatusReason(),
              "certificate verify failed: IP address mismatch");

    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        EXPECT_FALSE(Exists(name)) << name;
        EXPECT_FALSE(Exists(std::string(name) + ".part")) << name;
    }
    EXPECT_TRUE(untrusted.Requests().empty() && expired.Requests().empty() &&
                wrongHost.Requests().empty());
    EXPECT_FALSE(monitor_->ScanBusy);
}

}  // namespace
}  // namespace app
