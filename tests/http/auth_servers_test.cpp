// Authentication against real servers started on 127.0.0.1: nginx with auth_basic, tinyproxy with
// BasicAuth, and an NTLM server whose expected answers come from python3-impacket.
#include <gtest/gtest.h>

#include <string>

#include "tests/http/client_harness.h"
#include "tests/support/server_process.h"

namespace {

using test_support::TempFolder;

struct Attempt {
    const char* label;
    std::string password;
    int status;
    std::string body;
};

// Each password in turn from a fresh client; Get never raises for a refusal.
template <typename Configure>
void ExpectAttempts(const std::string& url, const std::vector<Attempt>& attempts,
                    Configure configure) {
    for (const Attempt& attempt : attempts) {
        ClientHarness client;
        configure(client.cli, attempt.password);
        GetOutcome outcome = client.Get(url, 10s);
        EXPECT_FALSE(outcome.raised) << attempt.label << ": " << outcome.message;
        EXPECT_EQ(client.cli.StatusCode(), attempt.status) << attempt.label;
        if (!attempt.body.empty()) {
            EXPECT_EQ(client.body.Data(), attempt.body) << attempt.label;
        }
    }
}

TEST(HttpAuthServersTest, NginxWithBasicServesTheRightPasswordOnly) {
    TempFolder site, private_;
    test_support::WriteTextFile(site / "e.mp3", "episode bytes");
    test_support::WriteBasicPasswordFile(private_ / "users", "user", "pa:ss word");
    test_support::LocalNginx nginx(site.Path(),
                                   "auth_basic \"episodes\";\n"
                                   "auth_basic_user_file " +
                                       private_ / "users" + ";\n");
    ExpectAttempts(nginx.Url("/e.mp3"),
                   {{"right", "pa:ss word", 200, "episode bytes"}, {"wrong", "pass", 401, ""}},
                   [](THttpCli& cli, const std::string& password) {
                       cli.Username = "user";
                       cli.Password = password;
                   });
}

TEST(HttpAuthServersTest, TinyproxyWithBasicAuthPassesTheRightPasswordOnly) {
    test_support::ScriptedHttpServer origin;
    origin.AddConnection(test_support::NormalResponse(200, "behind the proxy"));
    test_support::LocalTinyproxy proxy("BasicAuth me secret");
    // tinyproxy refuses wrong credentials with a 401 of its own, not with a second 407.
    ExpectAttempts(origin.Url("/e.mp3"),
                   {{"right", "secret", 200, "behind the proxy"}, {"wrong", "guess", 401, ""}},
                   [&proxy](THttpCli& cli, const std::string& password) {
                       cli.Proxy = "127.0.0.1:" + std::to_string(proxy.Port());
                       cli.ProxyUsername = "me";
                       cli.ProxyPassword = password;
                   });
}

TEST(HttpAuthServersTest, NtlmAnswersAgreeWithAnIndependentImplementation) {
    const std::uint16_t port = test_support::FreeLoopbackPort();
    std::unique_ptr<test_support::ServerProcess> server;
    try {
        // Debian's own interpreter: python3-impacket is installed for it, not for other ones.
        server = std::make_unique<test_support::ServerProcess>(
            std::vector<std::string>{"/usr/bin/python3", NTLM_SERVER_SCRIPT, std::to_string(port),
                                     "Someone", "Pass-w0rd with more than 14 bytes"},
            port);
    } catch (const std::exception& error) {
        FAIL() << "the NTLM test server did not start (is python3-impacket installed?): "
               << error.what();
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/doc";
    ExpectAttempts(url,
                   {{"right", "Pass-w0rd with more than 14 bytes", 200, "welcome Someone"},
                    {"wrong", "pass-w0rd with more than 14 bytes", 401, ""}},
                   [](THttpCli& cli, const std::string& password) {
                       cli.Username = "Someone";
                       cli.Password = password;
                   });
}

}  // namespace
