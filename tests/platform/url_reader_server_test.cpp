// The scripted server that the reader's tests (and the HTTP client's) stand on.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/scripted_http_server.h"

namespace test_support {
namespace {

// A plain client socket; -1 when the connection was refused.
int Connect(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Everything until the server closes; errorNumber receives the error that ended it, if any.
std::string ReadToEnd(int fd, int* errorNumber = nullptr) {
    std::string received;
    char buffer[4096];
    pollfd entry{fd, POLLIN, 0};
    while (poll(&entry, 1, 5000) > 0) {
        ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0) {
            if (errorNumber) *errorNumber = count < 0 ? errno : 0;
            break;
        }
        received.append(buffer, static_cast<std::size_t>(count));
    }
    return received;
}

TEST(ScriptedHttpServer, AnswersRequestsOnAKeptConnectionAndRecordsThem) {
    ScriptedHttpServer server;
    auto first = NormalResponse(200, "one", {{"Connection", "keep-alive"}});
    first.after = AfterResponse::KeepOpen;
    server.AddConnection({first, NormalResponse(404, "two")});

    int fd = Connect(server.Port());
    ASSERT_GE(fd, 0);
    std::string post = "POST /a HTTP/1.1\r\nContent-length: 5\r\n\r\nhello";
    std::string get = "GET /b HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string both = post + get;  // pipelined: the second waits for the first answer
    ASSERT_EQ(send(fd, both.data(), both.size(), 0), static_cast<ssize_t>(both.size()));
    EXPECT_EQ(ReadToEnd(fd),
              "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 3\r\n\r\none"
              "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nConnection: close\r\n\r\ntwo");
    close(fd);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].raw, post);
    EXPECT_EQ(requests[1].raw, get);
    EXPECT_EQ(requests[1].connection, 0);
}

TEST(ScriptedHttpServer, ClosesResetsAndRefusesAsScripted) {
    ScriptedHttpServer server;
    ScriptedResponse reset{{}, AfterResponse::Reset};
    server.AddConnection(reset);

    int fd = Connect(server.Port());
    ASSERT_GE(fd, 0);
    std::string get = "GET / HTTP/1.0\r\n\r\n";
    send(fd, get.data(), get.size(), 0);
    int error = 0;
    EXPECT_EQ(ReadToEnd(fd, &error), "");
    EXPECT_EQ(error, ECONNRESET);
    close(fd);

    fd = Connect(server.Port());  // no script left: closed at once, in order
    ASSERT_GE(fd, 0);
    error = -1;
    EXPECT_EQ(ReadToEnd(fd, &error), "");
    EXPECT_EQ(error, 0);
    close(fd);
    EXPECT_EQ(server.AcceptedConnections(), 2);

    server.StopListening();
    EXPECT_EQ(Connect(server.Port()), -1);
}

TEST(ScriptedHttpServer, StopEndsAStalledConnection) {
    ScriptedHttpServer server;
    server.AddConnection(StalledResponse());
    int fd = Connect(server.Port());
    ASSERT_GE(fd, 0);
    std::string get = "GET / HTTP/1.1\r\n\r\n";
    send(fd, get.data(), get.size(), 0);
    ASSERT_TRUE(server.WaitForRequests(1));
    server.Stop();
    EXPECT_EQ(ReadToEnd(fd), "");
    close(fd);
}

}  // namespace
}  // namespace test_support
