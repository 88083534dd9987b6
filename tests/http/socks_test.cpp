// Downloads through SOCKS servers started by the tests on 127.0.0.1: microsocks (SOCKS 5, with and
// without user code and password), dante (SOCKS 4) and the tests' own SOCKS server (SOCKS 5 and
// 4A), which knows a host name the local resolver does not.
#include <gtest/gtest.h>

#include "tests/http/client_harness.h"
#include "tests/support/scripted_socks_server.h"
#include "tests/support/server_process.h"

namespace {

using test_support::NormalResponse;

std::string EpisodeBytes() {
    std::string bytes(150000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7919) >> 3);
    return bytes;
}

class SocksDownloadTest : public HttpClientTest {
  protected:
    SocksDownloadTest() {
        h.cli.OnSocksConnected = [this](THttpCli*, std::uint16_t errCode) {
            socksEvents.push_back("connected " + std::to_string(errCode));
        };
        h.cli.OnSocksError = [this](THttpCli*, int error, const std::string& msg) {
            socksEvents.push_back("error " + std::to_string(error) + " " + msg);
        };
        h.cli.OnSocketError = [this](THttpCli*) { socksEvents.push_back("socket error"); };
    }

    void UseSocks(std::uint16_t port, const std::string& level) {
        h.cli.SocksServer = "127.0.0.1";
        h.cli.SocksPort = std::to_string(port);
        h.cli.SocksLevel = level;
    }

    // Gets the episode from the tests' HTTP server at host and checks every byte.
    void ExpectDownloaded(const std::string& host) {
        server.AddConnection(NormalResponse(200, episode));
        h.body.Clear();
        GetOutcome outcome =
            h.Get("http://" + host + ":" + std::to_string(server.Port()) + "/episode.mp3");
        EXPECT_FALSE(outcome.raised) << outcome.message;
        EXPECT_EQ(h.cli.StatusCode(), 200);
        EXPECT_TRUE(h.body.Data() == episode) << h.body.Data().size() << " bytes";
    }

    const std::string episode = EpisodeBytes();
    std::vector<std::string> socksEvents;
};

TEST_F(SocksDownloadTest, Socks5ThroughMicrosocksWithAndWithoutUsercode) {
    {
        test_support::LocalMicrosocks socks;
        UseSocks(socks.Port(), "5");
        ExpectDownloaded("127.0.0.1");
    }
    test_support::LocalMicrosocks socks("podcaster", "s3cret");
    UseSocks(socks.Port(), "5");
    h.cli.SocksUsercode = "podcaster";
    h.cli.SocksPassword = "s3cret";
    h.cli.SocksAuthentication = socksAuthenticateUsercode;
    ExpectDownloaded("127.0.0.1");
    EXPECT_EQ(socksEvents, (std::vector<std::string>{"connected 0", "connected 0"}));

    h.cli.SocksPassword = "wrong";
    GetOutcome refused = h.Get(server.Url("/episode.mp3"));
    EXPECT_TRUE(refused.raised);
    EXPECT_EQ(h.cli.StatusCode(), 404);
    EXPECT_EQ(h.lastErrCode, 20015);
    EXPECT_EQ(socksEvents.back(), "error 20015 socks authentication failed");
}

TEST_F(SocksDownloadTest, Socks4ThroughDante) {
    test_support::LocalDante socks;
    // SOCKS 4 carries an address: the name is looked up here.
    UseSocks(socks.Port(), "4");
    ExpectDownloaded("localhost");
    EXPECT_EQ(socksEvents, (std::vector<std::string>{"connected 0"}));
}

TEST_F(SocksDownloadTest, NamesGoToTheSocksServerAtLevels5And4A) {
    test_support::ScriptedSocksServer socks({.names = {{"podcasts.invalid", "127.0.0.1"}}});
    // An empty level is the socket's own, SOCKS 5, without a complaint.
    for (const std::string level : {"5", "4A", ""}) {
        SCOPED_TRACE("level " + level);
        UseSocks(socks.Port(), level);
        ExpectDownloaded("podcasts.invalid");
        ASSERT_FALSE(socks.Requests().empty());
        EXPECT_EQ(socks.Requests().back().host, "podcasts.invalid");
        EXPECT_NE(server.Requests().back().raw.find("\r\nHost: podcasts.invalid:"),
                  std::string::npos);
    }
    EXPECT_EQ(socksEvents, (std::vector<std::string>(3, "connected 0")));

    // SOCKS 4 needs the address, which the local resolver cannot give.
    std::size_t requests = socks.Requests().size();
    UseSocks(socks.Port(), "4");
    EXPECT_TRUE(h.Get("http://podcasts.invalid/episode.mp3").raised);
    EXPECT_EQ(h.cli.StatusReason(), "can't resolve hostname to IP address");
    EXPECT_EQ(socks.Requests().size(), requests);
}

}  // namespace
