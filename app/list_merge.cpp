#include "app/list_merge.h"

#include <string_view>
#include <unordered_map>

namespace app {
namespace {

// A feed may stand in a list more than once (the count line is trusted, so a short file gives
// empty ones); the lists are compared copy by copy: the n-th copy of a feed in one list is the
// n-th copy in the other.
using CopyCounts = std::unordered_map<std::string_view, std::size_t>;

CopyCounts CountCopies(const std::vector<std::string>& feeds) {
    CopyCounts counts;
    for (const std::string& feed : feeds)
        ++counts[feed];
    return counts;
}

std::size_t CopiesIn(const CopyCounts& counts, std::string_view feed) {
    auto found = counts.find(feed);
    return found == counts.end() ? 0 : found->second;
}

}  // namespace

FeedList MergeLists(const FeedList& base, const FeedList& ours, const FeedList& theirs) {
    FeedList merged;
    merged.folder = ours.folder != base.folder ? ours.folder : theirs.folder;
    // Where only the other program changed the list, its list stands as it is, copies and all.
    if (ours.feeds == base.feeds) {
        merged.feeds = theirs.feeds;
        return merged;
    }
    const CopyCounts inBase = CountCopies(base.feeds);
    const CopyCounts inOurs = CountCopies(ours.feeds);
    const CopyCounts inTheirs = CountCopies(theirs.feeds);
    CopyCounts seen;
    for (const std::string& feed : ours.feeds) {
        const std::size_t copy = ++seen[feed];
        const bool removedByThem =
            copy <= CopiesIn(inBase, feed) && copy > CopiesIn(inTheirs, feed);
        if (!removedByThem) merged.feeds.push_back(feed);
    }
    seen.clear();
    for (const std::string& feed : theirs.feeds) {
        const std::size_t copy = ++seen[feed];
        if (copy > CopiesIn(inBase, feed) && copy > CopiesIn(inOurs, feed))
            merged.feeds.push_back(feed);
    }
    return merged;
}

}  // namespace app
