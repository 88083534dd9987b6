// https behaviours that only show across requests or on the wire: a session cut without
// close_notify leaves nothing behind for the next one, credentials do not go in clear after a
// secure address relocates to a plain one, a proxy's refusal of CONNECT is never followed, the
// host name is what the certificate is checked against and what the server is told, and the
// bandwidth limit holds inside TLS, through a tunnel too.
#include <gtest/gtest.h>

#include "tests/http/client_harness.h"
#include "tests/support/server_process.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

namespace {

using namespace test_support;

class PinnedHttpsTest : public ::testing::Test {
  protected:
    PinnedHttpsTest() { h.cli.SslExtraCaFile = Certificates().caFile; }
    ClientHarness h;
};

TEST_F(PinnedHttpsTest, ASessionCutWithoutCloseNotifyLeavesTheNextOneWhole) {
    TlsTestServer server(Certificates().server);
    server.AddConnection({"HTTP/1.0 200 OK\r\n\r\ncut", TlsEnding::CutWithoutNotify});
    server.AddConnection({"HTTP/1.0 200 OK\r\n\r\nwhole"});
    GetOutcome cut = h.Get(server.Url("/cut.mp3"));
    EXPECT_EQ(cut.errorNumber, httpErrDocumentCutShort);
    h.body.SetSize(0);
    GetOutcome next = h.Get(server.Url("/next.mp3"));
    EXPECT_FALSE(next.raised) << next.message;
    EXPECT_EQ(h.body.Data(), "whole");
    EXPECT_EQ(server.Requests().size(), 2u);
}

// The user's credentials, pre-armed or not, and those the plain address carries itself: none of
// them goes to the plain server, and its challenge ends the request.
TEST_F(PinnedHttpsTest, NoBasicCredentialsInClearAfterARelocationFromHttps) {
    for (bool preArmed : {false, true}) {
        SCOPED_TRACE(preArmed ? "pre-armed" : "on the challenge");
        ScriptedHttpServer plain;
        plain.AddConnection(
            NormalResponse(401, "who?", {{"WWW-Authenticate", "Basic realm=\"x\""}}));
        plain.AddConnection(NormalResponse(200, "sent in clear"));
        TlsTestServer secure(Certificates().server);
        secure.AddConnection({"HTTP/1.1 302 Found\r\nLocation: http://own:pw@127.0.0.1:" +
                              std::to_string(plain.Port()) +
                              "/ep.mp3\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"});
        ClientHarness client;
        client.cli.SslExtraCaFile = Certificates().caFile;
        client.cli.Username = "user";
        client.cli.Password = "pass";
        if (preArmed) client.cli.ServerAuthScheme = httpSchemeBasic;
        client.Get(secure.Url("/ep.mp3"));
        ASSERT_EQ(plain.Requests().size(), 1u);
        EXPECT_EQ(plain.Requests()[0].raw.find("Authorization"), std::string::npos)
            << plain.Requests()[0].raw;
        EXPECT_EQ(client.cli.StatusCode(), 401);
        EXPECT_EQ(client.requestDoneCount, 1);
    }
}

TEST_F(PinnedHttpsTest, AProxyRefusingConnectWithARelocationIsNotFollowed) {
    ScriptedHttpServer proxy;
    proxy.AddConnection(RedirectResponse(302, "http://podcasts.example/elsewhere.mp3"));
    proxy.AddConnection(NormalResponse(200, "followed"));
    h.cli.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    h.Get("https://podcasts.example/ep.mp3");
    EXPECT_EQ(h.cli.StatusCode(), 302);
    EXPECT_EQ(h.body.Data(), "");
    EXPECT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(h.requestDoneCount, 1);
}

// The server hosts two names and picks the certificate by the name the client sends; the one for
// localhost names no address. Checking the address, or sending no name, fails the download.
TEST_F(PinnedHttpsTest, TheHostNameIsSentAndChecked) {
    TlsTestServer server(Certificates().wrongHost, "localhost", Certificates().namedOnly);
    server.AddConnection({"HTTP/1.0 200 OK\r\n\r\nfor localhost"});
    GetOutcome outcome = h.Get("https://localhost:" + std::to_string(server.Port()) + "/ep.mp3");
    EXPECT_FALSE(outcome.raised) << outcome.message;
    EXPECT_EQ(h.body.Data(), "for localhost");
}

// 10000 bytes per period of a quarter second, as in the plain case; up to each tick at most the
// allowance of the periods so far plus the one read that passed it. Over HTTP/1.1 nginx keeps the
// connection; over 1.0 it closes right after sending, and what the session holds at the close is
// still read at the limit. Through the proxy the answer to CONNECT is read under the limit too.
TEST_F(PinnedHttpsTest, TheBandwidthLimitHoldsInsideTlsDirectAndThroughATunnel) {
    const std::string episode(30000, 'b');
    TempFolder www("pd_bandwidth_www");
    WriteTextFile(www / "ep.mp3", episode);
    LocalNginx server(www.Path(), "    keepalive_timeout 30;\n",
                      Certificates().server.certificateFile, Certificates().server.keyFile);
    LocalTinyproxy proxy;
    const struct {
        bool tunnel;
        const char* version;
    } cases[] = {{false, "1.1"}, {false, "1.0"}, {true, "1.1"}, {true, "1.0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.tunnel ? "tunnel, " : "direct, ") + c.version);
        ClientHarness client;
        client.cli.SslExtraCaFile = Certificates().caFile;
        if (c.tunnel) {
            client.cli.Proxy = "127.0.0.1";
            client.cli.ProxyPort = std::to_string(proxy.Port());
        }
        client.cli.SetRequestVer(c.version);
        client.cli.SetOptions({httpoBandwidthControl});
        client.cli.BandwidthLimit = 40000;
        client.cli.BandwidthSampling = 250;
        GetOutcome outcome = client.Get(server.Url("/ep.mp3"));
        ASSERT_FALSE(outcome.raised) << outcome.message;
        EXPECT_TRUE(client.body.Data() == episode);
        const auto& counts = client.cli.bodyCountAtTick;
        for (std::size_t i = 0; i < counts.size(); ++i)
            EXPECT_LE(counts[i], static_cast<std::int64_t>(i + 1) * 10000 + 8190) << "tick " << i;
        EXPECT_GE(counts.size(), 2u);
    }
}

}  // namespace
