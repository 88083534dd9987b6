// Content coding: the "Accept-Encoding" line the options give, the handler behind Options, and
// bodies in codings that are not decoded delivered as received.
#include <gtest/gtest.h>

#include "http/content_coding.h"
#include "tests/http/client_harness.h"

using test_support::AfterResponse;
using test_support::NormalResponse;

namespace {

std::string AcceptEncodingLine(const std::string& request) {
    auto start = request.find("Accept-Encoding: ");
    if (start == std::string::npos) return "";
    return request.substr(start, request.find("\r\n", start) - start);
}

TEST_F(HttpClientTest, AcceptEncodingFollowsTheOptionsAndHeadCarriesNone) {
    struct Case {
        THttpCliOptions options;
        THttpRequest request;
        std::string line;
    };
    const Case cases[] = {
        {{}, httpRqGet, ""},
        {{httpoEnableContentCoding}, httpRqGet, ""},  // both codings have quality 0
        {{httpoUseQuality}, httpRqGet, ""},           // switched off as a whole
        {{httpoEnableContentCoding, httpoUseQuality},
         httpRqGet,
         "Accept-Encoding: identity;q=0, *;q=0"},
        {{httpoEnableContentCoding, httpoUseQuality}, httpRqHead, ""},
    };
    std::vector<test_support::ScriptedResponse> script;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto response = NormalResponse(200, "x", {{"Connection", "keep-alive"}});
        response.after = AfterResponse::KeepOpen;
        script.push_back(response);
    }
    server.AddConnection(script);
    h.cli.SetRequestVer("1.1");
    h.cli.URL = server.Url("/");
    for (const Case& c : cases) {
        h.cli.SetOptions(c.options);
        EXPECT_EQ(h.cli.Options(), c.options);
        h.cli.RunRequest(c.request);
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(AcceptEncodingLine(requests[i].raw), cases[i].line) << "case " << i;
    // The line stands between Accept-Language's place and the agent's.
    EXPECT_NE(requests[3].raw.find("\r\nAccept-Encoding: identity;q=0, *;q=0\r\nUser-Agent: "),
              std::string::npos);
}

TEST_F(HttpClientTest, BodiesInAnyCodingAreDeliveredAsReceived) {
    const std::string codings[] = {"gzip", "identity", "gzip, identity", "\"x-y, z\" *"};
    const THttpCliOptions optionSets[] = {{}, {httpoEnableContentCoding}};
    std::vector<test_support::ScriptedResponse> script;
    for (std::size_t i = 0; i < std::size(codings) * std::size(optionSets); ++i) {
        auto response = NormalResponse(
            200, "coded", {{"Content-Encoding", codings[i / 2]}, {"Connection", "keep-alive"}});
        response.after = AfterResponse::KeepOpen;
        script.push_back(response);
    }
    server.AddConnection(script);
    h.cli.SetRequestVer("1.1");
    for (const std::string& coding : codings) {
        for (THttpCliOptions options : optionSets) {
            h.body.Clear();
            h.cli.SetOptions(options);
            EXPECT_FALSE(h.Get(server.Url("/")).raised) << coding;
            EXPECT_EQ(h.body.Data(), "coded") << coding;
        }
    }
    EXPECT_TRUE(h.HasTrace("identity content uncompressed from 5 bytes to 5 bytes"));
}

TEST(ContentCodingHandlerTest, QualityValuesAndNamesInTheHeader) {
    platform::Stream* noStream = nullptr;
    THttpContCodHandler handler(&noStream, [](const char*, int) {});
    handler.SetEnabled(true);
    handler.Items()[0].quality = 0.5f;
    handler.Items()[1].quality = 1.0f / 3;
    EXPECT_EQ(handler.HeaderText(), "identity, *");
    handler.SetUseQuality(true);
    EXPECT_EQ(handler.HeaderText(), "identity;q=0.5, *;q=0.333");
    handler.SetEnabled(false);
    EXPECT_EQ(handler.HeaderText(), "");

    EXPECT_EQ(TContCodingsList::Instance().Find("IDENTITY")->coding, "identity");
    EXPECT_EQ(TContCodingsList::Instance().Find("gzip"), nullptr);
}

}  // namespace
