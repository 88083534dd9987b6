// The dates of RSS items ("pubDate"): the RFC 822 form with the variants feeds use, read piece by
// piece into seconds since 1970 in UTC, so that items can be ordered by age.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace app {

// Accepts "[Weekday,] D Month YY[YY] H:MM[:SS] [Zone]": weekday and month written short or in
// full and in any case, two-digit years (00-49 are 20xx, 50-99 are 19xx), a named zone (UT, GMT,
// Z, the North American zones) or a numeric offset such as "+0200"; no zone counts as UTC.
// Anything else, a field out of range or a day the month does not have, is no date. The parser
// holds no more than one short token, so a text of any length costs no memory.
class FeedDateParser {
  public:
    // Consumes the next piece of the text; stops taking input once the text is known to be bad.
    void Next(std::string_view piece);
    // The date, once the whole text has been given; nothing when it is no date.
    std::optional<std::int64_t> Finish();

  private:
    enum class Phase { Weekday, Comma, Day, Month, Year, Hour, Minute, Second, Zone, Offset, End };
    enum class Kind { None, Letters, Digits };

    void Take(char c);
    void EndToken();
    void TakeSeparator(char c);
    void TakeWord(std::string_view word);
    void TakeNumber(std::string_view digits);
    void Fail() { failed_ = true; }

    static constexpr std::size_t kMaxToken = 9;  // "September", "Wednesday"

    Phase phase_ = Phase::Weekday;
    bool failed_ = false;
    Kind kind_ = Kind::None;
    char token_[kMaxToken] = {};
    std::size_t tokenLength_ = 0;
    bool colonSeen_ = false;  // a ":" waits for the minutes or seconds
    int offsetSign_ = 0;
    int day_ = 0, month_ = 0, year_ = 0, hour_ = 0, minute_ = 0, second_ = 0;
    int offsetMinutes_ = 0;
};

// The whole text at once.
std::optional<std::int64_t> ParseFeedDate(std::string_view text);

}  // namespace app
