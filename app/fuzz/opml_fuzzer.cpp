// Reads arbitrary bytes as an OPML document. Whatever it gives must be a list the list file can
// hold (no empty address, no control character, each once), nothing at all with a problem, and
// the same feeds again after being written out as OPML and read back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "app/opml.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const app::OpmlFeeds read = app::ReadOpml(input);
    if (read.problem != app::OpmlProblem::None) {
        Require(read.feeds.empty());
        return 0;
    }
    std::set<std::string> seen;
    for (const std::string& feed : read.feeds) {
        Require(!feed.empty() && seen.insert(feed).second);
        Require(std::none_of(feed.begin(), feed.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        }));
    }
    const app::OpmlFeeds again = app::ReadOpml(app::WriteOpml(read.feeds, "fuzz"));
    Require(again.problem == app::OpmlProblem::None && again.feeds == read.feeds);
    return 0;
}
