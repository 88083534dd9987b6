// A scripted HTTP server for tests, in-process on 127.0.0.1 at an ephemeral port.
//
// The test queues one script per expected connection, in the order the connections will be
// accepted. A script is a sequence of responses: for each one the server reads a request (the
// header up to its blank line plus a Content-Length body), records it, sends the response's bytes
// piece by piece with the chosen delays, and then keeps the connection for the next request,
// closes it, resets it or stalls on it. A connection accepted with no script queued is closed at
// once; when a script runs out on a kept connection, the connection is closed.
//
// The server runs in its own threads (one acceptor, one per connection) on plain POSIX sockets.
// Every wait is bounded: Stop(), which the destructor calls, ends all of them within tens of
// milliseconds. The scripting calls and the queries may be made from any thread.
//
//     ScriptedHttpServer server;
//     server.AddConnection(NormalResponse(200, "<rss/>"));
//     ... fetch server.Url("/feed") ...
//     EXPECT_EQ(server.Requests().size(), 1u);
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test_support {

using namespace std::chrono_literals;

struct ResponsePiece {
    std::string bytes;
    std::chrono::milliseconds delayBefore{0};
};

enum class AfterResponse {
    KeepOpen,  // read the connection's next request and answer it with the script's next response
    Close,     // close the connection in order (FIN)
    Reset,     // abort the connection (RST)
    Stall,     // send nothing more; hold the connection until the client closes or the server stops
};

struct ScriptedResponse {
    std::vector<ResponsePiece> pieces;
    AfterResponse after = AfterResponse::Close;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// "HTTP/1.1 <status> <reason>", the given header fields, a Content-Length unless the fields carry
// Content-Length or Transfer-Encoding, "Connection: close" unless they carry Connection, then the
// body; one piece, and the connection closes afterwards (set `after` and a Connection field to
// keep it).
ScriptedResponse NormalResponse(int status, const std::string& body,
                                const HeaderList& headers = {});
// These bytes as they stand, in one piece.
ScriptedResponse RawResponse(const std::string& bytes, AfterResponse after = AfterResponse::Close);
// A relocation answer pointing at location, with an empty body.
ScriptedResponse RedirectResponse(int status, const std::string& location);
// Nothing is sent and the connection is held: a server that has stopped answering.
ScriptedResponse StalledResponse();
// The same bytes cut into pieces of pieceSize bytes (the last may be shorter), with delay before
// every piece but the first.
ScriptedResponse InPieces(ScriptedResponse response, std::size_t pieceSize,
                          std::chrono::milliseconds delay);

struct RecordedRequest {
    int connection = 0;  // order of acceptance, from 0
    std::string raw;     // the header with its blank line, plus a Content-Length body if any
};

class ScriptedHttpServer {
  public:
    ScriptedHttpServer();  // listening when constructed; throws std::runtime_error on failure
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path (which should start with "/").
    std::string Url(const std::string& path = "/") const;

    // Queues the script of the next connection to be accepted.
    void AddConnection(std::vector<ScriptedResponse> responses);
    void AddConnection(ScriptedResponse response) {
        AddConnection(std::vector{std::move(response)});
    }

    // Closes the listening socket; later connection attempts are refused. Returns once closed.
    void StopListening();
    // Ends every connection and joins the threads. Idempotent.
    void Stop();

    std::vector<RecordedRequest> Requests() const;
    int AcceptedConnections() const;
    // Waits until at least count requests are recorded; false when timeout passed first.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout = 5s) const;

  private:
    void AcceptLoop();
    void Serve(int fd, int connection, std::vector<ScriptedResponse> script);
    bool ReadRequest(int fd, std::string& pending, std::string& request);
    bool SendPieces(int fd, const std::vector<ResponsePiece>& pieces);
    void HoldUntilPeerCloses(int fd);
    bool WaitReady(int fd, short events);
    bool Pause(std::chrono::milliseconds delay);

    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stopListening_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::vector<ScriptedResponse>> scripts_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::thread> connectionThreads_;
    int accepted_ = 0;
    bool listening_ = false;

    std::thread acceptor_;
};

}  // namespace test_support
