#include "app/episode_history.h"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

namespace app {

// The statements the history runs, each prepared on its first use.
enum EpisodeHistory::Statement : int {
    kLayout,
    kRecords,
    kFeed,
    kRecorded,
    kEpisodeSavedAs,
    kAddFeed,
    kKeepScan,
    kKeepValidators,
    kAddEpisode,
    kReplaceEpisode,
    kPartial,
    kPartialsOfFeed,
    kKeepPartial,
    kForgetPartial,
    kStatementCount
};

namespace {

// Raised with every change of the tables; a store of another version is not ours to change,
// except that an older one is brought up to date.
constexpr int kVersion = 2;

// Strings are kept as blobs: URLs and titles may be any bytes, and blobs compare bytewise. The
// order of recording is the order of seq; fate is 0 for seen, 1 for downloaded.
constexpr const char* kSchema = R"(
CREATE TABLE feed (
    id INTEGER PRIMARY KEY,
    url BLOB NOT NULL UNIQUE,
    scanned INTEGER NOT NULL DEFAULT 0,
    newest_title BLOB NOT NULL DEFAULT x'',
    pending INTEGER NOT NULL DEFAULT 0,
    etag BLOB NOT NULL DEFAULT x'',
    last_modified BLOB NOT NULL DEFAULT x''
);
CREATE TABLE episode (
    seq INTEGER PRIMARY KEY,
    feed INTEGER NOT NULL REFERENCES feed (id),
    identity BLOB NOT NULL,
    fate INTEGER NOT NULL,
    file_name BLOB NOT NULL,
    title BLOB NOT NULL,
    recorded_at INTEGER NOT NULL,
    UNIQUE (feed, identity)
);
CREATE INDEX recording_order ON episode (feed, seq);
CREATE INDEX downloaded_file ON episode (file_name) WHERE fate = 1;
)";

// Added in version 2: the downloads cut short, by the name of their file (the ".part" goes with
// the final name). The validator is the answer's ETag, or without one its Last-Modified date; the
// length is the whole file's, -1 when none was announced.
constexpr const char* kPartialTable = R"(
CREATE TABLE partial (
    file_name BLOB PRIMARY KEY,
    feed INTEGER NOT NULL REFERENCES feed (id),
    identity BLOB NOT NULL,
    validator BLOB NOT NULL,
    length INTEGER NOT NULL
);
)";

// Another program writing the same store holds it for one transaction at most.
constexpr int kBusyTimeoutMs = 5000;

// Both ways of recording an episode bind the same values, see Put.
constexpr std::string_view kEpisodeValues =
    " INTO episode (feed, identity, fate, file_name, title, recorded_at)"
    " SELECT id, ?2, ?3, ?4, ?5, ?6 FROM feed WHERE url = ?1";

// In the order of EpisodeHistory::Statement.
const std::string kStatementTexts[] = {
    "SELECT user_version, (SELECT count(*) FROM sqlite_schema) FROM pragma_user_version",
    "SELECT f.scanned, f.etag, f.last_modified,"
    " e.identity, e.fate, e.file_name, e.title, e.recorded_at"
    " FROM feed AS f LEFT JOIN episode AS e ON e.feed = f.id WHERE f.url = ?1 ORDER BY e.seq",
    "SELECT scanned, newest_title, pending, etag, last_modified FROM feed WHERE url = ?1",
    "SELECT 1 FROM episode WHERE feed = (SELECT id FROM feed WHERE url = ?1) AND identity = ?2",
    "SELECT identity FROM episode WHERE fate = 1 AND file_name = ?1 LIMIT 1",
    "INSERT OR IGNORE INTO feed (url) VALUES (?1)",
    "UPDATE feed SET scanned = 1, newest_title = ?2, pending = ?3 WHERE url = ?1",
    "UPDATE feed SET etag = ?2, last_modified = ?3 WHERE url = ?1",
    "INSERT OR IGNORE" + std::string(kEpisodeValues),
    "INSERT OR REPLACE" + std::string(kEpisodeValues),
    "SELECT identity, validator, length FROM partial WHERE file_name = ?1",
    "SELECT file_name, identity FROM partial"
    " WHERE feed = (SELECT id FROM feed WHERE url = ?1) ORDER BY file_name",
    "INSERT OR REPLACE INTO partial (file_name, feed, identity, validator, length)"
    " SELECT ?2, id, ?3, ?4, ?5 FROM feed WHERE url = ?1",
    "DELETE FROM partial WHERE file_name = ?1",
};

}  // namespace

// One use of a kept statement. Every step is skipped once the history is unusable, so that an
// operation runs straight through after a failure without touching the store again; resetting
// the statement at the end of the scope ends its read of the store.
class EpisodeHistory::Run {
  public:
    Run(EpisodeHistory& history, Statement which) : history_(history) {
        static_assert(std::size(kStatementTexts) == kStatementCount);
        if (!history_.Usable()) return;
        sqlite3_stmt*& kept = history_.statements_[which];
        if (!kept) {
            const std::string& text = kStatementTexts[which];
            history_.Check(sqlite3_prepare_v3(history_.db_, text.data(),
                                              static_cast<int>(text.size()),
                                              SQLITE_PREPARE_PERSISTENT, &kept, nullptr));
        }
        statement_ = kept;
    }
    ~Run() {
        if (!history_.Usable()) return;
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);  // the bound bytes belong to the caller
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    Run& Bind(const std::string& bytes) {
        if (history_.Usable())
            history_.Check(sqlite3_bind_blob64(statement_, ++bound_, bytes.data(), bytes.size(),
                                               SQLITE_STATIC));
        return *this;
    }
    Run& Bind(std::int64_t number) {
        if (history_.Usable()) history_.Check(sqlite3_bind_int64(statement_, ++bound_, number));
        return *this;
    }
    // True with a row to read; false at the end, or after a failure.
    bool Step() {
        if (!history_.Usable()) return false;
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW) return true;
        history_.Check(result);
        return false;
    }

    bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    std::int64_t Number(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string Bytes(int column) const {
        const void* bytes = sqlite3_column_blob(statement_, column);
        const int size = sqlite3_column_bytes(statement_, column);
        return bytes ? std::string(static_cast<const char*>(bytes), size) : std::string();
    }

  private:
    EpisodeHistory& history_;
    sqlite3_stmt* statement_ = nullptr;
    int bound_ = 0;
};

EpisodeHistory::EpisodeHistory(std::string path)
    : path_(std::move(path)), statements_(kStatementCount, nullptr) {
    Check(
        sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr));
    if (!Usable()) return;
    // Until the file shows itself ours, closing must not checkpoint a write-ahead log into it.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    Exec("PRAGMA synchronous = FULL");
    std::int64_t version = StoredVersion();
    if (version == 0) {
        UseWriteAheadLog();
        // Another program may be creating the same store at this moment.
        Write([&] {
            version = StoredVersion();
            if (version != 0) return;
            Exec(kSchema);
            Exec(kPartialTable);
            Exec(("PRAGMA user_version = " + std::to_string(kVersion)).c_str());
            version = kVersion;
        });
    }
    if (version == 1) {
        Write([&] {
            version = StoredVersion();  // another program may have brought it up meanwhile
            if (version != 1) return;
            Exec(kPartialTable);
            Exec("PRAGMA user_version = 2");
            version = 2;
        });
    }
    if (!Usable()) return;
    if (version == kVersion)
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    else if (version < 0)
        Fail("the database holds other tables than an episode history");
    else
        Fail("the episode history is of version " + std::to_string(version) +
             ", this program knows version " + std::to_string(kVersion));
}

EpisodeHistory::~EpisodeHistory() {
    Close();
}

std::string EpisodeHistory::PathFor(const std::string& listFile) {
    return listFile + ".history";
}

FeedHistory EpisodeHistory::Load(const std::string& feedUrl) {
    FeedHistory history;
    std::vector<EpisodeRecord> records = Records(feedUrl, &history);
    if (!Usable()) return {};
    for (EpisodeRecord& record : records)
        history.episodes.emplace(record.identity, std::move(record));
    return history;
}

void EpisodeHistory::RecordScan(const std::string& feedUrl, const std::vector<EpisodeRecord>& seen,
                                const FeedSummary& summary) {
    if (Holds(feedUrl, seen, summary)) return;
    Write([&] {
        Run(*this, kAddFeed).Bind(feedUrl).Step();
        KeepSummary(feedUrl, summary);
        for (const EpisodeRecord& episode : seen)
            Put(kAddEpisode, feedUrl, episode);
    });
}

void EpisodeHistory::RecordDownload(const std::string& feedUrl, const EpisodeRecord& episode,
                                    const FeedSummary* summary,
                                    const FeedValidators* validators) {
    Write([&] {
        Run(*this, kAddFeed).Bind(feedUrl).Step();
        Put(kReplaceEpisode, feedUrl, episode);
        Run(*this, kForgetPartial).Bind(episode.fileName).Step();
        if (summary) KeepSummary(feedUrl, *summary);
        if (validators) KeepValidators(feedUrl, *validators);
    });
}

FeedValidators EpisodeHistory::Validators(const std::string& feedUrl) {
    Run feed(*this, kFeed);
    if (!feed.Bind(feedUrl).Step()) return {};
    return {feed.Bytes(3), feed.Bytes(4)};
}

void EpisodeHistory::RecordValidators(const std::string& feedUrl,
                                      const FeedValidators& validators) {
    if (Validators(feedUrl) == validators) return;
    Write([&] {
        Run(*this, kAddFeed).Bind(feedUrl).Step();
        KeepValidators(feedUrl, validators);
    });
}

void EpisodeHistory::KeepSummary(const std::string& feedUrl, const FeedSummary& summary) {
    Run(*this, kKeepScan).Bind(feedUrl).Bind(summary.newestTitle).Bind(summary.pending).Step();
}

void EpisodeHistory::KeepValidators(const std::string& feedUrl, const FeedValidators& validators) {
    Run(*this, kKeepValidators)
        .Bind(feedUrl)
        .Bind(validators.etag)
        .Bind(validators.lastModified)
        .Step();
}

std::vector<EpisodeRecord> EpisodeHistory::List(const std::string& feedUrl) {
    std::vector<EpisodeRecord> records = Records(feedUrl, nullptr);
    if (!Usable()) return {};
    return records;
}

std::optional<std::string> EpisodeHistory::EpisodeSavedAs(const std::string& fileName) {
    Run saved(*this, kEpisodeSavedAs);
    if (!saved.Bind(fileName).Step()) return std::nullopt;
    return saved.Bytes(0);
}

std::optional<FeedSummary> EpisodeHistory::Summary(const std::string& feedUrl) {
    Run feed(*this, kFeed);
    if (!feed.Bind(feedUrl).Step() || feed.Number(0) == 0) return std::nullopt;
    return FeedSummary{feed.Bytes(1), static_cast<int>(feed.Number(2))};
}

std::optional<PartialDownload> EpisodeHistory::Partial(const std::string& fileName) {
    Run partial(*this, kPartial);
    if (!partial.Bind(fileName).Step()) return std::nullopt;
    return PartialDownload{partial.Bytes(0), partial.Bytes(1), partial.Number(2)};
}

std::map<std::string, std::string> EpisodeHistory::PartialsOf(const std::string& feedUrl) {
    std::map<std::string, std::string> partials;
    Run rows(*this, kPartialsOfFeed);
    rows.Bind(feedUrl);
    while (rows.Step())
        partials.emplace(rows.Bytes(0), rows.Bytes(1));
    if (!Usable()) return {};
    return partials;
}

void EpisodeHistory::RecordPartial(const std::string& feedUrl, const std::string& fileName,
                                   const PartialDownload& partial) {
    Write([&] {
        Run(*this, kAddFeed).Bind(feedUrl).Step();
        Run(*this, kKeepPartial)
            .Bind(feedUrl)
            .Bind(fileName)
            .Bind(partial.identity)
            .Bind(partial.validator)
            .Bind(partial.length)
            .Step();
    });
}

void EpisodeHistory::ForgetPartial(const std::string& fileName) {
    Write([&] { Run(*this, kForgetPartial).Bind(fileName).Step(); });
}

// The version of the history in the file: 0 for a new, empty one, -1 for a database of other
// content.
std::int64_t EpisodeHistory::StoredVersion() {
    Run layout(*this, kLayout);
    if (!layout.Step()) return -1;
    const std::int64_t version = layout.Number(0);
    return version == 0 && layout.Number(1) != 0 ? -1 : version;
}

// Whether the store already holds all that a scan would record: a run with nothing new then
// commits nothing, as every commit waits for the disk. One read serves all the lookups.
bool EpisodeHistory::Holds(const std::string& feedUrl, const std::vector<EpisodeRecord>& seen,
                           const FeedSummary& summary) {
    Exec("BEGIN");
    const std::optional<FeedSummary> kept = Summary(feedUrl);
    const bool holds = kept && kept->newestTitle == summary.newestTitle &&
                       kept->pending == summary.pending &&
                       std::all_of(seen.begin(), seen.end(), [&](const EpisodeRecord& episode) {
                           return Run(*this, kRecorded).Bind(feedUrl).Bind(episode.identity).Step();
                       });
    Exec("COMMIT");
    return holds;
}

// The records of the feed, oldest first; with feed given, also what is kept of the feed itself.
std::vector<EpisodeRecord> EpisodeHistory::Records(const std::string& feedUrl, FeedHistory* feed) {
    std::vector<EpisodeRecord> records;
    Run rows(*this, kRecords);
    rows.Bind(feedUrl);
    while (rows.Step()) {
        if (feed) {
            feed->known = rows.Number(0) != 0;
            feed->validators = {rows.Bytes(1), rows.Bytes(2)};
        }
        if (rows.IsNull(3)) continue;  // a feed without records
        records.push_back({rows.Bytes(3),
                           rows.Number(4) == 1 ? EpisodeFate::Downloaded : EpisodeFate::Seen,
                           rows.Bytes(5), rows.Bytes(6), rows.Number(7)});
    }
    return records;
}

void EpisodeHistory::Put(Statement statement, const std::string& feedUrl,
                         const EpisodeRecord& episode) {
    Run(*this, statement)
        .Bind(feedUrl)
        .Bind(episode.identity)
        .Bind(episode.fate == EpisodeFate::Downloaded ? 1 : 0)
        .Bind(episode.fileName)
        .Bind(episode.title)
        .Bind(episode.recordedAt)
        .Step();
}

// Runs body as one transaction that holds the store for writing from its start, so that two
// programs never both read a state and then both write from it; committed only when every step
// of body succeeded, and durable when committed.
template <typename Body>
void EpisodeHistory::Write(Body body) {
    Exec("BEGIN IMMEDIATE");
    if (!Usable()) return;
    body();
    Exec("COMMIT");
}

// The switch needs the file to itself for a moment, and SQLite does not wait for that while
// another program reads it, as one creating the same store at the same moment does.
void EpisodeHistory::UseWriteAheadLog() {
    constexpr int kRetryMs = 5;
    for (int waited = 0;; waited += kRetryMs) {
        const int result =
            sqlite3_exec(db_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        if (result != SQLITE_BUSY || waited >= kBusyTimeoutMs) return Check(result);
        sqlite3_sleep(kRetryMs);
    }
}

void EpisodeHistory::Exec(const char* sql) {
    if (Usable()) Check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr));
}

void EpisodeHistory::Check(int result) {
    if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE) return;
    Fail(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(result));
}

// The one way out on any failure. Closing rolls back a transaction left open; the file is not
// checkpointed, so a damaged store is not written into.
void EpisodeHistory::Fail(std::string problem) {
    problem_ = std::move(problem);
    if (db_) sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    Close();
}

void EpisodeHistory::Close() {
    for (sqlite3_stmt*& statement : statements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
}

}  // namespace app
