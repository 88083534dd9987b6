#include "platform/url_reader.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string_view>

#include "platform/application.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// The longest the reader waits on the network before the application's messages are processed.
constexpr int kServiceIntervalMs = 20;
constexpr long kMaxRelocations = 10;
// Requests in flight share connections: a few per server, as browsers hold them.
constexpr long kMaxConnectionsPerHost = 4;
constexpr long kMaxConnections = 16;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool LibraryReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

}  // namespace

struct UrlSession::Handle {
    CURLM* multi;
    // Asks caches on the way for the server's copy.
    curl_slist* headers = nullptr;
    // The session's transfers under way, whose stall clocks stop while nobody waits for them.
    std::set<UrlRequest::Transfer*> transfers;
    Clock::time_point lastWait = Clock::now();
    explicit Handle(CURLM* multi) : multi(multi) {
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, kMaxConnectionsPerHost);
        curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, kMaxConnections);
    }
    // Time the program spent elsewhere (downloading an episode, in a handler) is held against no
    // server.
    void PauseClocks(Clock::duration paused);
    ~Handle() {
        curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// One easy handle in the session's multi handle, with what has arrived and not yet been read.
struct UrlRequest::Transfer {
    UrlSession::Handle& session;
    CURLM* multi;
    CURL* easy;
    UrlReaderTimeouts timeouts;
    curl_slist* headers = nullptr;  // the session's and the request's own
    std::size_t maxBodyBytes;
    std::size_t bodyBytes = 0;  // of the current answer, handed out or not
    bool bodyTooLarge = false;
    std::string body;
    std::size_t readAt = 0;  // what of body was handed out
    bool headerComplete = false;
    bool locationSeen = false;
    bool done = false;
    bool gaveUp = false;
    CURLcode result = CURLE_OK;
    Clock::time_point lastProgress = Clock::now();

    Transfer(UrlSession::Handle& session, CURL* easy, UrlReaderTimeouts timeouts,
             const UrlRequestOptions& options)
        : session(session),
          multi(session.multi),
          easy(easy),
          timeouts(timeouts),
          maxBodyBytes(options.maxBodyBytes) {
        for (const curl_slist* line = session.headers; line; line = line->next)
            headers = curl_slist_append(headers, line->data);
        for (const std::string& line : options.headers)
            headers = curl_slist_append(headers, line.c_str());
        session.transfers.insert(this);
    }
    ~Transfer() {
        session.transfers.erase(this);
        curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool Failed() const { return gaveUp || (done && result != CURLE_OK); }

    // Runs the transfer until ready() holds or the transfer has ended, processing the
    // application's messages while it waits. Gives up when the application terminates or nothing
    // arrived within the stall time-out. The time the handlers take (a modal dialog opened
    // meanwhile) is not held against the server, and what arrived during it is taken in first.
    template <typename Ready>
    void Drive(Ready ready) {
        session.PauseClocks(Clock::now() - session.lastWait);
        while (!ready() && !done && !gaveUp) {
            int running = 0;
            gaveUp = App().Terminated() || curl_multi_perform(multi, &running) != CURLM_OK;
            if (gaveUp) return;
            CollectEnded(multi);
            if (ready() || done) return;
            gaveUp = Clock::now() - lastProgress > timeouts.stall;
            if (gaveUp) return;
            curl_multi_poll(multi, nullptr, 0, kServiceIntervalMs, nullptr);
            Clock::time_point handlersStart = Clock::now();
            App().ProcessMessages();
            session.PauseClocks(Clock::now() - handlersStart);
        }
        session.lastWait = Clock::now();
    }

    static void CollectEnded(CURLM* multi) {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            if (!transfer) continue;
            transfer->done = true;
            transfer->result = message->data.result;
        }
    }

    // Each header line: a status line starts a new answer (a relocation's answer is dropped);
    // the blank line ends the header, which is final unless an interim or a followed relocation.
    static size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
        auto& self = *static_cast<Transfer*>(user);
        std::string_view line(data, size * count);
        self.lastProgress = Clock::now();
        if (line.starts_with("HTTP/")) {
            self.headerComplete = self.locationSeen = false;
            self.body.clear();
            self.readAt = self.bodyBytes = 0;
        } else if (StartsWithNoCase(line, "location:")) {
            self.locationSeen = true;
        } else if (line == "\r\n" || line == "\n") {
            long code = 0;
            curl_easy_getinfo(self.easy, CURLINFO_RESPONSE_CODE, &code);
            bool interim = code >= 100 && code < 200;
            bool relocated = code >= 300 && code < 400 && self.locationSeen;
            self.headerComplete = !interim && !relocated;
        }
        return size * count;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto& self = *static_cast<Transfer*>(user);
        self.lastProgress = Clock::now();
        self.bodyBytes += size * count;
        if (self.bodyBytes > self.maxBodyBytes) {
            self.bodyTooLarge = true;
            return 0;  // ends the transfer with a write error
        }
        self.body.append(data, size * count);
        return size * count;
    }
};

void UrlSession::Handle::PauseClocks(Clock::duration paused) {
    for (UrlRequest::Transfer* transfer : transfers)
        transfer->lastProgress += paused;
    lastWait = Clock::now();
}

UrlSession::UrlSession(std::unique_ptr<Handle> handle, std::string agent,
                       UrlReaderTimeouts timeouts)
    : handle_(std::move(handle)), agent_(std::move(agent)), timeouts_(timeouts) {}

UrlSession::~UrlSession() = default;

std::unique_ptr<UrlSession> UrlSession::Open(const std::string& agent, UrlReaderTimeouts timeouts) {
    if (!LibraryReady()) return nullptr;
    CURLM* multi = curl_multi_init();
    if (!multi) return nullptr;
    return std::unique_ptr<UrlSession>(
        new UrlSession(std::make_unique<Handle>(multi), agent, timeouts));
}

std::unique_ptr<UrlRequest> UrlSession::OpenUrl(const std::string& url) {
    std::unique_ptr<UrlRequest> request = StartUrl(url);
    if (!request || !request->WaitForAnswer()) return nullptr;
    return request;
}

bool UrlRequest::WaitForAnswer() {
    Transfer& pending = *transfer_;
    pending.Drive([&] { return pending.headerComplete; });
    return pending.headerComplete || !pending.Failed();
}

std::unique_ptr<UrlRequest> UrlSession::StartUrl(const std::string& url,
                                                 const UrlRequestOptions& options) {
    CURL* easy = curl_easy_init();
    if (!easy) return nullptr;
    auto transfer = std::make_unique<UrlRequest::Transfer>(*handle_, easy, timeouts_, options);
    using Transfer = UrlRequest::Transfer;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, agent_.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
    // Every coding the library can decode is offered, and decoded also when sent unasked.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRelocations);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeaderLine);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
    if (curl_multi_add_handle(handle_->multi, easy) != CURLM_OK) return nullptr;
    return std::unique_ptr<UrlRequest>(new UrlRequest(std::move(transfer)));
}

UrlRequest::UrlRequest(std::unique_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}

UrlRequest::~UrlRequest() = default;

std::string UrlRequest::StatusCode() const {
    long code = 0;
    curl_easy_getinfo(transfer_->easy, CURLINFO_RESPONSE_CODE, &code);
    return std::to_string(code);
}

std::string UrlRequest::EffectiveUrl() const {
    char* url = nullptr;
    curl_easy_getinfo(transfer_->easy, CURLINFO_EFFECTIVE_URL, &url);
    return url ? url : "";
}

std::string UrlRequest::Header(const char* name) const {
    curl_header* header = nullptr;
    // Request -1 is the last answer, the one after every relocation.
    if (curl_easy_header(transfer_->easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
        return {};
    if (header->amount > 1)
        curl_easy_header(transfer_->easy, name, header->amount - 1, CURLH_HEADER, -1, &header);
    return header->value;
}

bool UrlRequest::BodyTooLarge() const {
    return transfer_->bodyTooLarge;
}

std::optional<std::size_t> UrlRequest::ReadFile(char* buffer, std::size_t size) {
    Transfer& transfer = *transfer_;
    transfer.Drive([&] { return transfer.body.size() - transfer.readAt >= size; });
    std::size_t count = std::min(size, transfer.body.size() - transfer.readAt);
    if (count > 0) {
        std::memcpy(buffer, transfer.body.data() + transfer.readAt, count);
        transfer.readAt += count;
        // A document taken in whole before it is read is handed out without moving it each time.
        if (transfer.readAt == transfer.body.size()) {
            transfer.body.clear();
            transfer.readAt = 0;
        }
        return count;
    }
    if (transfer.Failed()) return std::nullopt;
    return 0;
}

}  // namespace platform
