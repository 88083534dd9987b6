#include "app/episode_history.h"

#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/server_process.h"

namespace app {
namespace {

using namespace std::chrono_literals;
using test_support::TempFolder;

const std::string kFeed = "http://a.example/feed";

// A connection of the test's own to a store, as another program would hold one.
class OtherConnection {
  public:
    explicit OtherConnection(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~OtherConnection() { sqlite3_close(db_); }
    OtherConnection(const OtherConnection&) = delete;
    OtherConnection& operator=(const OtherConnection&) = delete;

    // The first column of every row, or SQLite's message when the statement failed.
    std::string Exec(const std::string& sql) {
        std::string out;
        char* error = nullptr;
        sqlite3_exec(
            db_, sql.c_str(),
            [](void* sink, int, char** values, char**) {
                *static_cast<std::string*>(sink) += values[0] ? values[0] : "";
                return 0;
            },
            &out, &error);
        if (!error) return out;
        out = error;
        sqlite3_free(error);
        return out;
    }

  private:
    sqlite3* db_ = nullptr;
};

// A child process running body, which may report lines on the descriptor it is given. The child
// ends with _exit, so it never returns into the test framework.
class Child {
  public:
    explicit Child(const std::function<bool(int reports)>& body) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("cannot create a pipe");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("cannot fork");
        if (pid_ == 0) {
            close(fds[0]);
            bool succeeded = false;
            try {
                succeeded = body(fds[1]);
            } catch (...) {
            }
            _exit(succeeded ? 0 : 1);
        }
        close(fds[1]);
        reports_ = fds[0];
    }
    ~Child() {
        Kill();
        close(reports_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next whole line reported; nothing once the child is gone or nothing came in time.
    std::optional<std::string> NextLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (ended_) return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{reports_, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return std::nullopt;
            char chunk[512];
            const ssize_t got = read(reports_, chunk, sizeof chunk);
            if (got <= 0) ended_ = true;
            if (got > 0) buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // Whether the child ended within timeout and its body succeeded.
    bool Succeeded(std::chrono::milliseconds timeout) {
        while (NextLine(timeout)) {
        }
        int status = 0;
        if (!ended_ || waitpid(pid_, &status, 0) != pid_) return false;
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int reports_ = -1;
    std::string buffer_;
    bool ended_ = false;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Garbage(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 151 + 7);
    return bytes;
}

std::string Describe(const EpisodeRecord& record) {
    return record.identity + (record.fate == EpisodeFate::Downloaded ? " downloaded " : " seen ") +
           record.fileName + "|" + record.title + "|" + std::to_string(record.recordedAt);
}

std::vector<std::string> Described(const std::vector<EpisodeRecord>& records) {
    std::vector<std::string> described;
    for (const EpisodeRecord& record : records)
        described.push_back(Describe(record));
    return described;
}

std::vector<std::string> Described(const FeedHistory& feed) {
    std::vector<std::string> described;
    for (const auto& [identity, record] : feed.episodes)
        described.push_back(identity + ": " + Describe(record));
    return described;
}

EpisodeRecord Seen(const std::string& identity, const std::string& title, std::int64_t at) {
    return {identity, EpisodeFate::Seen, "", title, at};
}

EpisodeRecord Downloaded(const std::string& identity, std::int64_t at) {
    return {identity, EpisodeFate::Downloaded, identity + ".mp3", "", at};
}

TEST(EpisodeHistory, KeepsWhatBecameOfEachEpisodeOfEachFeedAcrossRuns) {
    // Feed keys are bytes: each of these is a feed of its own.
    const std::string feeds[] = {kFeed, "http://a.example/FEED", "http://a.example/f\xFC",
                                 "http://a.example/f\xC3\xBC", kFeed + std::string(1, '\0') + "2"};
    TempFolder folder("pd_history");
    const std::string path = EpisodeHistory::PathFor(folder / "list.txt");
    {
        EpisodeHistory history(path);
        EXPECT_FALSE(history.EpisodeSavedAs("a.mp3"));
        for (const std::string& feed : feeds) {
            const FeedHistory before = history.Load(feed);
            EXPECT_FALSE(before.known) << feed;
            EXPECT_TRUE(before.episodes.empty()) << feed;
            EXPECT_EQ(history.Summary(feed), std::nullopt) << feed;
            history.RecordScan(feed, {Seen("a", "A " + feed, 1), Seen("b", "B", 1)}, {"B", 2});
            history.RecordDownload(feed, Downloaded("a", 2));
            // The second scan still meets a, which stays downloaded.
            history.RecordScan(feed, {Seen("a", "A", 3), Seen("b", "B", 3), Seen("c", "C", 3)},
                               {"C " + feed, 1});
            history.RecordValidators(feed, {"\"e" + feed + "\"", "Mon, 01 Jan 2024 00:00:00 GMT"});
        }
        ASSERT_TRUE(history.Usable()) << history.Problem();
    }

    EpisodeHistory history(path);
    for (const std::string& feed : feeds) {
        const FeedHistory loaded = history.Load(feed);
        EXPECT_TRUE(loaded.known) << feed;
        EXPECT_EQ(Described(loaded), (std::vector<std::string>{"a: a downloaded a.mp3||2",
                                                               "b: b seen |B|1", "c: c seen |C|3"}))
            << feed;
        EXPECT_EQ(loaded.validators.etag, "\"e" + feed + "\"");
        EXPECT_EQ(loaded.validators.lastModified, "Mon, 01 Jan 2024 00:00:00 GMT");
        EXPECT_EQ(Described(history.List(feed)),
                  (std::vector<std::string>{"b seen |B|1", "a downloaded a.mp3||2", "c seen |C|3"}))
            << feed;
        const std::optional<FeedSummary> summary = history.Summary(feed);
        ASSERT_TRUE(summary) << feed;
        EXPECT_EQ(summary->newestTitle, "C " + feed);
        EXPECT_EQ(summary->pending, 1);
    }
    EXPECT_EQ(history.EpisodeSavedAs("a.mp3"), "a");
    EXPECT_FALSE(history.EpisodeSavedAs("b.mp3"));

    // A run with nothing new must not wait for the store: it writes nothing.
    OtherConnection writer(path);
    ASSERT_EQ(writer.Exec("BEGIN IMMEDIATE"), "");
    for (const std::string& feed : feeds) {
        history.RecordScan(feed, {Seen("a", "A", 4), Seen("b", "B", 4), Seen("c", "C", 4)},
                           {"C " + feed, 1});
        history.RecordValidators(feed, {"\"e" + feed + "\"", "Mon, 01 Jan 2024 00:00:00 GMT"});
    }
    EXPECT_TRUE(history.Usable()) << history.Problem();
    EXPECT_EQ(writer.Exec("COMMIT"), "");
}

TEST(EpisodeHistory, KeepsDownloadsCutShortUntilTheyLandAndUpgradesAStoreOfTheFirstVersion) {
    TempFolder folder("pd_history");
    const std::string path = folder / "list.txt.history";
    {
        // A store as the first version wrote it: no table of downloads cut short.
        EpisodeHistory(path).RecordDownload(kFeed, Downloaded("old", 1));
        OtherConnection old(path);
        ASSERT_EQ(old.Exec("DROP TABLE partial; PRAGMA user_version = 1"), "");
    }
    EpisodeHistory history(path);
    EXPECT_EQ(history.EpisodeSavedAs("old.mp3"), "old") << history.Problem();
    history.RecordPartial(kFeed, "a.mp3", {"a", "\"v1\"", 1000});
    history.RecordPartial(kFeed, "b.mp3", {"b", "Mon, 01 Jan 2024 00:00:00 GMT", -1});
    history.RecordPartial("http://other.example/feed", "c.mp3", {"c", "\"v\"", 5});
    history.RecordPartial(kFeed, "a.mp3", {"a", "\"v2\"", 2000});  // replaces the first
    const std::optional<PartialDownload> a = history.Partial("a.mp3");
    ASSERT_TRUE(a) << history.Problem();
    EXPECT_EQ(a->identity, "a");
    EXPECT_EQ(a->validator, "\"v2\"");
    EXPECT_EQ(a->length, 2000);
    EXPECT_EQ(history.PartialsOf(kFeed),
              (std::map<std::string, std::string>{{"a.mp3", "a"}, {"b.mp3", "b"}}));

    history.RecordDownload(kFeed, Downloaded("a", 2));  // landed: no longer cut short
    history.ForgetPartial("b.mp3");
    EXPECT_FALSE(history.Partial("a.mp3"));
    EXPECT_TRUE(history.PartialsOf(kFeed).empty());
    EXPECT_EQ(history.PartialsOf("http://other.example/feed").size(), 1u);
    EXPECT_TRUE(history.Usable()) << history.Problem();
    EXPECT_EQ(OtherConnection(path).Exec("PRAGMA user_version"), "2");
}

TEST(EpisodeHistory, AKillDuringWritesLosesNoDownloadRecordedBeforeIt) {
    TempFolder folder("pd_history");
    const std::string path = folder / "list.txt.history";
    Child recorder([&](int reports) {
        EpisodeHistory history(path);
        for (int i = 0; history.Usable(); ++i) {
            const std::string identity = "episode " + std::to_string(i);
            history.RecordDownload(kFeed, Downloaded(identity, i));
            const std::string line = identity + "\n";
            if (history.Usable() && write(reports, line.data(), line.size()) < 0) break;
        }
        return false;
    });
    std::vector<std::string> reported;
    while (reported.size() < 20) {
        const std::optional<std::string> line = recorder.NextLine(10s);
        ASSERT_TRUE(line) << "the recorder stopped after " << reported.size() << " downloads";
        reported.push_back(*line);
    }
    recorder.Kill();
    while (const std::optional<std::string> line = recorder.NextLine(1s))
        reported.push_back(*line);

    EpisodeHistory history(path);
    ASSERT_TRUE(history.Usable()) << history.Problem();
    EXPECT_EQ(OtherConnection(path).Exec("PRAGMA integrity_check"), "ok");
    const FeedHistory feed = history.Load(kFeed);
    for (const std::string& identity : reported)
        EXPECT_EQ(feed.episodes.count(identity), 1u) << identity;
}

TEST(EpisodeHistory, TwoProgramsRecordingAtOnceLoseNothingOfEachOther) {
    TempFolder folder("pd_history");
    const std::string path = folder / "list.txt.history";
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    const auto recorder = [&](const std::string& program) {
        return [&, program](int) {
            // Both begin when the test closes its end, creating the store at the same moment.
            close(start[1]);
            char ignored;
            if (read(start[0], &ignored, 1) != 0) return false;
            EpisodeHistory history(path);
            for (int i = 0; i < 200; ++i)
                history.RecordDownload(kFeed, Downloaded(program + std::to_string(i), i));
            return history.Usable();
        };
    };
    Child first(recorder("first ")), second(recorder("second "));
    close(start[1]);
    close(start[0]);
    EXPECT_TRUE(first.Succeeded(30s));
    EXPECT_TRUE(second.Succeeded(30s));

    EpisodeHistory history(path);
    EXPECT_EQ(history.Load(kFeed).episodes.size(), 400u) << history.Problem();
}

TEST(EpisodeHistory, AStoreThatIsNotOursOrDamagedIsLeftAsItIs) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;
    };
    const Case cases[] = {
        {"no database",
         [](const std::string& path) { test_support::WriteTextFile(path, Garbage(8192)); }},
        {"damaged pages",
         [](const std::string& path) {
             {
                 std::vector<EpisodeRecord> seen;
                 for (int i = 0; i < 2000; ++i)
                     seen.push_back(Seen("episode " + std::to_string(i), std::string(100, 't'), i));
                 EpisodeHistory(path).RecordScan(kFeed, seen, {"t", 0});
             }
             const std::size_t size = ReadBytes(path).size();
             std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
             file.seekp(static_cast<std::streamoff>(size * 3 / 8));
             file << Garbage(size / 4);
         }},
        {"other tables",
         [](const std::string& path) { OtherConnection(path).Exec("CREATE TABLE other (x)"); }},
        {"newer version",
         [](const std::string& path) {
             EpisodeHistory(path).RecordDownload(kFeed, Downloaded("a", 1));
             OtherConnection(path).Exec("PRAGMA user_version = 3");
         }},
    };
    for (const Case& c : cases) {
        TempFolder folder("pd_history");
        const std::string path = folder / "list.txt.history";
        c.make(path);
        const std::string bytes = ReadBytes(path);
        EXPECT_NO_THROW({
            EpisodeHistory history(path);
            EXPECT_FALSE(history.Load(kFeed).known) << c.name;
            EXPECT_TRUE(history.List(kFeed).empty()) << c.name;
            EXPECT_EQ(history.Summary(kFeed), std::nullopt) << c.name;
            EXPECT_FALSE(history.EpisodeSavedAs("a.mp3")) << c.name;
            history.RecordScan(kFeed, {Seen("new", "New", 5)}, {"New", 1});
            history.RecordDownload(kFeed, Downloaded("new", 5));
            history.RecordValidators(kFeed, {"\"e\"", ""});
            EXPECT_FALSE(history.Usable()) << c.name;
            EXPECT_FALSE(history.Problem().empty()) << c.name;
        }) << c.name;
        EXPECT_EQ(ReadBytes(path), bytes) << c.name;
    }
}

}  // namespace
}  // namespace app
