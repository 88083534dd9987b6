// The URL reader: reads a document from an http or https address in pieces, the way the feed
// fetch needs it. A session carries the agent text; each request sends one GET (relocations
// followed, at most 10; the proxy from the standard proxy environment variables; caches asked not
// to answer from their copy; every content coding the library decodes accepted), waits for the
// final answer's header and then hands out the body, decoded.
//
// The windows stay responsive: while it waits for the network the reader lets the application
// process all pending messages every few tens of milliseconds, and it stops at once when the
// application is told to terminate. A server that makes no progress for the stall time-out, or a
// connection that cannot be made within the connect time-out, ends the request.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct UrlReaderTimeouts {
    std::chrono::milliseconds connect{30000};  // to establish the connection
    std::chrono::milliseconds stall{30000};    // without a single byte arriving
};

// What one request carries besides the session's settings.
struct UrlRequestOptions {
    std::vector<std::string> headers;  // whole header lines, e.g. "If-None-Match: \"a1\""
    // The most body bytes, decoded, the request takes; beyond them it fails (see BodyTooLarge).
    std::size_t maxBodyBytes = SIZE_MAX;
};

class UrlRequest;

class UrlSession {
  public:
    // nullptr when no session could be set up.
    static std::unique_ptr<UrlSession> Open(const std::string& agent,
                                            UrlReaderTimeouts timeouts = {});
    ~UrlSession();
    UrlSession(const UrlSession&) = delete;
    UrlSession& operator=(const UrlSession&) = delete;

    // Sends the request and waits for the final answer's header. nullptr when the address cannot
    // be opened: malformed, a scheme other than http and https, unknown host, no connection, too
    // many relocations, a time-out, or the application terminating. The request must be released
    // before its session.
    std::unique_ptr<UrlRequest> OpenUrl(const std::string& url);
    // Sends the request and returns at once; the session's requests proceed side by side whenever
    // one of them is waited for. nullptr when the request cannot be set up.
    std::unique_ptr<UrlRequest> StartUrl(const std::string& url,
                                         const UrlRequestOptions& options = {});

    struct Handle;

  private:
    UrlSession(std::unique_ptr<Handle> handle, std::string agent, UrlReaderTimeouts timeouts);

    std::unique_ptr<Handle> handle_;
    std::string agent_;
    UrlReaderTimeouts timeouts_;
};

class UrlRequest {
  public:
    ~UrlRequest();
    UrlRequest(const UrlRequest&) = delete;
    UrlRequest& operator=(const UrlRequest&) = delete;

    // Waits for the final answer's header of a started request; false when the address cannot be
    // opened (as OpenUrl gives nullptr).
    bool WaitForAnswer();

    // The final answer's status code as decimal text, e.g. "200".
    std::string StatusCode() const;
    // The address the answer came from, after relocations.
    std::string EffectiveUrl() const;
    // The value of the final answer's header field name (the last of several), empty when absent.
    std::string Header(const char* name) const;
    // Whether the request failed because its body grew past UrlRequestOptions::maxBodyBytes.
    bool BodyTooLarge() const;

    // Fills buffer with up to size body bytes; fewer only at the end of the body or when the
    // transfer broke off (what arrived is handed out first). 0 at the end of the body; nullopt when
    // the read failed: a time-out, a broken connection or the application terminating.
    std::optional<std::size_t> ReadFile(char* buffer, std::size_t size);

    struct Transfer;

  private:
    friend class UrlSession;
    explicit UrlRequest(std::unique_ptr<Transfer> transfer);

    std::unique_ptr<Transfer> transfer_;
};

}  // namespace platform
