#include "tests/support/scripted_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/loopback_port.h"

namespace test_support {
namespace {

// Every blocking step waits at most this long before it looks at the stop flag again.
constexpr int kPollSliceMs = 20;

std::string ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 407:
            return "Proxy Authentication Required";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Carries(const HeaderList& headers, const std::string& lowerName) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& field) { return Lower(field.first) == lowerName; });
}

// The end of the header (just past its blank line), or npos while incomplete.
std::size_t HeaderEnd(const std::string& bytes) {
    std::size_t crlf = bytes.find("\r\n\r\n");
    std::size_t lf = bytes.find("\n\n");
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) return crlf + 4;
    return lf == std::string::npos ? std::string::npos : lf + 2;
}

std::size_t ContentLength(const std::string& header) {
    std::string lower = Lower(header);
    std::size_t at = lower.find("\ncontent-length:");
    if (at == std::string::npos) return 0;
    return std::strtoull(header.c_str() + at + 16, nullptr, 10);
}

}  // namespace

ScriptedResponse NormalResponse(int status, const std::string& body, const HeaderList& headers) {
    std::string bytes = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    for (const auto& [name, value] : headers)
        bytes += name + ": " + value + "\r\n";
    if (!Carries(headers, "content-length") && !Carries(headers, "transfer-encoding"))
        bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    // The connection closes after the answer; saying so keeps clients from reusing it.
    if (!Carries(headers, "connection")) bytes += "Connection: close\r\n";
    bytes += "\r\n" + body;
    return {{{bytes}}, AfterResponse::Close};
}

ScriptedResponse RawResponse(const std::string& bytes, AfterResponse after) {
    return {{{bytes, 0ms}}, after};
}

ScriptedResponse RedirectResponse(int status, const std::string& location) {
    return NormalResponse(status, "", {{"Location", location}});
}

ScriptedResponse StalledResponse() {
    return {{}, AfterResponse::Stall};
}

ScriptedResponse InPieces(ScriptedResponse response, std::size_t pieceSize,
                          std::chrono::milliseconds delay) {
    std::string all;
    for (const auto& piece : response.pieces)
        all += piece.bytes;
    response.pieces.clear();
    for (std::size_t at = 0; at < all.size(); at += pieceSize)
        response.pieces.push_back(
            {all.substr(at, pieceSize), at == 0 ? std::chrono::milliseconds{0} : delay});
    return response;
}

ScriptedHttpServer::ScriptedHttpServer() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("test server: socket failed");
    int yes = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 16) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listenFd_);
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    listening_ = true;
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    Stop();
}

std::string ScriptedHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void ScriptedHttpServer::AddConnection(std::vector<ScriptedResponse> responses) {
    std::lock_guard lock(mutex_);
    scripts_.push_back(std::move(responses));
}

void ScriptedHttpServer::StopListening() {
    stopListening_ = true;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !listening_; });
}

void ScriptedHttpServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (acceptor_.joinable()) acceptor_.join();
    // The acceptor has ended, so the list of connection threads no longer grows.
    for (auto& thread : connectionThreads_)
        if (thread.joinable()) thread.join();
}

std::vector<RecordedRequest> ScriptedHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int ScriptedHttpServer::AcceptedConnections() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

bool ScriptedHttpServer::WaitForRequests(std::size_t count,
                                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void ScriptedHttpServer::AcceptLoop() {
    while (!stopping_ && !stopListening_) {
        int fd = AcceptWithin(listenFd_, kPollSliceMs, SOCK_NONBLOCK);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        std::vector<ScriptedResponse> script;
        if (!scripts_.empty()) {
            script = std::move(scripts_.front());
            scripts_.pop_front();
        }
        int connection = accepted_++;
        connectionThreads_.emplace_back(
            [this, fd, connection, script = std::move(script)]() mutable {
                Serve(fd, connection, std::move(script));
            });
    }
    close(listenFd_);
    std::lock_guard lock(mutex_);
    listening_ = false;
    changed_.notify_all();
}

void ScriptedHttpServer::Serve(int fd, int connection, std::vector<ScriptedResponse> script) {
    std::string pending;
    AfterResponse after = AfterResponse::Close;
    for (const auto& response : script) {
        std::string request;
        if (!ReadRequest(fd, pending, request)) break;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back({connection, std::move(request)});
        }
        changed_.notify_all();
        after = response.after;
        if (!SendPieces(fd, response.pieces) || after != AfterResponse::KeepOpen) break;
    }
    if (after == AfterResponse::Stall) HoldUntilPeerCloses(fd);
    if (after == AfterResponse::Reset) {
        linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(fd);
}

bool ScriptedHttpServer::ReadRequest(int fd, std::string& pending, std::string& request) {
    char buffer[4096];
    for (;;) {
        std::size_t headerEnd = HeaderEnd(pending);
        if (headerEnd != std::string::npos) {
            std::size_t total = headerEnd + ContentLength(pending.substr(0, headerEnd));
            if (pending.size() >= total) {
                request = pending.substr(0, total);
                pending.erase(0, total);
                return true;
            }
        }
        if (!WaitReady(fd, POLLIN)) return false;
        ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) return false;
        if (count > 0) pending.append(buffer, static_cast<std::size_t>(count));
    }
}

bool ScriptedHttpServer::SendPieces(int fd, const std::vector<ResponsePiece>& pieces) {
    for (const auto& piece : pieces) {
        if (!Pause(piece.delayBefore)) return false;
        std::size_t sent = 0;
        while (sent < piece.bytes.size()) {
            if (!WaitReady(fd, POLLOUT)) return false;
            ssize_t count =
                send(fd, piece.bytes.data() + sent, piece.bytes.size() - sent, MSG_NOSIGNAL);
            if (count < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (count > 0) sent += static_cast<std::size_t>(count);
        }
    }
    return true;
}

void ScriptedHttpServer::HoldUntilPeerCloses(int fd) {
    char buffer[4096];
    while (WaitReady(fd, POLLIN)) {
        ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) return;
    }
}

// Waits in short slices until fd is ready for events; false when the server stops or the
// connection broke.
bool ScriptedHttpServer::WaitReady(int fd, short events) {
    while (!stopping_) {
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, kPollSliceMs);
        if (ready > 0) return (entry.revents & (events | POLLHUP | POLLERR)) != 0;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

bool ScriptedHttpServer::Pause(std::chrono::milliseconds delay) {
    if (delay.count() <= 0) return !stopping_;
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, delay, [this] { return stopping_.load(); });
}

}  // namespace test_support
