#include "app/feed_date.h"

#include <array>

namespace app {
namespace {

constexpr std::array<std::string_view, 7> kWeekdays = {
    "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

struct NamedZone {
    std::string_view name;
    int offsetHours;
};
constexpr std::array<NamedZone, 21> kZones = {
    {{"ut", 0},   {"gmt", 0},  {"utc", 0},  {"z", 0},    {"est", -5}, {"edt", -4}, {"cst", -6},
     {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}, {"wet", 0},  {"west", 1},
     {"bst", 1},  {"cet", 1},  {"met", 1},  {"cest", 2}, {"mest", 2}, {"eet", 2},  {"eest", 3}}};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The index of the name that the lower-case word abbreviates (its first three letters or more),
// or -1.
template <std::size_t N>
int NameIndex(const std::array<std::string_view, N>& names, std::string_view word) {
    if (word.size() < 3) return -1;
    for (std::size_t i = 0; i < N; ++i)
        if (names[i].starts_with(word)) return static_cast<int>(i);
    return -1;
}

int NumberOf(std::string_view digits) {
    int value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysSinceEpoch(int year, int month, int day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The moment the fields name, in seconds since 1970 UTC; nothing when a field is out of range.
std::optional<std::int64_t> SecondsSinceEpoch(int year, int month, int day, int hour, int minute,
                                              int second, int offsetMinutes) {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 60)
        return std::nullopt;
    return DaysSinceEpoch(year, month, day) * 86400 + hour * 3600 + minute * 60 + second -
           static_cast<std::int64_t>(offsetMinutes) * 60;
}

// The digits at text[at, at + count) as a number, or -1 when one of them is no digit.
int DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!IsDigit(text[i])) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The index of three letters among names of three letters written one after another, or -1.
int IndexOfThree(std::string_view names, std::string_view three) {
    for (std::size_t i = 0; i + 3 <= names.size(); i += 3)
        if (names[i] == three[0] && names[i + 1] == three[1] && names[i + 2] == three[2])
            return static_cast<int>(i / 3);
    return -1;
}

// The form nearly every feed writes, "Www, DD Mmm YYYY HH:MM:SS +hhmm" or with "GMT", read at its
// fixed places: scanning a large feed parses one date per item. Nothing for any other form, which
// the general parser then reads.
std::optional<std::int64_t> ParseUsualForm(std::string_view text) {
    constexpr std::string_view kShortWeekdays = "MonTueWedThuFriSatSun";
    constexpr std::string_view kShortMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const bool gmt = text.size() == 29 && text.ends_with(" GMT");
    const bool offset = text.size() == 31 && (text[26] == '+' || text[26] == '-');
    if ((!gmt && !offset) || text[3] != ',' || text[4] != ' ' || text[7] != ' ' ||
        text[11] != ' ' || text[16] != ' ' || text[19] != ':' || text[22] != ':' || text[25] != ' ')
        return std::nullopt;
    const int weekday = IndexOfThree(kShortWeekdays, text.substr(0, 3));
    const int month = IndexOfThree(kShortMonths, text.substr(8, 3));
    const int day = DigitsAt(text, 5, 2), year = DigitsAt(text, 12, 4),
              hour = DigitsAt(text, 17, 2), minute = DigitsAt(text, 20, 2),
              second = DigitsAt(text, 23, 2);
    const int zone = offset ? DigitsAt(text, 27, 4) : 0;
    if (weekday < 0 || month < 0 || day < 0 || year < 0 || hour < 0 || minute < 0 || second < 0 ||
        zone < 0 || zone % 100 > 59)
        return std::nullopt;
    const int offsetMinutes = (text[26] == '-' ? -1 : 1) * (zone / 100 * 60 + zone % 100);
    return SecondsSinceEpoch(year, month + 1, day, hour, minute, second, offsetMinutes);
}

}  // namespace

void FeedDateParser::Next(std::string_view piece) {
    for (char c : piece) {
        if (failed_) return;
        Take(c);
    }
}

void FeedDateParser::Take(char c) {
    const Kind kind = IsLetter(c) ? Kind::Letters : IsDigit(c) ? Kind::Digits : Kind::None;
    if (kind != kind_) EndToken();
    if (kind == Kind::None) {
        TakeSeparator(c);
        return;
    }
    kind_ = kind;
    // A fraction of a second changes no order worth keeping, however many digits it has.
    if (kind == Kind::Digits && phase_ == Phase::FractionDigits) return;
    if (tokenLength_ == kMaxToken) return Fail();
    token_[tokenLength_++] = Lower(c);
}

void FeedDateParser::EndToken() {
    if (kind_ == Kind::None || failed_) return;
    std::string_view token(token_, tokenLength_);
    if (kind_ == Kind::Letters)
        TakeWord(token);
    else
        TakeNumber(token);
    kind_ = Kind::None;
    tokenLength_ = 0;
}

bool FeedDateParser::ZoneMayFollow() const {
    return phase_ == Phase::Second || phase_ == Phase::Fraction || phase_ == Phase::Zone;
}

void FeedDateParser::TakeSeparator(char c) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return;
    if (c == ',' && phase_ == Phase::Comma) {
        phase_ = Phase::Day;
    } else if (c == ':' && !separatorSeen_ &&
               (phase_ == Phase::Minute || phase_ == Phase::Second ||
                phase_ == Phase::OffsetMinute)) {
        separatorSeen_ = true;
    } else if (c == '-' && !separatorSeen_ &&
               (phase_ == Phase::IsoMonth || phase_ == Phase::IsoDay)) {
        separatorSeen_ = true;
    } else if ((c == '+' || c == '-') && ZoneMayFollow() && !separatorSeen_) {
        offsetSign_ = c == '+' ? 1 : -1;
        phase_ = Phase::Offset;
    } else if (c == '.' && phase_ == Phase::Fraction) {
        phase_ = Phase::FractionDigits;
    } else {
        Fail();
    }
}

void FeedDateParser::TakeWord(std::string_view word) {
    if (phase_ == Phase::Weekday) {
        if (NameIndex(kWeekdays, word) < 0) return Fail();
        phase_ = Phase::Comma;
    } else if (phase_ == Phase::Month) {
        month_ = NameIndex(kMonths, word) + 1;
        if (month_ == 0) return Fail();
        phase_ = Phase::Year;
    } else if (phase_ == Phase::IsoTime && word == "t") {
        phase_ = Phase::Hour;
    } else if (ZoneMayFollow() && !separatorSeen_) {
        for (const NamedZone& zone : kZones) {
            if (word != zone.name) continue;
            offsetMinutes_ = zone.offsetHours * 60;
            phase_ = Phase::End;
            return;
        }
        Fail();
    } else {
        Fail();
    }
}

void FeedDateParser::TakeNumber(std::string_view digits) {
    const int value = NumberOf(digits);
    const std::size_t length = digits.size();
    switch (phase_) {
        case Phase::Weekday:
            if (length == 4) {
                year_ = value;
                phase_ = Phase::IsoMonth;
                return;
            }
            [[fallthrough]];
        case Phase::Comma:
        case Phase::Day:
            if (length > 2) return Fail();
            day_ = value;
            phase_ = Phase::Month;
            return;
        case Phase::Year:
            if (length == 2)
                year_ = value < 50 ? 2000 + value : 1900 + value;
            else if (length == 4)
                year_ = value;
            else
                return Fail();
            phase_ = Phase::Hour;
            return;
        case Phase::IsoMonth:
        case Phase::IsoDay:
            if (length != 2 || !separatorSeen_) return Fail();
            (phase_ == Phase::IsoMonth ? month_ : day_) = value;
            phase_ = phase_ == Phase::IsoMonth ? Phase::IsoDay : Phase::IsoTime;
            separatorSeen_ = false;
            return;
        case Phase::IsoTime:
        case Phase::Hour:
            if (length > 2) return Fail();
            hour_ = value;
            phase_ = Phase::Minute;
            return;
        case Phase::Minute:
        case Phase::Second:
            if (length != 2 || !separatorSeen_) return Fail();
            (phase_ == Phase::Minute ? minute_ : second_) = value;
            phase_ = phase_ == Phase::Minute ? Phase::Second : Phase::Fraction;
            separatorSeen_ = false;
            return;
        case Phase::FractionDigits:
            phase_ = Phase::Zone;
            return;
        case Phase::Offset:
            if (length == 4 && value % 100 <= 59) {
                offsetMinutes_ = offsetSign_ * (value / 100 * 60 + value % 100);
                phase_ = Phase::End;
            } else if (length == 2) {
                offsetMinutes_ = offsetSign_ * value * 60;
                phase_ = Phase::OffsetMinute;
            } else {
                Fail();
            }
            return;
        case Phase::OffsetMinute:
            if (length != 2 || !separatorSeen_ || value > 59) return Fail();
            offsetMinutes_ += offsetSign_ * value;
            phase_ = Phase::End;
            separatorSeen_ = false;
            return;
        default:
            return Fail();
    }
}

std::optional<std::int64_t> FeedDateParser::Finish() {
    EndToken();
    const bool complete = phase_ == Phase::IsoTime || phase_ == Phase::Second ||
                          phase_ == Phase::Fraction || phase_ == Phase::Zone ||
                          phase_ == Phase::End;
    if (failed_ || !complete || separatorSeen_) return std::nullopt;
    return SecondsSinceEpoch(year_, month_, day_, hour_, minute_, second_, offsetMinutes_);
}

std::optional<std::int64_t> ParseFeedDate(std::string_view text) {
    if (auto date = ParseUsualForm(text)) return date;
    FeedDateParser parser;
    parser.Next(text);
    return parser.Finish();
}

}  // namespace app
