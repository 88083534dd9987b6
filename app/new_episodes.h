// Which episodes of a scanned feed are new, and the file each one goes into. Pure: the history,
// the download folder and the other feeds' names come in, the plan goes out.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/episode_history.h"
#include "app/feed_items.h"

namespace app {

struct NewEpisode {
    std::size_t item = 0;  // index into FeedItems::items
    std::string identity;
    std::string fileName;
};

struct EpisodePlan {
    std::vector<NewEpisode> downloads;    // newest first, at most the cap
    std::vector<EpisodeRecord> recorded;  // to record before downloading: seen, or already there
    std::vector<std::string> waiting;     // identities of the new episodes beyond the cap
    std::string newestTitle;              // of the feed's newest episode
};

// What the plan needs to know of the download folder.
struct DownloadFolderView {
    std::function<bool(const std::string& name)> present;  // something of that name is there
    // The identity of the episode, of any feed, already downloaded under the name.
    std::function<std::optional<std::string>(const std::string& name)> savedAs;
};

// The guid, or without one the enclosure URL without query and fragment, so that a tracking
// parameter that changes from scan to scan does not make an old episode new.
std::string EpisodeIdentity(const FeedItem& item);

// An episode is new when the history has no record of it and its file is not in the folder (a
// file there is recorded as its download). A feed seen for the first time has only its newest
// episode new; the others are recorded as seen. Without a history (nullptr: none could be used)
// only the newest episode counts, new when its file is missing, and nothing is recorded.
EpisodePlan PlanEpisodes(const FeedItems& feed, const FeedHistory* history,
                         const DownloadFolderView& folder, std::size_t cap);

}  // namespace app
