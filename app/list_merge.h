// Saving the list when another program may have changed it since it was loaded: a three-way
// merge of what was loaded, what this program holds and what the file holds now.
#pragma once

#include <string>
#include <vector>

namespace app {

struct FeedList {
    std::vector<std::string> feeds;  // feed URLs as the user entered them, in list order
    std::string folder;              // the download folder's bytes
    bool operator==(const FeedList&) const = default;
};

// ours with the other program's changes since base: feeds it added (in its order, after ours)
// come in, feeds it removed go, and its folder holds unless ours changed the folder too.
FeedList MergeLists(const FeedList& base, const FeedList& ours, const FeedList& theirs);

}  // namespace app
