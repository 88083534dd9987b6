// A request's life: connection reuse, the failures of the connection phase, Abort in every phase,
// the terminate flag, and documents that end badly.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>

#include "platform/application.h"
#include "platform/headless_application.h"
#include "tests/http/client_harness.h"
#include "tests/support/loopback_port.h"

using test_support::AfterResponse;
using test_support::NormalResponse;
using test_support::RawResponse;
using test_support::ScriptedHttpServer;
using test_support::ScriptedResponse;

namespace {

using HttpLifecycleTest = HttpClientTest;

TEST_F(HttpLifecycleTest, MultiThreadedWaitPumpsTheThreadsOwnQueue) {
    server.AddConnection(NormalResponse(200, "pumped"));
    h.cli.SetMultiThreaded(true);
    EXPECT_FALSE(h.Get(server.Url("/")).raised);
    EXPECT_EQ(h.body.Data(), "pumped");
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpLifecycleTest, RefusedConnectEndsWithTheSocketErrorText) {
    GetOutcome outcome =
        h.Get("http://127.0.0.1:" + std::to_string(test_support::ClosedLoopbackPort()) + "/");
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.errorNumber, 404);
    EXPECT_EQ(outcome.message, SocketErrorText(10061) + " (Error #10061)");
    EXPECT_EQ(h.EventsStartingWith("SessionConnected").size(), 1u);
    EXPECT_EQ(h.lastErrCode, 10061);
    EXPECT_EQ(h.requestDoneCount, 1);
}

TEST_F(HttpLifecycleTest, UnknownHostAndUnsupportedProtocol) {
    GetOutcome unknown = h.Get("http://unknown..invalid/");
    EXPECT_TRUE(unknown.raised);
    EXPECT_EQ(unknown.errorNumber, 404);
    EXPECT_EQ(unknown.message, "can't resolve hostname to IP address");
    EXPECT_NE(h.lastErrCode, 0);

    GetOutcome other = h.Get("ftp://127.0.0.1:" + std::to_string(server.Port()) + "/");
    EXPECT_TRUE(other.raised);
    EXPECT_EQ(other.errorNumber, 501);
    EXPECT_EQ(other.message, "Protocol \"ftp\" not implemented");
    EXPECT_EQ(server.AcceptedConnections(), 0);
    EXPECT_EQ(h.requestDoneCount, 2);
}

TEST_F(HttpLifecycleTest, AbortWhileIdleReportsAtOnce) {
    h.cli.Abort();
    EXPECT_EQ(h.events, (std::vector<std::string>{"State httpReady", "RequestDone 0 0"}));
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_EQ(h.cli.StatusReason(), "OK");
}

// A handler that cancels when it sees the client ready (as a cancel button that is clicked late
// does) finds the request ended: its answer stands, and it is reported once.
TEST_F(HttpLifecycleTest, AnAbortFromTheEndOfARequestKeepsItsOutcome) {
    server.AddConnection(NormalResponse(404, "missing"));
    h.cli.OnStateChange = [](THttpCli* cli) {
        if (cli->State() == httpReady) cli->Abort();
    };
    GetOutcome outcome = h.Get(server.Url("/gone"));
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.errorNumber, 404);
    EXPECT_EQ(h.cli.StatusCode(), 404);
    EXPECT_EQ(h.cli.StatusReason(), "Not Found");
    EXPECT_EQ(h.requestDoneCount, 1);
}

// Get returns on the state, before the request's end is raised: the next request, started then,
// is a request of its own and can be cancelled.
TEST_F(HttpLifecycleTest, TheNextRequestCanBeAbortedBeforeTheLastOnesEndIsRaised) {
    server.AddConnection(NormalResponse(200, "one"));
    bool started = false;
    h.cli.OnStateChange = [&](THttpCli* cli) {
        if (cli->State() != httpReady || std::exchange(started, true)) return;
        cli->URL = server.Url("/2");
        cli->StartRequest(httpRqGet);
        cli->Abort();
    };
    h.Get(server.Url("/1"));
    EXPECT_TRUE(h.RunUntil([&] { return h.requestDoneCount == 2; }));
    EXPECT_EQ(h.cli.State(), httpReady);
    EXPECT_EQ(h.cli.StatusReason(), "Connection aborted on request");
    EXPECT_EQ(h.lastErrCode, httpErrAborted);
}

TEST(HttpAbortTest, DuringLookupAndWhileConnecting) {
    ScriptedHttpServer server;
    server.AddConnection(NormalResponse(200, "unused"));
    for (const std::string host : {"localhost", "127.0.0.1"}) {
        ClientHarness h;
        h.cli.URL = "http://" + host + ":" + std::to_string(server.Port()) + "/";
        h.cli.StartRequest(httpRqGet);
        EXPECT_EQ(h.cli.State(), host == "localhost" ? httpDnsLookup : httpDnsLookupDone);
        h.cli.Abort();
        EXPECT_EQ(h.cli.State(), httpReady);
        EXPECT_TRUE(h.RunUntil([&] { return h.requestDoneCount > 0; }));
        h.RunUntil([] { return false; }, 50ms);  // nothing more may follow
        EXPECT_EQ(h.requestDoneCount, 1);
        EXPECT_EQ(h.lastErrCode, 3);
        EXPECT_EQ(h.cli.StatusCode(), 404);
        EXPECT_EQ(h.cli.StatusReason(), "Connection aborted on request");
        EXPECT_EQ(h.cli.State(), httpReady);
    }
}

TEST_F(HttpLifecycleTest, AbortInTheBodyMakesGetRaise) {
    server.AddConnection(
        {{{"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nfirst", 0ms}}, AfterResponse::Stall});
    h.cli.OnDocData = [](THttpCli* sender, const char*, int) { sender->Abort(); };
    ExpectAbortedOnce(h, h.Get(server.Url("/")));
    EXPECT_EQ(h.body.Data(), "first");
}

TEST_F(HttpLifecycleTest, TerminatingTheApplicationEndsTheWait) {
    platform::HeadlessApplication app;
    platform::Application* previous = platform::SetApplication(&app);
    server.AddConnection(test_support::StalledResponse());
    h.cli.OnSessionConnected = [&app](THttpCli*) { app.Terminate(); };
    GetOutcome outcome = h.Get(server.Url("/"));
    platform::SetApplication(previous);
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.errorNumber, 404);
    EXPECT_EQ(h.cli.State(), httpReady);
}

TEST_F(HttpLifecycleTest, AnAbortAndTheTerminateFlagTogetherStillFail) {
    // Closing the program aborts the download and sets the terminate flag in one handler; the
    // wait must not abort the ended request a second time, which would report "200 OK".
    platform::HeadlessApplication app;
    platform::Application* previous = platform::SetApplication(&app);
    server.AddConnection(
        {{{"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nfirst", 0ms}}, AfterResponse::Stall});
    h.cli.OnDocData = [&app](THttpCli* sender, const char*, int) {
        app.Terminate();
        sender->Abort();
    };
    GetOutcome outcome = h.Get(server.Url("/"));
    platform::SetApplication(previous);
    ExpectAbortedOnce(h, outcome);
    EXPECT_EQ(h.cli.StatusReason(), "Connection aborted on request");
}

TEST_F(HttpLifecycleTest, DocumentCutShortIsAFailure) {
    server.AddConnection(
        RawResponse("HTTP/1.0 200 OK\r\nContent-Length: 3000000000\r\n\r\npartial"));
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"));
    server.AddConnection(RawResponse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"));
    for (int i = 0; i < 3; ++i) {
        GetOutcome outcome = h.Get(server.Url("/"));
        EXPECT_TRUE(outcome.raised) << i;
        EXPECT_EQ(outcome.errorNumber, httpErrDocumentCutShort) << i;
        EXPECT_EQ(outcome.message, "Connection closed before the end of the document") << i;
        EXPECT_EQ(h.lastErrCode, httpErrDocumentCutShort) << i;
        if (i == 0) {
            EXPECT_EQ(h.cli.DocumentLength(), 3000000000);
            EXPECT_EQ(h.cli.BodyReceivedCount(), 7);
        }
    }
    EXPECT_EQ(h.body.Data(), "partialhello");
    EXPECT_EQ(h.requestDoneCount, 3);

    // Without a length the body ends with the connection, but not when the connection is reset.
    server.AddConnection(RawResponse("HTTP/1.0 200 OK\r\n\r\nsome", AfterResponse::Reset));
    GetOutcome reset = h.Get(server.Url("/"));
    EXPECT_TRUE(reset.raised);
    EXPECT_EQ(reset.errorNumber, httpErrDocumentCutShort);
    EXPECT_NE(h.lastErrCode, 0);
}

TEST_F(HttpLifecycleTest, UnreadableResponsesEndTheRequestCleanly) {
    server.AddConnection(
        RawResponse("HTTP/1.1 2x0 OK\r\nContent-Length: 2\r\n\r\nok", AfterResponse::Stall));
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "10000000000000000\r\n",
                    AfterResponse::Stall));
    // A size line without a digit is no last chunk: the body must not count as complete.
    server.AddConnection(
        RawResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\n",
                    AfterResponse::Stall));
    for (int i = 0; i < 3; ++i) {
        GetOutcome outcome = h.Get(server.Url("/"));
        EXPECT_TRUE(outcome.raised) << i;
        EXPECT_EQ(outcome.errorNumber, httpStatusProtocolError) << i;
        EXPECT_EQ(h.cli.StatusCode(), httpStatusProtocolError) << i;
        EXPECT_EQ(h.lastErrCode, httpErrProtocol) << i;
        EXPECT_EQ(h.cli.CtrlSocket().State(), wsClosed) << i;
    }
    EXPECT_EQ(h.requestDoneCount, 3);
}

// Requests after the first reuse the kept connection, dropping bytes past each document.
TEST_F(HttpLifecycleTest, StrayBytesAfterADocumentAreDroppedAndTheConnectionReused) {
    server.AddConnection(
        {RawResponse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloGARBAGE",
                     AfterResponse::KeepOpen),
         RawResponse("HTTP/1.1 204 No Content\r\n\r\nMORE", AfterResponse::KeepOpen),
         NormalResponse(200, "clean")});
    h.cli.SetRequestVer("1.1");
    for (const char* path : {"/1", "/2", "/3"}) {
        h.events.clear();
        GetOutcome outcome = h.Get(server.Url(path));
        EXPECT_FALSE(outcome.raised) << outcome.message;
    }
    EXPECT_TRUE(h.EventsStartingWith("State httpDnsLookup").empty());
    EXPECT_EQ(h.EventsStartingWith("State").front(), "State httpConnected");
    EXPECT_EQ(h.requestDoneCount, 3);
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_EQ(h.cli.ResponseHeaderLines().front(), "HTTP/1.1 200 OK");
    EXPECT_EQ(h.body.Data(), "helloclean");
    EXPECT_EQ(server.AcceptedConnections(), 1);
}

TEST_F(HttpLifecycleTest, FailingStreamEndsTheRequest) {
    server.AddConnection(NormalResponse(200, "cannot be stored"));
    platform::FileStream readOnly("/dev/null", platform::FileMode::OpenRead);
    h.cli.BodyStream = &readOnly;
    GetOutcome outcome = h.Get(server.Url("/"));
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.errorNumber, httpErrLocalFailure);
    EXPECT_EQ(h.requestDoneCount, 1);
    EXPECT_EQ(h.lastErrCode, httpErrLocalFailure);
}

// A port the socket cannot use is reported to its OnError, not raised: the request must still end.
TEST_F(HttpLifecycleTest, ConnectRefusedByTheSocketAtOnceEndsTheRequest) {
    int socketErrors = 0;
    h.cli.OnSocketError = [&socketErrors](THttpCli*) { ++socketErrors; };
    GetOutcome outcome = h.Get("http://127.0.0.1:99999/");
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.errorNumber, 404);
    // Not "No Error (Error #0)": the refused setting counts as an invalid argument.
    EXPECT_EQ(outcome.message, "can't connect: " + SocketErrorText(10022) + " (Error #10022)");
    EXPECT_EQ(h.lastErrCode, 10022);
    EXPECT_EQ(socketErrors, 1);
    EXPECT_EQ(h.requestDoneCount, 1);
}

// A lookup the socket cannot start is reported to its OnError; the request must end all the same.
// Starting it from a thread that does not own the socket's window makes the platform refuse it.
TEST_F(HttpLifecycleTest, ALookupThatCannotStartEndsTheRequest) {
    int socketErrors = 0;
    h.cli.OnSocketError = [&socketErrors](THttpCli*) { ++socketErrors; };
    h.cli.URL = "http://localhost:" + std::to_string(server.Port()) + "/";
    std::thread([this] { h.cli.StartRequest(httpRqGet); }).join();
    EXPECT_TRUE(h.RunUntil([this] { return h.requestDoneCount > 0; }, 2s));
    EXPECT_EQ(h.cli.State(), httpReady);
    EXPECT_EQ(h.cli.StatusCode(), 404);
    EXPECT_EQ(h.cli.StatusReason(),
              "can't start DNS lookup: " + SocketErrorText(10022) + " (Error #10022)");
    EXPECT_EQ(h.lastErrCode, 10022);
    EXPECT_EQ(socketErrors, 1);
}

// A close request ends with "200 OK" and no error of its own, whatever the request before it.
TEST_F(HttpLifecycleTest, ACloseRequestDoesNotRepeatThePreviousFailure) {
    server.AddConnection(RawResponse("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel"));
    EXPECT_EQ(h.Get(server.Url("/")).errorNumber, httpErrDocumentCutShort);
    try {
        h.cli.RunRequest(httpRqClose);
    } catch (const EHttpException& error) {
        ADD_FAILURE() << "the close raised " << error.what();
    }
    h.ProcessPending();
    EXPECT_EQ(h.cli.StatusCode(), 200);
    EXPECT_EQ(h.cli.StatusReason(), "OK");
    EXPECT_EQ(h.requestDoneCount, 2);
    EXPECT_EQ(h.lastErrCode, 0);
}

}  // namespace

// Whichever event handler cancels the request, the request ends once, as aborted, and nothing of
// the request runs after it: no request text is sent after an abort before sending, and no
// document begins or ends after it.
TEST(HttpAbortTest, FromAnyEventHandlerEndsTheRequestOnce) {
    struct Case {
        std::string event;
        bool beforeSending;
    };
    const Case cases[] = {
        {"State httpNotConnected", true},
        {"State httpDnsLookup", true},
        {"State httpDnsLookupDone", true},
        {"State httpConnected", true},
        {"SessionConnected", true},
        {"State httpWaitingHeader", true},
        {"RequestHeaderBegin", true},
        {"BeforeHeaderSend", true},
        {"Command", true},
        {"RequestHeaderEnd", true},
        {"HeaderBegin", false},
        {"HeaderData", false},
        {"Cookie", false},
        {"HeaderEnd", false},
        {"State httpWaitingBody", false},
        {"DocBegin", false},
        {"DocData", false},
        {"State httpBodyReceived", false},
        {"DocEnd", false},
    };
    for (const Case& c : cases) {
        ScriptedHttpServer server;
        server.AddConnection(
            RawResponse("HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\nContent-Length: 4\r\n\r\nbody",
                        AfterResponse::Stall));
        ClientHarness h;
        bool aborted = false;
        auto abortOn = [&](const std::string& name) {
            if (name != c.event || aborted) return;
            aborted = true;
            h.events.push_back("Abort");
            h.cli.Abort();
        };
        h.cli.OnStateChange = [&](THttpCli*) {
            std::string name = std::string("State ") + HttpCliStateName(h.cli.State());
            h.events.push_back(name);
            abortOn(name);
        };
        h.cli.OnSessionConnected = [&](THttpCli*) { abortOn("SessionConnected"); };
        h.cli.OnRequestHeaderBegin = [&](THttpCli*) { abortOn("RequestHeaderBegin"); };
        h.cli.OnBeforeHeaderSend = [&](THttpCli*, const std::string&, std::vector<std::string>&) {
            abortOn("BeforeHeaderSend");
        };
        h.cli.OnCommand = [&](THttpCli*, std::string&) { abortOn("Command"); };
        h.cli.OnRequestHeaderEnd = [&](THttpCli*) { abortOn("RequestHeaderEnd"); };
        h.cli.OnHeaderBegin = [&](THttpCli*) { abortOn("HeaderBegin"); };
        h.cli.OnHeaderData = [&](THttpCli*) { abortOn("HeaderData"); };
        h.cli.OnCookie = [&](THttpCli*, const std::string&, bool&) { abortOn("Cookie"); };
        h.cli.OnHeaderEnd = [&](THttpCli*) { abortOn("HeaderEnd"); };
        h.cli.OnDocBegin = [&](THttpCli*) {
            h.events.push_back("DocBegin");
            abortOn("DocBegin");
        };
        h.cli.OnDocData = [&](THttpCli*, const char*, int) {
            h.events.push_back("DocData");
            abortOn("DocData");
        };
        h.cli.OnDocEnd = [&](THttpCli*) {
            h.events.push_back("DocEnd");
            abortOn("DocEnd");
        };
        GetOutcome outcome = h.Get(server.Url("/"));
        h.RunUntil([] { return false; }, 50ms);  // nothing more may follow

        EXPECT_TRUE(aborted) << c.event;
        ExpectAbortedOnce(h, outcome, c.event);
        // Only a document the abort cut in the middle is closed with OnDocEnd.
        const bool cutInTheBody = c.event == "DocData";
        auto afterAbort = std::find(h.events.begin(), h.events.end(), "Abort");
        for (auto it = afterAbort; it != h.events.end(); ++it) {
            if (it->rfind("Doc", 0) == 0) {
                EXPECT_TRUE(cutInTheBody && *it == "DocEnd") << c.event << ": " << *it;
            }
        }
        if (c.beforeSending) {
            EXPECT_TRUE(server.Requests().empty()) << c.event;
        }
    }
}
