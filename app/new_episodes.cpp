#include "app/new_episodes.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "app/episode_file_name.h"

namespace app {
namespace {

// The name the program of old saved an episode under: the URL's text after its last "/", query
// included. A file of that name is the episode already downloaded, unless every item shares it.
std::string OldFileName(const FeedItem& item) {
    const std::size_t slash = item.enclosureUrl.rfind('/');
    return slash == std::string::npos ? item.enclosureUrl : item.enclosureUrl.substr(slash + 1);
}

// A URL with a control byte cannot go into a request line.
bool IsRequestable(const std::string& url) {
    return std::none_of(url.begin(), url.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

class Planner {
  public:
    Planner(const FeedItems& feed, const FeedHistory* history, const DownloadFolderView& folder)
        : feed_(feed), history_(history), folder_(folder) {
        if (history)
            for (const auto& [identity, record] : history->episodes)
                if (record.fate == EpisodeFate::Downloaded) historyNames_.insert(record.fileName);
    }

    bool Recorded(const std::string& identity) const {
        return history_ && history_->episodes.count(identity) > 0;
    }

    // Whether the name belongs to another episode: of this feed, of this plan, or of another
    // feed (the same episode in two feeds, or a feed added again, has its file once).
    bool TakenByAnother(const std::string& name, const std::string& identity) const {
        if (chosen_.count(name) > 0 || historyNames_.count(name) > 0) return true;
        const std::optional<std::string> owner = folder_.savedAs(name);
        return owner && *owner != identity;
    }

    // The item's file name, with a number when another episode has the name already.
    std::string NameFor(const FeedItem& item, const std::string& identity) {
        const bool shared = UrlNameCount(item) > 1;
        std::string name = UnusedFileName(
            EpisodeFileName(item, shared),
            [&](const std::string& n) { return TakenByAnother(n, identity); });
        chosen_.insert(name);
        return name;
    }

    // The name under which the item's file is in the folder already, if it is.
    std::optional<std::string> PresentName(const FeedItem& item, const std::string& name,
                                           const std::string& identity) {
        if (folder_.present(name)) return name;
        const std::string old = OldFileName(item);
        const bool oldShared = UrlNameCount(item) > 1;
        if (old != name && !oldShared && IsSafeFileName(old) &&
            !IsGenericFileName(UrlFileName(old)) && folder_.present(old) &&
            !TakenByAnother(old, identity))
            return old;
        return std::nullopt;
    }

  private:
    // How many items of the feed share the item's URL file name; counted when first needed, as a
    // scan with nothing new names no file.
    int UrlNameCount(const FeedItem& item) {
        if (urlNameCounts_.empty())
            for (const FeedItem& each : feed_.items)
                ++urlNameCounts_[UrlFileName(each.enclosureUrl)];
        return urlNameCounts_[UrlFileName(item.enclosureUrl)];
    }

    const FeedItems& feed_;
    const FeedHistory* history_;
    const DownloadFolderView& folder_;
    std::map<std::string, int> urlNameCounts_;
    std::set<std::string> historyNames_;
    std::set<std::string> chosen_;
};

}  // namespace

std::string EpisodeIdentity(const FeedItem& item) {
    if (!item.guid.empty()) return item.guid;
    const std::string& url = item.enclosureUrl;
    return url.substr(0, url.find_first_of("?#"));
}

EpisodePlan PlanEpisodes(const FeedItems& feed, const FeedHistory* history,
                         const DownloadFolderView& folder, std::size_t cap) {
    EpisodePlan plan;
    const std::vector<std::size_t> order = NewestFirst(feed.items);
    if (order.empty()) return plan;
    const FeedItem& newest = feed.items[order.front()];
    plan.newestTitle = newest.title.empty() ? UrlFileName(newest.enclosureUrl) : newest.title;

    Planner planner(feed, history, folder);
    const bool firstSight = !history || !history->known;
    std::set<std::string> identities;
    bool newestPassed = false;
    for (const std::size_t index : order) {
        const FeedItem& item = feed.items[index];
        if (!IsRequestable(item.enclosureUrl)) continue;
        std::string identity = EpisodeIdentity(item);
        if (planner.Recorded(identity) || !identities.insert(identity).second) continue;
        std::string name = planner.NameFor(item, identity);
        if (auto there = planner.PresentName(item, name, identity)) {
            plan.recorded.push_back({identity, EpisodeFate::Downloaded, *there, item.title, 0});
        } else if (firstSight && newestPassed) {
            plan.recorded.push_back({identity, EpisodeFate::Seen, {}, item.title, 0});
        } else if (plan.downloads.size() < cap) {
            plan.downloads.push_back({index, identity, name});
        } else {
            plan.waiting.push_back(std::move(identity));
        }
        newestPassed = true;
        if (!history) break;
    }
    if (!history) plan.recorded.clear();
    return plan;
}

}  // namespace app
