#include <gtest/gtest.h>

#include <algorithm>

#include "log/qtx_logger.h"
#include "tests/socket/loopback.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

namespace {

using Events = std::vector<std::string>;
using test_support::Certificates;
using test_support::TlsEnding;
using test_support::TlsScript;
using test_support::TlsTestServer;

// A TLS socket under test; the listener of the fixture serves as a peer that never answers.
class TlsSocket : public LoopbackTest {
  protected:
    void StartTls(std::uint16_t port, bool trustTestCa = true, const std::string& name = "") {
        socket.SetSslEnable(true);
        socket.SetSslServerName(name);
        socket.SetSslExtraCaFile(trustTestCa ? Certificates().caFile : "");
        socket.SetAddr("127.0.0.1");
        socket.SetPort(std::to_string(port));
        socket.Connect();
    }
    bool Closed() {
        return PumpUntil([&] { return socket.State() == wsClosed; });
    }
};

std::string Pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return text;
}

TEST_F(TlsSocket, PlainTextFlowsBothWaysAfterTheHandshake) {
    struct Case {
        const char* label;
        TWSocketOptions options;
        int blockSize;
        std::string name;
    } cases[] = {
        {"small reads, checked as an address", {}, 100, ""},
        {"one offer per notification", {wsoNoReceiveLoop}, 8190, ""},
        {"checked as a host name", {}, 8190, "localhost"},
    };
    const std::string body = Pattern(300000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TlsTestServer server(Certificates().server);
        server.AddConnection({"HTTP/1.0 200 OK\r\n\r\n" + body});
        std::string received;
        ReceiveInto(socket, received, c.blockSize);
        socket.SetComponentOptions(c.options);
        log.events.clear();
        StartTls(server.Port(), true, c.name);
        ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
        // The user hears of the session only once it is encrypted, and nothing of the handshake.
        EXPECT_EQ(log.events, (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                                      "connected 0", "sent 0"}));
        EXPECT_TRUE(socket.SslEstablished());

        socket.SendText("GET / HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(Closed());
        PumpPending();
        EXPECT_EQ(received, "HTTP/1.0 200 OK\r\n\r\n" + body);
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Requests()[0], "GET / HTTP/1.0\r\n\r\n");
        EXPECT_EQ(log.Count("closed 0"), 1);
    }
}

TEST_F(TlsSocket, FailedHandshakeEndsTheConnectWithItsReason) {
    const auto& certificates = Certificates();
    struct Case {
        const char* label;
        TlsScript script;
        const test_support::CertificateAndKey& identity;
        bool trustTestCa;
        std::string name;
        std::uint16_t code;
        std::string reason;
    } cases[] = {
        {"untrusted CA",
         {},
         certificates.server,
         false,
         "",
         tlsErrCertificate,
         "certificate verify failed: unable to get local issuer certificate"},
        {"expired",
         {},
         certificates.expired,
         true,
         "",
         tlsErrCertificate,
         "certificate verify failed: certificate has expired"},
        {"wrong host name",
         {},
         certificates.wrongHost,
         true,
         "localhost",
         tlsErrCertificate,
         "certificate verify failed: host name mismatch"},
        {"wrong address",
         {},
         certificates.wrongHost,
         true,
         "",
         tlsErrCertificate,
         "certificate verify failed: IP address mismatch"},
        {"garbage instead of a ServerHello",
         {"HTTP/1.1 400 Bad Request\r\n\r\n", TlsEnding::CloseNotify, true},
         certificates.server,
         true,
         "",
         tlsErrHandshake,
         "wrong version number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TlsTestServer server(c.identity);
        server.AddConnection(c.script);
        log.events.clear();
        StartTls(server.Port(), c.trustTestCa, c.name);
        ASSERT_TRUE(Closed());
        PumpPending();
        EXPECT_EQ(log.events,
                  (Events{"state wsOpened", "state wsConnecting", "state wsConnected",
                          "connected " + std::to_string(c.code), "state wsClosed", "closed 0"}));
        EXPECT_EQ(socket.SslErrorText(), c.reason);
    }
}

TEST_F(TlsSocket, TracesTheSessionAndItsFailuresForTheLogger) {
    TQtxLogger logger;
    std::vector<std::string> lines;
    logger.SetLogOptions({loDestEvent, loSslErr, loSslInfo});
    logger.SetOnQtxLogEvent([&](platform::TComponent*, TLogOption option, const std::string& line) {
        lines.push_back(std::to_string(option) + line.substr(line.find(' ')));
    });
    socket.SetQtxLogger(&logger);
    for (const auto* identity : {&Certificates().server, &Certificates().expired}) {
        TlsTestServer server(*identity);
        server.AddConnection({"HTTP/1.0 200 OK\r\n\r\n"});
        log.events.clear();
        StartTls(server.Port());
        ASSERT_TRUE(
            PumpUntil([&] { return log.Has("connected 0") || socket.State() == wsClosed; }));
        socket.Close();
    }
    socket.SetQtxLogger(nullptr);
    auto has = [&](const std::string& start) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.starts_with(start); });
    };
    const std::string info = std::to_string(loSslInfo), error = std::to_string(loSslErr);
    EXPECT_TRUE(has(info + " TLS session with 127.0.0.1: TLSv1.3 TLS_"));
    EXPECT_TRUE(has(error + " TLS handshake with 127.0.0.1 failed: certificate verify failed: "
                            "certificate has expired"));
    EXPECT_TRUE(has(info + " TLS alert written: fatal certificate expired"));
}

TEST_F(TlsSocket, PeerClosingDuringTheHandshakeFailsTheConnect) {
    TlsTestServer server(Certificates().server);  // no script: closed once accepted
    StartTls(server.Port());
    ASSERT_TRUE(Closed());
    PumpPending();
    // Closed in order or reset, depending on whether the ClientHello was there to be dropped.
    auto count = [&](const std::string& prefix) {
        return std::count_if(log.events.begin(), log.events.end(),
                             [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(count("connected "), 1);
    EXPECT_FALSE(log.Has("connected 0"));
    EXPECT_EQ(count("closed "), 1);
    EXPECT_FALSE(socket.SslErrorText().empty());
}

TEST_F(TlsSocket, EndWithoutCloseNotifyIsNotAnOrderlyClose) {
    struct Case {
        TlsEnding ending;
        std::string closed;
    } cases[] = {
        {TlsEnding::CloseNotify, "closed 0"},
        {TlsEnding::CutWithoutNotify, "closed " + std::to_string(tlsErrUncleanClose)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closed);
        TlsTestServer server(Certificates().server);
        server.AddConnection({"partial answer", c.ending});
        std::string received;
        ReceiveInto(socket, received);
        log.events.clear();
        StartTls(server.Port());
        ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
        socket.SendText("GET / HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(Closed());
        PumpPending();
        EXPECT_EQ(received, "partial answer");
        EXPECT_EQ(log.Count(c.closed), 1);
    }
}

TEST_F(TlsSocket, AbortDuringTheHandshakeEndsTheSessionOnce) {
    StartTls(static_cast<std::uint16_t>(std::stoi(listener.Port())));
    peer = listener.Accept();  // takes the ClientHello and never answers
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(PumpUntil([&] { return socket.State() == wsConnected; }));
    PumpPending();
    socket.Abort();
    PumpPending();
    EXPECT_EQ(log.Count("closed 0"), 1);
    EXPECT_FALSE(log.Has("connected 0"));
    EXPECT_FALSE(socket.SslEstablished());
}

}  // namespace
