// https with real servers on 127.0.0.1: nginx with a certificate of the test CA, a scripted TLS
// server where the server must misbehave, and tinyproxy or a scripted proxy for CONNECT.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/http/client_harness.h"
#include "tests/support/server_process.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

namespace {

using namespace test_support;

std::string Episode() {
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    return bytes;
}

// A TLS nginx serving ep.mp3, with relocations: /hop to /ep.mp3 (absolute path), /rel to ep.mp3
// (relative) and /down to an http server given later.
class HttpsTest : public ::testing::Test {
  protected:
    HttpsTest() {
        WriteTextFile(www / "ep.mp3", episode);
        h.cli.SslExtraCaFile = Certificates().caFile;
    }

    int CountTraces(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(h.cli.traceLines.begin(), h.cli.traceLines.end(),
                          [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
    }

    const std::string episode = Episode();
    TempFolder www{"pd_https_www"};
    ScriptedHttpServer plain;
    LocalNginx tls{www.Path(),
                   "    absolute_redirect off;\n"
                   "    keepalive_timeout 30;\n"
                   "    location = /hop { return 302 /ep.mp3; }\n"
                   "    location = /rel { return 302 ep.mp3; }\n"
                   "    location = /down { return 302 " +
                       plain.Url("/plain.mp3") + "; }\n",
                   Certificates().server.certificateFile, Certificates().server.keyFile};
    ClientHarness h;
};

TEST_F(HttpsTest, DownloadsByteEqualAndKeepsTheConnectionForTheNextRequest) {
    h.cli.SetRequestVer("1.1");
    GetOutcome first = h.Get(tls.Url("/ep.mp3"));
    ASSERT_FALSE(first.raised) << first.message;
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_TRUE(h.body.Data() == episode);
    EXPECT_EQ(h.cli.CtrlSocket().State(), wsConnected);

    GetOutcome second = h.Get(tls.Url("/ep.mp3"));
    ASSERT_FALSE(second.raised) << second.message;
    EXPECT_EQ(h.body.Data().size(), 2 * episode.size());
    EXPECT_EQ(CountTraces("connect to "), 1);
}

TEST_F(HttpsTest, FollowsRelocationsBetweenHttpAndHttps) {
    LocalNginx tracker(www.Path(),
                       "    location = /track { return 302 " + tls.Url("/hop") + "; }\n");
    plain.AddConnection(NormalResponse(200, "plain episode"));
    struct Case {
        std::string url;
        std::string body;
        int relocations;  // a new connection counts twice
    } cases[] = {
        {tracker.Url("/track"), episode, 4},  // http, then https with an absolute path
        {tls.Url("/rel"), episode, 2},        // relative, on https
        {tls.Url("/down"), "plain episode", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        h.body.SetSize(0);
        GetOutcome outcome = h.Get(c.url);
        ASSERT_FALSE(outcome.raised) << outcome.message;
        EXPECT_EQ(h.cli.StatusCode(), 200);
        EXPECT_TRUE(h.body.Data() == c.body);
        EXPECT_EQ(h.cli.LocationChangeCurCount(), c.relocations);
    }
    ASSERT_EQ(plain.Requests().size(), 1u);
    EXPECT_NE(plain.Requests()[0].raw.find("Host: 127.0.0.1:" + std::to_string(plain.Port())),
              std::string::npos);
}

TEST_F(HttpsTest, ThroughTheProxyByConnect) {
    LocalTinyproxy proxy;
    h.cli.Proxy = "127.0.0.1";
    h.cli.ProxyPort = std::to_string(proxy.Port());
    for (const std::string path : {"/ep.mp3", "/hop"}) {
        SCOPED_TRACE(path);
        h.body.SetSize(0);
        GetOutcome outcome = h.Get(tls.Url(path));
        ASSERT_FALSE(outcome.raised) << outcome.message;
        EXPECT_TRUE(h.body.Data() == episode);
    }
    // With the limit the proxy's answer to CONNECT is read in a period of its own.
    h.cli.SetOptions({httpoBandwidthControl});
    h.cli.BandwidthLimit = 100000000;
    h.cli.BandwidthSampling = 100;
    h.body.SetSize(0);
    GetOutcome limited = h.Get(tls.Url("/ep.mp3"));
    ASSERT_FALSE(limited.raised) << limited.message;
    EXPECT_TRUE(h.body.Data() == episode);
}

// A relocation through the proxy between http and https changes how the proxy is used: a tunnel
// for https, none for http.
TEST_F(HttpsTest, RelocationsThroughTheProxyTakeTheNewScheme) {
    LocalTinyproxy proxy;
    h.cli.Proxy = "127.0.0.1";
    h.cli.ProxyPort = std::to_string(proxy.Port());
    plain.AddConnection(NormalResponse(200, "plain episode"));
    GetOutcome down = h.Get(tls.Url("/down"));
    ASSERT_FALSE(down.raised) << down.message;
    EXPECT_EQ(h.body.Data(), "plain episode");

    plain.AddConnection(RedirectResponse(302, tls.Url("/ep.mp3")));
    h.body.SetSize(0);
    GetOutcome up = h.Get(plain.Url("/up"));
    ASSERT_FALSE(up.raised) << up.message;
    EXPECT_TRUE(h.body.Data() == episode);
    EXPECT_EQ(plain.Requests().size(), 2u);
}

// The session starts once the SOCKS server has connected, and the name it looked up is the one
// the certificate is checked against.
TEST_F(HttpsTest, ThroughSocks5WithTheServerLookingUpTheName) {
    LocalMicrosocks socks;
    h.cli.SocksServer = "127.0.0.1";
    h.cli.SocksPort = std::to_string(socks.Port());
    h.cli.SocksLevel = "5";
    int socksConnects = 0;
    h.cli.OnSocksConnected = [&](THttpCli*, std::uint16_t error) { socksConnects += error == 0; };
    GetOutcome outcome = h.Get("https://localhost:" + std::to_string(tls.Port()) + "/hop");
    ASSERT_FALSE(outcome.raised) << outcome.message;
    EXPECT_TRUE(h.body.Data() == episode);
    EXPECT_EQ(socksConnects, CountTraces("connect to "));
    EXPECT_GE(socksConnects, 1);
}

// The refusal is the answer, its page the document, as for a request the proxy refuses over http;
// an interim answer before it is passed over.
TEST(HttpsProxyTest, RefusedConnectEndsWithTheProxyAnswer) {
    ScriptedHttpServer proxy;
    ScriptedResponse refusal = NormalResponse(403, "no tunnels here");
    refusal.pieces.insert(refusal.pieces.begin(), {"HTTP/1.1 100 Continue\r\n\r\n"});
    proxy.AddConnection(refusal);
    ClientHarness h;
    h.cli.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    GetOutcome outcome = h.Get("https://podcasts.example/ep.mp3");
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.errorNumber, 403);
    EXPECT_EQ(h.cli.StatusCode(), 403);
    EXPECT_EQ(h.body.Data(), "no tunnels here");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].raw,
              "CONNECT podcasts.example:443 HTTP/1.1\r\nHost: podcasts.example:443\r\n"
              "User-Agent: " +
                  h.cli.Agent + "\r\n\r\n");
    EXPECT_EQ(h.requestDoneCount, 1);
}

// The client trusts the test CA and reaches https servers through the proxy as "me", "secret".
void UseProxyWithCredentials(ClientHarness& h, const LocalTinyproxy& proxy) {
    h.cli.SslExtraCaFile = Certificates().caFile;
    h.cli.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
    h.cli.ProxyUsername = "me";
    h.cli.ProxyPassword = "secret";
}

// Sent with the first CONNECT, or with a second one when the proxy's challenge asks for them; its
// refusal page is no part of the episode.
TEST(HttpsProxyTest, ProxyCredentialsGoWithTheConnectOnly) {
    LocalTinyproxy proxy("BasicAuth me secret");
    for (THttpAuthScheme scheme : {httpSchemeBasic, httpSchemeNone}) {
        SCOPED_TRACE(scheme);
        TlsTestServer origin(Certificates().server);
        origin.AddConnection({"HTTP/1.0 200 OK\r\n\r\nthrough"});
        ClientHarness h;
        UseProxyWithCredentials(h, proxy);
        h.cli.ProxyAuthScheme = scheme;
        GetOutcome outcome = h.Get(origin.Url("/ep.mp3"));
        ASSERT_FALSE(outcome.raised) << outcome.message;
        EXPECT_EQ(h.body.Data(), "through");
        ASSERT_EQ(origin.Requests().size(), 1u);
        EXPECT_TRUE(origin.Requests()[0].starts_with("GET /ep.mp3 HTTP/1.0\r\n"));
        EXPECT_EQ(origin.Requests()[0].find("Proxy-"), std::string::npos);
    }
}

// Once the tunnel is open the proxy side is done: a pre-armed NTLM exchange with the proxy does not
// hold back the server's own credentials inside it.
TEST(HttpsProxyTest, AnOpenTunnelEndsTheProxySideOfAuthentication) {
    LocalTinyproxy proxy;
    TlsTestServer origin(Certificates().server);
    origin.AddConnection({"HTTP/1.0 200 OK\r\n\r\nthrough"});
    ClientHarness h;
    UseProxyWithCredentials(h, proxy);
    h.cli.ProxyAuthScheme = httpSchemeNtlm;
    h.cli.Username = "user";
    h.cli.Password = "pass";
    h.cli.ServerAuthScheme = httpSchemeBasic;
    GetOutcome outcome = h.Get(origin.Url("/ep.mp3"));
    ASSERT_FALSE(outcome.raised) << outcome.message;
    ASSERT_EQ(origin.Requests().size(), 1u);
    EXPECT_NE(origin.Requests()[0].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"),
              std::string::npos);
    EXPECT_EQ(h.cli.ProxyAuthNtlmState(), ntlmFinished);
}

TEST(HttpsFailureTest, FailedSessionsEndLikeAFailedConnect) {
    const auto& certificates = Certificates();
    struct Case {
        const char* label;
        const CertificateAndKey& identity;
        TlsScript script;
        std::string host;
        bool trustTestCa;
        std::string reason;
    } cases[] = {
        {"untrusted CA",
         certificates.server,
         {},
         "127.0.0.1",
         false,
         "certificate verify failed: unable to get local issuer certificate"},
        {"expired",
         certificates.expired,
         {},
         "127.0.0.1",
         true,
         "certificate verify failed: certificate has expired"},
        {"wrong host",
         certificates.wrongHost,
         {},
         "localhost",
         true,
         "certificate verify failed: host name mismatch"},
        {"garbage instead of a ServerHello",
         certificates.server,
         {"HTTP/1.0 200 OK\r\n\r\nplain", TlsEnding::CloseNotify, true},
         "127.0.0.1",
         true,
         "wrong version number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TlsTestServer server(c.identity);
        server.AddConnection(c.script);
        ClientHarness h;
        if (c.trustTestCa) h.cli.SslExtraCaFile = certificates.caFile;
        GetOutcome outcome =
            h.Get("https://" + c.host + ":" + std::to_string(server.Port()) + "/ep.mp3");
        EXPECT_TRUE(outcome.raised);
        EXPECT_EQ(outcome.errorNumber, 404);
        EXPECT_EQ(outcome.message, c.reason);
        EXPECT_EQ(h.body.Data(), "");
        EXPECT_EQ(h.EventsStartingWith("SessionConnected").size(), 1u);
        EXPECT_EQ(h.requestDoneCount, 1);
    }
}

TEST(HttpsFailureTest, BodyEndsAreCheckedAgainstCloseNotify) {
    struct Case {
        const char* label;
        std::string response;
        TlsEnding ending;
        bool cutShort;
    } cases[] = {
        {"chunked, in order",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
         TlsEnding::CloseNotify, false},
        {"known length, cut", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhello world",
         TlsEnding::CutWithoutNotify, true},
        {"read to the end, closed in order", "HTTP/1.0 200 OK\r\n\r\nhello world",
         TlsEnding::CloseNotify, false},
        {"read to the end, cut", "HTTP/1.0 200 OK\r\n\r\nhello world", TlsEnding::CutWithoutNotify,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TlsTestServer server(Certificates().server);
        server.AddConnection({c.response, c.ending});
        ClientHarness h;
        h.cli.SslExtraCaFile = Certificates().caFile;
        GetOutcome outcome = h.Get(server.Url("/ep.mp3"));
        EXPECT_EQ(h.body.Data(), "hello world");
        EXPECT_EQ(outcome.raised, c.cutShort);
        if (c.cutShort) {
            EXPECT_EQ(outcome.errorNumber, httpErrDocumentCutShort);
        }
    }
}

TEST(HttpsAbortTest, DuringTheHandshake) {
    ScriptedHttpServer server;  // takes the ClientHello as the start of a request, never answers
    server.AddConnection(StalledResponse());
    ClientHarness h;
    h.cli.URL = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
    h.cli.StartRequest(httpRqGet);
    ASSERT_TRUE(h.RunUntil([&] { return server.AcceptedConnections() > 0; }));
    h.RunUntil([] { return false; }, 50ms);
    h.cli.Abort();
    EXPECT_TRUE(h.RunUntil([&] { return h.requestDoneCount > 0; }));
    h.RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(h.requestDoneCount, 1);
    EXPECT_EQ(h.lastErrCode, httpErrAborted);
    EXPECT_EQ(h.cli.StatusReason(), "Connection aborted on request");
    EXPECT_TRUE(h.EventsStartingWith("SessionConnected").empty());
}

}  // namespace

namespace {

// A host known only by its IPv6 address: nginx on [::1] alone, over TLS and in plain http, the
// latter also playing a proxy (it serves a request line's absolute address by its path).
class IPv6ServerTest : public ::testing::Test {
  protected:
    IPv6ServerTest() {
        WriteTextFile(www / "ep.mp3", episode);
        h.cli.SslExtraCaFile = Certificates().caFile;
        // The connection stays open, so that its peer can be asked for.
        h.cli.SetRequestVer("1.1");
    }
    const std::string episode = Episode();
    TempFolder www{"pd_ipv6_www"};
    const std::string hostEcho = "    location = /host { return 200 $http_host; }\n";
    LocalNginx tls{www.Path(), hostEcho, Certificates().server.certificateFile,
                   Certificates().server.keyFile, "::1"};
    LocalNginx plain{www.Path(), hostEcho, "", "", "::1"};
    ClientHarness h;
};

TEST_F(IPv6ServerTest, HttpsDownloadIsByteEqualAndNamesTheHostInBrackets) {
    GetOutcome got = h.Get(tls.Url("/ep.mp3"));
    ASSERT_FALSE(got.raised) << got.message;
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_TRUE(h.body.Data() == episode);
    EXPECT_EQ(h.cli.CtrlSocket().PeerAddr(), "::1");

    h.body.Clear();
    got = h.Get(tls.Url("/host"));
    ASSERT_FALSE(got.raised) << got.message;
    EXPECT_EQ(h.body.Data(), "[::1]:" + std::to_string(tls.Port()));
}

TEST_F(IPv6ServerTest, ProxyGivenByItsIPv6AddressIsReached) {
    const std::string port = std::to_string(plain.Port());
    for (const std::string proxy : {"[::1]:" + port, "http://[::1]:" + port, std::string("::1")}) {
        SCOPED_TRACE(proxy);
        h.cli.Proxy = proxy;
        h.cli.ProxyPort = port;
        h.body.Clear();
        GetOutcome got = h.Get("http://episodes.example/ep.mp3");
        ASSERT_FALSE(got.raised) << got.message;
        EXPECT_TRUE(h.body.Data() == episode);
        EXPECT_EQ(h.cli.CtrlSocket().PeerAddr(), "::1");
    }
}

}  // namespace
