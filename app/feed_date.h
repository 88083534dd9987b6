// The dates of feed items: RSS "pubDate" in the RFC 822 form with the variants feeds use, and
// the ISO 8601 form (RFC 3339) of Atom and "dc:date", read piece by piece into seconds since 1970
// in UTC, so that items can be ordered by age.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace app {

// Accepts "[Weekday,] D Month YY[YY] H:MM[:SS] [Zone]": weekday and month written short or in
// full and in any case, two-digit years (00-49 are 20xx, 50-99 are 19xx), a named zone or a
// numeric offset such as "+0200" or "+02:00"; no zone counts as UTC. The named zones are UT, GMT,
// UTC, Z, the North American ones and the European CET, CEST, MET, MEST, BST, WET, WEST, EET and
// EEST; names that stand for several zones (IST, for one) are no zone.
// Accepts as well "YYYY-MM-DD[THH:MM[:SS[.fraction]][Zone]]" (a space may stand for the "T"): a
// date alone is its midnight in UTC.
// Anything else, a field out of range or a day the month does not have, is no date. The parser
// holds no more than one short token, so a text of any length costs no memory.
class FeedDateParser {
  public:
    // Consumes the next piece of the text; stops taking input once the text is known to be bad.
    void Next(std::string_view piece);
    // The date, once the whole text has been given; nothing when it is no date.
    std::optional<std::int64_t> Finish();

  private:
    // What the parser expects next: the fields in the order they are written; a phase that may
    // end the text is named in Finish.
    enum class Phase {
        Weekday,         // a weekday, a day or the year of the ISO form
        Comma,           // "," after the weekday
        Day,             // the day
        Month,           // the month's name
        Year,            // the year
        IsoMonth,        // "-MM" after the year
        IsoDay,          // "-DD" after the month
        IsoTime,         // "T" or a space and the hour, or the end of a date alone
        Hour,            // the hour
        Minute,          // ":MM"
        Second,          // ":SS", or the zone
        Fraction,        // ".fraction" of the second, or the zone
        FractionDigits,  // the digits after "."
        Zone,            // a zone name or a "+" or "-" offset
        Offset,          // "hhmm", or "hh" of "hh:mm"
        OffsetMinute,    // ":mm" of the offset
        End,             // nothing more
    };
    enum class Kind { None, Letters, Digits };

    void Take(char c);
    void EndToken();
    bool ZoneMayFollow() const;
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
    bool separatorSeen_ = false;  // a ":" or "-" waits for the number it leads to
    int offsetSign_ = 0;
    int day_ = 0, month_ = 0, year_ = 0, hour_ = 0, minute_ = 0, second_ = 0;
    int offsetMinutes_ = 0;
};

// The whole text at once.
std::optional<std::int64_t> ParseFeedDate(std::string_view text);

}  // namespace app
