// The command-line program's own lines, German and English like the message table; "%s" in a text
// stands for its subject (a feed URL, a file path).
#pragma once

#include <cstdint>
#include <string>

namespace app::cli {

enum class TerminalText {
    FeedWithoutEnclosures,  // subject: the feed URL
    DownloadFailed,         // subject: "file name: reason"
    EmptyList,              // subject: the list file
    UnreadableList,         // subject: the list file
    ListFull,
    NoSuchFeed,  // subject: the number or URL given
    EmptyListNotKept,
    TimeLeft,  // subject: the time, "m:ss"
    NotScanned,
    NewestEpisode,   // subject: the title
    WaitingEpisodes, // subject: how many
    Downloaded,      // subject: the file name
    PassedOver,
    NothingRecorded,  // subject: the feed URL
    HistoryUnusable,  // subject: "file (reason)"
};

// The text in language 0 (German) or 1 (English) with subject in place of "%s".
std::string TextOf(std::uint8_t language, TerminalText text, const std::string& subject = "");

}  // namespace app::cli
