// The trace lines of one real download, written by a logger attached to the client into a file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "log/qtx_logger.h"
#include "platform/message_loop.h"
#include "tests/http/client_harness.h"
#include "tests/support/server_process.h"

using test_support::NormalResponse;

namespace {

TEST(HttpTraceLogTest, ADownloadWritesSocketAndClientLinesToTheFile) {
    test_support::ScriptedHttpServer server;
    server.AddConnection(NormalResponse(200, "hello"));
    test_support::TempFolder folder;
    TQtxLogger logger;
    logger.SetLogFileName(folder / "trace.log");
    logger.SetLogOptions(
        {loDestFile, loWsockErr, loWsockInfo, loWsockDump, loProtSpecInfo, loProtSpecDump});
    THttpCli cli;
    cli.SetQtxLogger(&logger);
    EXPECT_EQ(cli.CtrlSocket().QtxLogger(), &logger);
    platform::MemoryStream body;
    cli.BodyStream = &body;
    bool done = false;
    cli.OnRequestDone = [&done](THttpCli*, THttpRequest, std::uint16_t) { done = true; };
    cli.URL = server.Url("/");
    cli.StartRequest(httpRqGet);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        platform::WaitForInput(100);
        platform::ProcessPendingMessages();
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(body.Data(), "hello");

    std::ifstream file(folder / "trace.log", std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    const std::string port = std::to_string(server.Port());
    for (const std::string& line : std::vector<std::string>{
             "State = httpDnsLookup", "Login 127.0.0.1", "connect to 127.0.0.1/" + port,
             "TWSocket will connect to 127.0.0.1:" + port, "SessionConnected",
             "4 header lines to send", ">|HTTP/1.1 200 OK|", "End of header", "DocBegin",
             "GetBodyLineNext FBodyDataLen=5", "DocEnd", "State = httpReady", "RequestDone"})
        EXPECT_NE(content.str().find(line + "\r\n"), std::string::npos) << line;
    for (const char* part : {" TriggerDataSent ", "AsyncSelect CtrlSocket",
                             " TCustomWSocket.Shutdown 1 ", "SessionClosed Error: "})
        EXPECT_NE(content.str().find(part), std::string::npos) << part;
}

}  // namespace
