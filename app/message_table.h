// The texts of the application's own message boxes, German then English.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace app {

constexpr int kMessagesPerLanguage = 13;

// Text and caption of the refusal of a run while another run of the same list is under way.
constexpr int kAnotherRunMessage = 11;

// Entry language x kMessagesPerLanguage + k is message k in that language (0 German, 1 English).
extern const std::array<std::string_view, 2 * kMessagesPerLanguage> MessageTable;

// Texts added to the original table, for failures it never reported. "%1", "%2" stand for the
// values filled in by FillIn.
enum class FailureText {
    CannotCreateFolder,  // %1 the folder, %2 the reason
    FailedDownloadsCaption,
    FailedDownloadsIntro,  // the line above the list of failed episodes
    MoreFailures,          // %1 the number of failed episodes not listed
    NothingReceived,       // %1 the host, %2 the seconds the download waited
    EmptyAnswer,
    NotHttp,  // the server answered without an HTTP status line
    HistoryUnusable,  // %1 the history's file, %2 the reason
    FeedTooLarge,     // %1 the limit in MiB
};
constexpr int kFailureTextsPerLanguage = 9;

// The text in the language (0 German, 1 English).
std::string_view FailureTextIn(std::uint8_t language, FailureText text);

// text with each "%n" replaced by the n-th value (from 1).
std::string FillIn(std::string_view text, std::initializer_list<std::string_view> values);

}  // namespace app
