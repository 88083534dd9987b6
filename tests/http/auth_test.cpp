// Answers to 401 and 407, checked on the wire against scripted servers: the exact Authorization
// lines, the number of requests and connections, the refusal's body kept out of the document, and
// credentials that never follow a relocation to another server. The NTLM type-3 message is
// checked against the published NTLMv1 example, not against our own codecs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "auth/base64.h"
#include "platform/message_loop.h"
#include "tests/http/client_harness.h"

using test_support::AfterResponse;
using test_support::HeaderList;
using test_support::NormalResponse;
using test_support::RecordedRequest;
using test_support::ScriptedHttpServer;
using test_support::ScriptedResponse;

namespace {

// The published NTLMv1 example: password "SecREt01", server challenge 0123456789abcdef.
const std::string kExamplePassword = "SecREt01";
const std::string kExampleType2 = "TlRMTVNTUAACAAAAAAAAAAAAAAAAAAAAASNFZ4mrze8AAAAAAAAAAA==";
const std::string kExampleLmResponse = "c337cd5cbd44fc9782a667af6d427c6de67c20c2d3e77c56";
const std::string kExampleNtResponse = "25a98c1c31e81847466b29b2df4680f39958fb8c213a9cc6";
// The type-1 message with no names: flags 0x8207.
const std::string kType1 = "NTLM TlRMTVNTUAABAAAAB4IAAAAAAAAAAAAAAAAAAAAAAAA=";

// The value of the named header line of a request; "(none)" when it has none.
std::string HeaderOf(const RecordedRequest& request, const std::string& name) {
    const std::string head = request.raw.substr(0, request.raw.find("\r\n\r\n") + 2);
    auto start = head.find("\r\n" + name + ": ");
    if (start == std::string::npos) return "(none)";
    start += name.size() + 4;
    return head.substr(start, head.find("\r\n", start) - start);
}

// A refusal with the given challenges, closing the connection or keeping it.
ScriptedResponse Refusal(int status, const std::vector<std::string>& challenges, bool keepOpen,
                         const std::string& body = "<html>refused</html>") {
    HeaderList headers;
    for (const auto& challenge : challenges)
        headers.push_back({status == 407 ? "Proxy-Authenticate" : "WWW-Authenticate", challenge});
    if (keepOpen) headers.push_back({"Connection", "keep-alive"});
    ScriptedResponse response = NormalResponse(status, body, headers);
    if (keepOpen) response.after = AfterResponse::KeepOpen;
    return response;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::uint32_t Field32(const std::string& message, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(message[offset + i]);
    return value;
}

// The type-3 message of an "NTLM <base64>" header answers the published example for user.
void ExpectExampleType3(const std::string& header, const std::string& user) {
    ASSERT_EQ(header.substr(0, 5), "NTLM ");
    const std::string message = DecodeFromBase64(header.substr(5));
    ASSERT_GE(message.size(), 64u);
    EXPECT_EQ(message.substr(0, 12), std::string("NTLMSSP\0\3\0\0\0", 12));
    EXPECT_EQ(Hex(message.substr(Field32(message, 16), 24)), kExampleLmResponse);
    EXPECT_EQ(Hex(message.substr(Field32(message, 24), 24)), kExampleNtResponse);
    std::string wideUser;
    for (char c : user)
        wideUser += std::string{c, '\0'};
    EXPECT_EQ(message.substr(Field32(message, 40), wideUser.size()), wideUser);
}

template <typename Step>
void ExpectStateFault(Step step, const std::string& message) {
    try {
        step();
        ADD_FAILURE() << "no exception for " << message;
    } catch (const EHttpException& error) {
        EXPECT_EQ(error.what(), message);
        EXPECT_EQ(error.ErrorNumber, httpErrAuthState);
    }
}

class HttpAuthTest : public HttpClientTest {
  protected:
    HttpAuthTest() {
        h.cli.Username = "user";
        h.cli.Password = "pass";
    }
    RecordedRequest Request(std::size_t i) const { return server.Requests().at(i); }
    void UseServerAsProxy() {
        h.cli.Proxy = "127.0.0.1:" + std::to_string(server.Port());
        h.cli.ProxyUsername = "me";
        h.cli.ProxyPassword = "secret";
    }
};

TEST_F(HttpAuthTest, BasicChallengeIsAnsweredOnceAndItsBodyLeavesTheDocument) {
    server.AddConnection(Refusal(401, {"Basic realm=\"episodes\""}, false, "<html>who?</html>"));
    server.AddConnection(NormalResponse(200, "episode"));
    GetOutcome outcome = h.Get(server.Url("/e.mp3"));

    EXPECT_FALSE(outcome.raised) << outcome.message;
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(HeaderOf(Request(0), "Authorization"), "(none)");
    EXPECT_EQ(HeaderOf(Request(1), "Authorization"), "Basic dXNlcjpwYXNz");
    EXPECT_EQ(h.body.Data(), "episode");
    EXPECT_EQ(h.cli.BodyReceivedCount(), 7);
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_EQ(h.requestDoneCount, 1);
    EXPECT_EQ(h.cli.AuthBasicState(), basicFinished);
    EXPECT_TRUE(h.HasTrace("Starting Basic authentication"));
    ExpectStateFault([this] { h.cli.BeginServerBasic(); }, "Unexpected AuthBasicState");
}

// Whatever stops the answer, the request ends with the refusal and Get does not raise.
TEST_F(HttpAuthTest, UnansweredChallengesEndWithTheRefusal) {
    struct Case {
        const char* label;
        std::string password;
        THttpCliOptions options;
        std::size_t requests;
    };
    const Case cases[] = {
        {"wrong password", "wrong", {}, 2},
        {"no password", "", {}, 1},
        {"Basic switched off", "pass", {httpoNoBasicAuth}, 1},
    };
    for (const Case& c : cases) {
        ScriptedHttpServer refusing;
        ClientHarness client;
        client.cli.Username = "user";
        client.cli.Password = c.password;
        client.cli.SetOptions(c.options);
        refusing.AddConnection(Refusal(401, {"Basic realm=\"x\""}, false));
        refusing.AddConnection(Refusal(401, {"Basic realm=\"x\""}, false, "still no"));
        GetOutcome outcome = client.Get(refusing.Url("/"));
        EXPECT_FALSE(outcome.raised) << c.label;
        EXPECT_EQ(client.cli.StatusCode(), 401) << c.label;
        EXPECT_EQ(refusing.Requests().size(), c.requests) << c.label;
        EXPECT_EQ(client.requestDoneCount, 1) << c.label;
    }
}

TEST_F(HttpAuthTest, PrearmedBasicGoesWithTheFirstRequest) {
    server.AddConnection(NormalResponse(200, "at once"));
    h.cli.ServerAuthScheme = httpSchemeBasic;
    h.cli.SetOptions({httpoNoBasicAuth});  // the chosen scheme is allowed all the same
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(HeaderOf(Request(0), "Authorization"), "Basic dXNlcjpwYXNz");
    EXPECT_EQ(h.cli.AuthBasicState(), basicFinished);
}

TEST_F(HttpAuthTest, NtlmRunsOnOneKeptConnectionAndAnswersThePublishedExample) {
    h.cli.Password = kExamplePassword;
    server.AddConnection({Refusal(401, {"NTLM"}, true),
                          Refusal(401, {"NTLM " + kExampleType2}, true, ""),
                          NormalResponse(200, "members only")});
    GetOutcome outcome = h.Get(server.Url("/doc"));

    EXPECT_FALSE(outcome.raised) << outcome.message;
    ASSERT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(server.AcceptedConnections(), 1);
    EXPECT_EQ(HeaderOf(Request(0), "Authorization"), "(none)");
    EXPECT_EQ(HeaderOf(Request(1), "Authorization"), kType1);
    EXPECT_EQ(HeaderOf(Request(1), "Connection"), "Keep-alive");
    ExpectExampleType3(HeaderOf(Request(2), "Authorization"), "user");
    EXPECT_EQ(h.body.Data(), "members only");
    EXPECT_EQ(h.cli.AuthNtlmState(), ntlmFinished);
    EXPECT_EQ(h.requestDoneCount, 1);
    ExpectStateFault([this] { h.cli.BeginServerNtlm(); }, "Unexpected AuthNTLMState");
}

// The type-3 message answers one challenge: a relocation on the authenticated connection must not
// send it again.
TEST_F(HttpAuthTest, NtlmIsNotRepeatedOnARelocationOnTheAuthenticatedConnection) {
    h.cli.Password = kExamplePassword;
    server.AddConnection(
        {Refusal(401, {"NTLM"}, true), Refusal(401, {"NTLM " + kExampleType2}, true, ""),
         test_support::RawResponse("HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n"
                                   "Connection: keep-alive\r\n\r\n",
                                   AfterResponse::KeepOpen),
         NormalResponse(200, "members only")});
    GetOutcome outcome = h.Get(server.Url("/doc"));

    EXPECT_FALSE(outcome.raised) << outcome.message;
    ASSERT_EQ(server.Requests().size(), 4u);
    EXPECT_EQ(server.AcceptedConnections(), 1);
    EXPECT_EQ(HeaderOf(Request(3), "Authorization"), "(none)");
    EXPECT_EQ(h.body.Data(), "members only");
    EXPECT_EQ(h.cli.AuthNtlmState(), ntlmFinished);
}

TEST_F(HttpAuthTest, NtlmIsTriedBeforeTheOtherOfferedSchemes) {
    const std::vector<std::vector<std::string>> offers = {
        {"Negotiate", "NTLM"}, {"NTLM", "Basic realm=\"x\""}, {"Basic realm=\"x\"", "ntlm"}};
    for (const auto& offer : offers) {
        ScriptedHttpServer offering;
        ClientHarness client;
        client.cli.Username = "user";
        client.cli.Password = "pass";
        offering.AddConnection({Refusal(401, offer, true), NormalResponse(200, "ok")});
        EXPECT_FALSE(client.Get(offering.Url("/")).raised);
        ASSERT_EQ(offering.Requests().size(), 2u) << offer[0];
        EXPECT_EQ(HeaderOf(offering.Requests()[1], "Authorization"), kType1) << offer[0];
    }
}

TEST_F(HttpAuthTest, ServerClosingAfterTheChallengeRefusesTheAnswerOnTheNewConnection) {
    server.AddConnection(
        {Refusal(401, {"NTLM"}, true), Refusal(401, {"NTLM " + kExampleType2}, false)});
    server.AddConnection(Refusal(401, {"NTLM"}, false, "not on this connection"));
    GetOutcome outcome = h.Get(server.Url("/"));

    EXPECT_FALSE(outcome.raised);
    ASSERT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(Request(2).connection, 1);
    EXPECT_EQ(HeaderOf(Request(2), "Authorization").substr(0, 8), "NTLM TlR");
    EXPECT_EQ(h.cli.StatusCode(), 401);
    EXPECT_EQ(h.cli.AuthNtlmState(), ntlmIdle);
    EXPECT_EQ(h.body.Data(), "not on this connection");
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpAuthTest, ProxyBasicChallengeIsAnsweredWithTheProxyCredentials) {
    UseServerAsProxy();
    server.AddConnection(Refusal(407, {"Basic realm=\"proxy\""}, false));
    server.AddConnection(NormalResponse(200, "through"));
    EXPECT_FALSE(h.Get("http://example.org/e.mp3").raised);

    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(HeaderOf(Request(1), "Proxy-Authorization"), "Basic bWU6c2VjcmV0");
    EXPECT_EQ(HeaderOf(Request(1), "Authorization"), "(none)");
    EXPECT_EQ(h.body.Data(), "through");
    EXPECT_EQ(h.cli.ProxyAuthBasicState(), basicFinished);
    ExpectStateFault([this] { h.cli.BeginProxyBasic(); }, "Unexpected ProxyAuthBasicState");
}

// A proxy asks for Basic credentials with every request, on a kept connection too.
TEST_F(HttpAuthTest, PrearmedProxyBasicGoesWithEveryRequestOnAKeptConnection) {
    UseServerAsProxy();
    h.cli.ProxyAuthScheme = httpSchemeBasic;
    h.cli.SetRequestVer("1.1");
    ScriptedResponse first = NormalResponse(200, "one", {{"Connection", "keep-alive"}});
    first.after = AfterResponse::KeepOpen;
    server.AddConnection({first, NormalResponse(200, "two")});
    EXPECT_FALSE(h.Get("http://example.org/1.mp3").raised);
    EXPECT_FALSE(h.Get("http://example.org/2.mp3").raised);

    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.AcceptedConnections(), 1);
    EXPECT_EQ(HeaderOf(Request(0), "Proxy-Authorization"), "Basic bWU6c2VjcmV0");
    EXPECT_EQ(HeaderOf(Request(1), "Proxy-Authorization"), "Basic bWU6c2VjcmV0");
}

TEST_F(HttpAuthTest, ProxyNtlmRunsOnOneKeptConnection) {
    UseServerAsProxy();
    h.cli.ProxyUsername = "proxyuser";
    h.cli.ProxyPassword = kExamplePassword;
    server.AddConnection({Refusal(407, {"NTLM"}, true),
                          Refusal(407, {"NTLM " + kExampleType2}, true, ""),
                          NormalResponse(200, "through")});
    EXPECT_FALSE(h.Get("http://example.org/e.mp3").raised);

    ASSERT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(server.AcceptedConnections(), 1);
    EXPECT_EQ(HeaderOf(Request(1), "Proxy-Authorization"), kType1);
    EXPECT_EQ(HeaderOf(Request(1), "Proxy-Connection"), "Keep-alive");
    ExpectExampleType3(HeaderOf(Request(2), "Proxy-Authorization"), "proxyuser");
    EXPECT_EQ(HeaderOf(Request(2), "Authorization"), "(none)");
    EXPECT_EQ(h.body.Data(), "through");
    EXPECT_EQ(h.cli.ProxyAuthNtlmState(), ntlmFinished);
    ExpectStateFault([this] { h.cli.BeginProxyNtlm(); }, "Unexpected ProxyAuthNTLMState");
}

// For https the exchange runs in CONNECTs, which share the connection the tunnel then opens on.
TEST_F(HttpAuthTest, ProxyNtlmOpensATunnelOnOneKeptConnection) {
    UseServerAsProxy();
    h.cli.ProxyUsername = "proxyuser";
    h.cli.ProxyPassword = kExamplePassword;
    server.AddConnection(
        {Refusal(407, {"NTLM"}, true),
         Refusal(407, {"NTLM " + kExampleType2}, true, "<html>again</html>"),
         test_support::RawResponse("HTTP/1.1 200 Connection established\r\n\r\n")});
    GetOutcome outcome = h.Get("https://example.org/e.mp3");

    ASSERT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(server.AcceptedConnections(), 1);
    EXPECT_TRUE(Request(0).raw.starts_with("CONNECT example.org:443 HTTP/1.1\r\n"));
    EXPECT_EQ(HeaderOf(Request(1), "Proxy-Authorization"), kType1);
    EXPECT_EQ(HeaderOf(Request(1), "Proxy-Connection"), "Keep-Alive");
    ExpectExampleType3(HeaderOf(Request(2), "Proxy-Authorization"), "proxyuser");
    // The tunnel opened, with no TLS server behind it; nothing of the refusals was kept.
    EXPECT_TRUE(outcome.raised);
    EXPECT_NE(h.cli.StatusCode(), 407);
    EXPECT_EQ(h.body.Data(), "");
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpAuthTest, PostSendsItsBodyAgainOnlyWithTheType3Message) {
    platform::MemoryStream upload;
    upload.Write("field=value", 11);
    upload.Seek(0, platform::SeekOrigin::Begin);
    h.cli.UploadStream = &upload;
    h.cli.URL = server.Url("/form");
    server.AddConnection({Refusal(401, {"NTLM"}, true),
                          Refusal(401, {"NTLM " + kExampleType2}, true, ""),
                          NormalResponse(200, "posted")});
    h.cli.StartRequest(httpRqPost);
    ASSERT_TRUE(h.RunUntil([this] { return h.requestDoneCount == 1; }));

    ASSERT_EQ(server.Requests().size(), 3u);
    const char* expected[][2] = {{"11", "field=value"}, {"0", ""}, {"11", "field=value"}};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& raw = Request(i).raw;
        EXPECT_EQ(HeaderOf(Request(i), "Content-Length"), expected[i][0]) << i;
        EXPECT_EQ(raw.substr(raw.find("\r\n\r\n") + 4), expected[i][1]) << i;
    }
    EXPECT_EQ(h.body.Data(), "posted");
}

// The retry is posted while the client is ready: a cancel then must not end it as a success.
// While the retry is on its way the request is still running: a second request is refused as
// busy, and a cancel (the program's, or its watchdog's, both look at the state) ends it as aborted.
TEST_F(HttpAuthTest, AnAbortBeforeThePostedRetryEndsTheRequestAsAborted) {
    server.AddConnection(Refusal(401, {"Basic realm=\"x\""}, false));
    server.AddConnection(NormalResponse(200, "not wanted any more"));
    std::vector<THttpCliState> statesSeen;
    bool secondRefused = false;
    platform::HWND canceller = 0;
    canceller = platform::AllocateHWnd(
        [&](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) {
            // The refusal is discarded once the retry is posted; until then, look again later.
            if (h.cli.StatusCode() == 401) {
                platform::PostMessage(canceller, platform::WM_USER, 0, 0);
                return platform::LRESULT(0);
            }
            statesSeen.push_back(h.cli.State());
            try {
                h.cli.StartRequest(httpRqGet);
            } catch (const EHttpException& error) {
                secondRefused = error.ErrorNumber == httpErrBusy;
            }
            if (h.cli.State() != httpReady) h.cli.Abort();
            return platform::LRESULT(0);
        });
    h.cli.OnHeaderEnd = [&](THttpCli* cli) {
        if (cli->StatusCode() == 401) platform::PostMessage(canceller, platform::WM_USER, 0, 0);
    };
    GetOutcome outcome = h.Get(server.Url("/"));
    platform::DestroyWindow(canceller);

    ASSERT_EQ(statesSeen.size(), 1u);
    EXPECT_NE(statesSeen[0], httpReady);
    EXPECT_TRUE(secondRefused);
    ExpectAbortedOnce(h, outcome);
    EXPECT_EQ(server.Requests().size(), 1u);
}

// A relocation names any server it likes: the user's password goes only where the user sent it.
TEST_F(HttpAuthTest, CredentialsDoNotFollowARelocationToAnotherServer) {
    struct Case {
        const char* label;
        bool throughProxy;
        std::string location;  // "OTHER" stands for the other server's port
        std::string relocatedAuthorization;
    };
    const Case cases[] = {
        {"another port", false, "http://127.0.0.1:OTHER/x", "(none)"},
        {"another port with its own user", false, "http://other:pw@127.0.0.1:OTHER/x",
         "Basic b3RoZXI6cHc="},
        {"the same server", false, "/x", "Basic dXNlcjpwYXNz"},
        {"another host through the proxy", true, "http://b.example/x", "(none)"},
        {"the same host through the proxy", true, "/x", "Basic dXNlcjpwYXNz"},
    };
    for (const Case& c : cases) {
        ScriptedHttpServer first, other;
        ClientHarness client;
        client.cli.ServerAuthScheme = httpSchemeBasic;
        client.cli.Username = "user";
        client.cli.Password = "pass";
        std::string url = first.Url("/");
        if (c.throughProxy) {
            client.cli.Proxy = "127.0.0.1:" + std::to_string(first.Port());
            url = "http://a.example/";
        }
        std::string location = c.location;
        if (auto at = location.find("OTHER"); at != std::string::npos)
            location.replace(at, 5, std::to_string(other.Port()));
        first.AddConnection(test_support::RedirectResponse(302, location));
        ScriptedHttpServer& relocated = location == c.location ? first : other;
        relocated.AddConnection(Refusal(401, {"Basic realm=\"x\""}, false));
        EXPECT_FALSE(client.Get(url).raised) << c.label;

        EXPECT_EQ(first.Requests().size() + other.Requests().size(), 2u) << c.label;
        ASSERT_FALSE(relocated.Requests().empty()) << c.label;
        EXPECT_EQ(HeaderOf(first.Requests()[0], "Authorization"), "Basic dXNlcjpwYXNz") << c.label;
        EXPECT_EQ(HeaderOf(relocated.Requests().back(), "Authorization"), c.relocatedAuthorization)
            << c.label;
        // Without credentials the challenge over there is not answered either.
        EXPECT_EQ(client.cli.StatusCode(), 401) << c.label;
    }
}

}  // namespace
