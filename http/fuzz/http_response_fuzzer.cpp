// Runs the HTTP client against a server whose bytes are the input, through a scripted control
// socket, twice: once reading as much as the buffer takes, once in pieces of random size. Both
// runs must end (no endless wait), raise the request's end once, send the same requests and give
// the same events and the same document; the body stream must hold what the last document's
// events delivered. Header lines never exceed the receive buffer. A line too long for the buffer
// is cut where the reads happen to fall, so the runs are compared only up to the first such line.
//
// The input: an options byte, a seed byte for the piece sizes, then the server's answers to the
// successive requests, separated by "~~next~~".
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
#include <vector>

#include "http/fuzz/scripted_socket.h"
#include "http/http_cli.h"
#include "platform/headless_application.h"
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
};

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "violated: %s\n", what);
    std::abort();
}

class FuzzedClient : public THttpCli {
  public:
    explicit FuzzedClient(std::unique_ptr<TWSocket> socket)
        : THttpCli(nullptr, std::move(socket)) {}
};

struct Outcome {
    std::vector<std::string> events;
    std::string sent;
    std::string stream;
    std::string lastDocument;  // delivered by the events since the last request was sent
    int requestsDone = 0;
    bool operator==(const Outcome&) const = default;
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

void Record(FuzzedClient& client, Outcome& outcome) {
    auto& events = outcome.events;
    // A relocation or an authentication retry asks again; the stream is cut back to its start.
    client.OnRequestHeaderBegin = [&](THttpCli*) {
        events.push_back("request");
        outcome.lastDocument.clear();
    };
    client.OnHeaderBegin = [&events](THttpCli*) { events.push_back("header begin"); };
    client.OnHeaderData = [&events](THttpCli* sender) {
        const std::string& line = sender->ResponseHeaderLines().back();
        Require(line.size() <= 8190 && line.find('\n') == std::string::npos,
                "a header line fits the buffer");
        events.push_back("line " + line);
    };
    client.OnHeaderEnd = [&events](THttpCli* sender) {
        events.push_back("header end " + std::to_string(sender->StatusCode()));
    };
    client.OnDocBegin = [&](THttpCli*) {
        events.push_back("doc begin");
        outcome.lastDocument.clear();
    };
    client.OnDocData = [&](THttpCli*, const char* data, int length) {
        Require(length > 0, "document data is never empty");
        outcome.lastDocument.append(data, static_cast<std::size_t>(length));
    };
    client.OnDocEnd = [&](THttpCli*) { events.push_back("doc end " + outcome.lastDocument); };
    client.OnLocationChange = [&events](THttpCli* sender) {
        events.push_back("location " + sender->Location());
    };
    client.OnRequestDone = [&](THttpCli* sender, THttpRequest, std::uint16_t error) {
        ++outcome.requestsDone;
        events.push_back("done " + std::to_string(sender->StatusCode()) + " " +
                         sender->StatusReason() + " " + std::to_string(error));
    };
}

Outcome Run(std::uint8_t options, const std::vector<std::string>& answers,
            std::function<int(int)> pieceSize) {
    auto owned = std::make_unique<ScriptedSocket>(
        answers, std::move(pieceSize), options & kServerClosesAfterAnswer,
        options & kCloseIsReset ? platform::WSAECONNRESET : 0);
    ScriptedSocket& socket = *owned;
    FuzzedClient client(std::move(owned));
    Outcome outcome;
    Record(client, outcome);
    platform::MemoryStream stream;
    client.BodyStream = &stream;
    client.URL = "http://fuzz.example/feeds/episode.mp3";
    client.FollowRelocation = !(options & kNoRelocation);
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

    for (int quiet = 0; !(outcome.requestsDone > 0 && client.State() == httpReady); ++quiet) {
        // Everything here arrives as a message: once none is left, only the server can move.
        Require(quiet < kMaxQuietRounds, "the request ends");
        platform::ProcessPendingMessages();
        if (outcome.requestsDone > 0 && client.State() == httpReady) break;
        // A request still running on a closed connection with nothing pending waits for ever.
        Require(socket.State() != wsClosed, "no wait on a closed connection");
        socket.HangUp();
    }
    platform::ProcessPendingMessages();
    Require(outcome.requestsDone == 1, "the request's end is raised once");
    outcome.sent = socket.Sent();
    outcome.stream = stream.Data();
    Require(outcome.stream == outcome.lastDocument, "the stream holds the last document");
    return outcome;
}

// The events up to the first line that may have been cut.
std::vector<std::string> UntilCutLine(const std::vector<std::string>& events) {
    std::vector<std::string> kept;
    for (const std::string& event : events) {
        if (event.rfind("line ", 0) == 0 && event.size() - 5 >= kMaybeCutLine) break;
        kept.push_back(event);
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static platform::HeadlessApplication application;
    static auto* previous = platform::SetApplication(&application);
    (void)previous;
    if (size < 2) return -1;
    const std::uint8_t options = data[0];
    const std::uint8_t seed = data[1];
    const auto answers = Answers({reinterpret_cast<const char*>(data) + 2, size - 2});

    const Outcome whole = Run(options, answers, [](int room) { return room; });
    std::minstd_rand random(seed + 1u);
    const Outcome pieces = Run(options, answers, [&random](int room) {
        const auto roll = random();
        return roll % 4 == 0 ? room : 1 + static_cast<int>(roll >> 2) % std::min(room, 97);
    });

    const auto wholeEvents = UntilCutLine(whole.events);
    const auto pieceEvents = UntilCutLine(pieces.events);
    if (wholeEvents.size() == whole.events.size() && pieceEvents.size() == pieces.events.size()) {
        Require(whole == pieces, "pieces give the same run");
    } else {
        const std::size_t common = std::min(wholeEvents.size(), pieceEvents.size());
        Require(std::equal(wholeEvents.begin(), wholeEvents.begin() + common, pieceEvents.begin()),
                "pieces give the same run up to a cut line");
    }
    return 0;
}
