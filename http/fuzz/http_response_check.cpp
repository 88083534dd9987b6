// Runs the HTTP client against a server whose bytes are the script, through a scripted control
// socket, twice: once reading as much as the buffer takes, once in pieces of random size. Both
// runs must end (no endless wait), raise the request's end once, send the same requests and give
// the same events and the same document; the body stream must hold what the last document's
// events delivered; a relocation is announced once. Header lines never exceed the receive buffer.
// Where the outcome rightly depends on how the reads fall rather than on the bytes, the runs are
// compared less or not at all: a line too long for the buffer (cut where the reads fall: compared
// up to it, a headerless answer's first line included), bytes a server sends beyond its response, a
// close that comes with the last bytes, a reset after a complete answer (its error code), and a
// HEAD answer that carries a document.
#include "http/fuzz/http_response_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/fuzz/scripted_socket.h"
#include "http/http_cli.h"
#include "platform/streams.h"

namespace {

constexpr std::string_view kAnswerSeparator = "~~next~~";
constexpr std::size_t kMaxAnswers = 8;
constexpr int kMaxQuietRounds = 32;  // each hangs up a connection; relocations are limited
// A line at least this long may have been cut: the cut keeps all but at most 24 of the 8190 held.
constexpr std::size_t kMaybeCutLine = 8190 - 24;

enum Option : std::uint8_t {
    kVersion11 = 1,
    kServerClosesAfterAnswer = 2,
    kCloseIsReset = 4,
    kThroughProxy = 8,
    kHead = 16,
    kCredentials = 32,
    kNoRelocation = 64,
    // The server's close comes with the answer's last bytes. How far the client got before it
    // depends on the reads then, so the runs are not compared with each other.
    kCloseWithLastBytes = 128,
};

class FuzzedClient : public THttpCli {
  public:
    explicit FuzzedClient(std::unique_ptr<TWSocket> socket)
        : THttpCli(nullptr, std::move(socket)) {}
};

struct Outcome {
    std::string violated;  // the first property found broken
    std::vector<std::string> events;
    std::string sent;
    std::string stream;
    std::string lastDocument;            // delivered by the events since the last request was sent
    std::vector<std::string> documents;  // each as it stood at its end
    int requestsDone = 0;
    bool leftOver = false;  // an answer ran on beyond the response the client took from it
    bool headerlessLineNext = false;  // the next document data is a headerless answer's first line
    std::uint16_t doneError = 0;
    bool operator==(const Outcome&) const = default;

    void Require(bool condition, const char* property) {
        if (!condition && violated.empty()) violated = property;
    }
};

std::vector<std::string> Answers(std::string_view script) {
    std::vector<std::string> answers;
    while (answers.size() + 1 < kMaxAnswers) {
        auto separator = script.find(kAnswerSeparator);
        if (separator == std::string_view::npos) break;
        answers.emplace_back(script.substr(0, separator));
        script.remove_prefix(separator + kAnswerSeparator.size());
    }
    answers.emplace_back(script);
    return answers;
}

void Record(FuzzedClient& client, const ScriptedSocket& socket, Outcome& outcome) {
    auto& events = outcome.events;
    // Bytes still unread once the client is done with a response ran on beyond it; how they fall
    // decides whether the server's close comes before the client goes on.
    auto noteRunOn = [&] {
        if (socket.HoldsUnread()) outcome.leftOver = true;
    };
    client.OnStateChange = [noteRunOn](THttpCli* sender) {
        if (sender->State() == httpReady) noteRunOn();
    };
    // A relocation or an authentication retry asks again; the stream is cut back to its start.
    client.OnRequestHeaderBegin = [&](THttpCli*) {
        events.push_back("request");
        outcome.lastDocument.clear();
    };
    client.OnHeaderBegin = [&events](THttpCli*) { events.push_back("header begin"); };
    client.OnHeaderData = [&](THttpCli* sender) {
        const std::string& line = sender->ResponseHeaderLines().back();
        outcome.Require(line.size() <= 8190 && line.find('\n') == std::string::npos,
                        "a header line fits the buffer");
        events.push_back("line " + line);
    };
    client.OnHeaderEnd = [&events](THttpCli* sender) {
        events.push_back("header end " + std::to_string(sender->StatusCode()));
    };
    client.OnDocBegin = [&](THttpCli* sender) {
        events.push_back("doc begin");
        outcome.lastDocument.clear();
        outcome.headerlessLineNext =
            sender->StatusCode() == 0 && sender->ResponseHeaderLines().empty();
    };
    client.OnDocData = [&](THttpCli*, const char* data, int length) {
        outcome.Require(length > 0, "document data is never empty");
        // Quoted, so that a line cut where the reads fell ends the comparison there.
        if (std::exchange(outcome.headerlessLineNext, false))
            events.push_back("headerless line " +
                             std::string(data, static_cast<std::size_t>(length)));
        outcome.lastDocument.append(data, static_cast<std::size_t>(length));
    };
    client.OnDocEnd = [&](THttpCli*) {
        events.push_back("doc end " + std::to_string(outcome.lastDocument.size()));
        outcome.documents.push_back(outcome.lastDocument);
    };
    // The relocating answer's body is no part of the document: the stream is cut back.
    client.OnLocationChange = [&, noteRunOn](THttpCli* sender) {
        noteRunOn();
        events.push_back("location " + sender->Location());
        outcome.lastDocument.clear();
    };
    client.OnRequestDone = [&](THttpCli* sender, THttpRequest, std::uint16_t error) {
        ++outcome.requestsDone;
        events.push_back("done " + std::to_string(sender->StatusCode()) + " " +
                         sender->StatusReason());
        outcome.doneError = error;
    };
}

bool EachRelocationAnnouncedOnce(const std::vector<std::string>& events) {
    bool announced = false;
    for (const std::string& event : events) {
        if (event.rfind("location ", 0) == 0) {
            if (announced) return false;
            announced = true;
        } else if (event == "request") {
            announced = false;
        }
    }
    return true;
}

Outcome Run(std::uint8_t options, const std::vector<std::string>& answers,
            std::function<int(int)> pieceSize) {
    auto owned = std::make_unique<ScriptedSocket>(
        answers, std::move(pieceSize),
        !(options & kServerClosesAfterAnswer) ? ScriptedSocket::ServerClose::WhenIdle
        : options & kCloseWithLastBytes       ? ScriptedSocket::ServerClose::WithLastBytes
                                              : ScriptedSocket::ServerClose::AfterLastRead,
        options & kCloseIsReset ? platform::WSAECONNRESET : 0);
    ScriptedSocket& socket = *owned;
    FuzzedClient client(std::move(owned));
    Outcome outcome;
    Record(client, socket, outcome);
    platform::MemoryStream stream;
    client.BodyStream = &stream;
    client.URL = "http://fuzz.example/feeds/episode.mp3";
    client.FollowRelocation = !(options & kNoRelocation);
    // A relocation counts once on a kept connection and twice on a new one, so where the limit
    // falls depends on whether a server's close came before the client went on: the limit is set
    // beyond what the answers can reach.
    client.LocationChangeMaxCount = 2 * kMaxAnswers;
    client.SetRequestVer(options & kVersion11 ? "1.1" : "1.0");
    if (options & kThroughProxy) {
        client.Proxy = "proxy.example";
        client.ProxyPort = "3128";
    }
    if (options & kCredentials) {
        client.Username = "user";
        client.Password = "secret";
    }
    client.StartRequest(options & kHead ? httpRqHead : httpRqGet);

    for (int quiet = 0;; ++quiet) {
        // Everything here arrives as a message: once none is left, only the server can move.
        platform::ProcessPendingMessages();
        if (outcome.requestsDone > 0 && client.State() == httpReady) break;
        // A request still running on a closed connection with nothing pending waits for ever.
        outcome.Require(socket.State() != wsClosed, "no wait on a closed connection");
        outcome.Require(quiet < kMaxQuietRounds, "the request ends");
        if (!outcome.violated.empty()) return outcome;
        socket.HangUp();
    }
    platform::ProcessPendingMessages();
    outcome.Require(outcome.requestsDone == 1, "the request's end is raised once");
    outcome.Require(EachRelocationAnnouncedOnce(outcome.events),
                    "a relocation is announced once, before its request");
    outcome.sent = socket.Sent();
    outcome.leftOver = outcome.leftOver || socket.LeftOver();
    outcome.stream = stream.Data();
    outcome.Require(outcome.stream == outcome.lastDocument, "the stream holds the last document");
    return outcome;
}

// For the one who investigates a finding: both runs, event by event.
void Print(const char* title, const Outcome& outcome) {
    std::fprintf(stderr, "--- %s\n", title);
    for (const std::string& event : outcome.events)
        std::fprintf(stderr, "%.300s\n", event.c_str());
    std::fprintf(stderr, "error: %u\nsent: %.2000s\nstream: %zu bytes\n", outcome.doneError,
                 outcome.sent.c_str(), outcome.stream.size());
}

// The events up to the first that quotes a line that may have been cut.
std::vector<std::string> UntilCutLine(const std::vector<std::string>& events) {
    std::vector<std::string> kept;
    for (const std::string& event : events) {
        // A header line, or a failure's text that quotes one.
        if (event.size() >= kMaybeCutLine) break;
        kept.push_back(event);
    }
    return kept;
}

}  // namespace

std::string CheckHttpResponseScript(std::string_view input) {
    if (input.size() < 2) return {};
    const auto options = static_cast<std::uint8_t>(input[0]);
    const auto seed = static_cast<std::uint8_t>(input[1]);
    const auto answers = Answers(input.substr(2));

    Outcome whole = Run(options, answers, [](int room) { return room; });
    std::minstd_rand random(seed + 1u);
    Outcome pieces = Run(options, answers, [&random](int room) {
        const auto roll = random();
        return roll % 4 == 0 ? room : 1 + static_cast<int>(roll >> 2) % std::min(room, 97);
    });
    for (const Outcome* run : {&whole, &pieces}) {
        if (run->violated.empty()) continue;
        Print(run == &whole ? "read whole" : "read in pieces", *run);
        return run->violated + (run == &whole ? " (read whole)" : " (read in pieces)");
    }
    if (options & kServerClosesAfterAnswer && options & kCloseWithLastBytes) return {};
    // Bytes a server sends beyond its response are read, or not, before the client asks again
    // depending on how the reads fell, and they put off the server's close that follows them: such
    // runs are not compared either.
    if (whole.leftOver || pieces.leftOver) return {};
    // A HEAD answer has no body: bytes a server sends as one (a document without a header) are
    // taken, or dropped, as the reads fall.
    const auto hasDocument = [](const Outcome& run) {
        return std::find(run.events.begin(), run.events.end(), "doc begin") != run.events.end();
    };
    if (options & kHead && (hasDocument(whole) || hasDocument(pieces))) return {};
    // A reset that follows a complete answer may overtake the posted end of the request and
    // become its error code, or come after it.
    if (options & kServerClosesAfterAnswer && options & kCloseIsReset)
        pieces.doneError = whole.doneError;

    const auto wholeEvents = UntilCutLine(whole.events);
    const auto pieceEvents = UntilCutLine(pieces.events);
    bool same;
    if (wholeEvents.size() == whole.events.size() && pieceEvents.size() == pieces.events.size()) {
        same = whole == pieces;
    } else {
        const std::size_t common = std::min(wholeEvents.size(), pieceEvents.size());
        same = std::equal(wholeEvents.begin(), wholeEvents.begin() + common, pieceEvents.begin());
    }
    if (same) return {};
    Print("read whole", whole);
    Print("read in pieces", pieces);
    return "pieces give the same run";
}
