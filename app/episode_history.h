// The episode history: what became of each episode of each feed, kept across runs and shared by
// the window program and the command-line program. An SQLite database beside the list file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace app {

enum class EpisodeFate { Seen, Downloaded };

struct EpisodeRecord {
    std::string identity;  // the item's guid, or its enclosure URL without query and fragment
    EpisodeFate fate = EpisodeFate::Seen;
    std::string fileName;  // for Downloaded: the name the file was saved under
    std::string title;
    std::int64_t recordedAt = 0;  // seconds since 1970 UTC
};

// The HTTP validators of a feed's last full answer, sent back to ask whether it changed.
struct FeedValidators {
    std::string etag;
    std::string lastModified;
    bool operator==(const FeedValidators&) const = default;
};

// A download cut short, kept as its ".part" file to be continued.
struct PartialDownload {
    std::string identity;   // of the episode
    std::string validator;  // the answer's ETag, or its Last-Modified date
    std::int64_t length = -1;  // of the whole file; -1 when not announced
};

// What the last scan of a feed found, for the command-line program's list.
struct FeedSummary {
    std::string newestTitle;
    int pending = 0;  // new episodes left for later runs
};

struct FeedHistory {
    bool known = false;  // the feed has been scanned before
    std::map<std::string, EpisodeRecord> episodes;  // by identity
    FeedValidators validators;
};

class EpisodeHistory {
  public:
    // Opens the store at path, creating it when there is no file; a file that is no store of
    // ours, or a damaged one, is left untouched and makes the history unusable. Safe to share
    // with another program using the same path at the same time.
    explicit EpisodeHistory(std::string path);
    ~EpisodeHistory();
    EpisodeHistory(const EpisodeHistory&) = delete;
    EpisodeHistory& operator=(const EpisodeHistory&) = delete;

    // The store of the list file listFile: listFile + ".history".
    static std::string PathFor(const std::string& listFile);

    const std::string& Path() const { return path_; }
    // False once the store could not be opened or any of its operations failed; every operation
    // then does nothing (reads give empty results) and Problem says in SQLite's words what
    // failed. It does not name the path: the caller's message does.
    bool Usable() const { return db_ != nullptr; }
    const std::string& Problem() const { return problem_; }

    FeedHistory Load(const std::string& feedUrl);
    // One transaction: marks the feed as known, records each of seen whose identity has no
    // record yet, and keeps the summary. A scan that brings nothing new writes nothing.
    void RecordScan(const std::string& feedUrl, const std::vector<EpisodeRecord>& seen,
                    const FeedSummary& summary);
    // One transaction, durable when it returns: the episode downloaded, replacing any record of
    // its identity (it then counts as recorded last) and forgetting its download cut short; with
    // them the feed's summary and validators when given, as RecordScan and RecordValidators keep
    // them.
    void RecordDownload(const std::string& feedUrl, const EpisodeRecord& episode,
                        const FeedSummary* summary = nullptr,
                        const FeedValidators* validators = nullptr);
    // The validators kept for the feed; empty for a feed never recorded.
    FeedValidators Validators(const std::string& feedUrl);
    void RecordValidators(const std::string& feedUrl, const FeedValidators& validators);
    // The download cut short whose file is fileName + ".part"; RecordDownload of that name
    // forgets it.
    std::optional<PartialDownload> Partial(const std::string& fileName);
    // The feed's downloads cut short: identity by file name.
    std::map<std::string, std::string> PartialsOf(const std::string& feedUrl);
    void RecordPartial(const std::string& feedUrl, const std::string& fileName,
                       const PartialDownload& partial);
    void ForgetPartial(const std::string& fileName);
    // Every record of the feed, oldest first.
    std::vector<EpisodeRecord> List(const std::string& feedUrl);
    // The identity of the episode, of any feed, that was downloaded under fileName.
    std::optional<std::string> EpisodeSavedAs(const std::string& fileName);
    // Nothing for a feed never scanned.
    std::optional<FeedSummary> Summary(const std::string& feedUrl);

  private:
    class Run;
    enum Statement : int;

    std::int64_t StoredVersion();
    bool Holds(const std::string& feedUrl, const std::vector<EpisodeRecord>& seen,
               const FeedSummary& summary);
    std::vector<EpisodeRecord> Records(const std::string& feedUrl, FeedHistory* feed);
    void Put(Statement statement, const std::string& feedUrl, const EpisodeRecord& episode);
    // Steps of a write; the feed's row must exist.
    void KeepSummary(const std::string& feedUrl, const FeedSummary& summary);
    void KeepValidators(const std::string& feedUrl, const FeedValidators& validators);
    template <typename Body>
    void Write(Body body);
    void UseWriteAheadLog();
    void Exec(const char* sql);
    void Check(int result);
    void Fail(std::string problem);
    void Close();

    std::string path_;
    sqlite3* db_ = nullptr;
    std::vector<sqlite3_stmt*> statements_;  // prepared on first use, kept for the object's life
    std::string problem_;
};

}  // namespace app
