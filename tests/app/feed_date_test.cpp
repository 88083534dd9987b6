#include "app/feed_date.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace app {
namespace {

constexpr std::int64_t kDay = 86400;
// 2003-06-10 04:00:00 UTC.
constexpr std::int64_t kJune10 = 1055217600;

struct Case {
    const char* text;
    std::optional<std::int64_t> expected;
};

const Case kCases[] = {
    {"Tue, 10 Jun 2003 04:00:00 GMT", kJune10},
    {"Tue, 10 Jun 2003 06:00:00 +0200", kJune10},
    {"Mon, 09 Jun 2003 23:30:00 -0430", kJune10},
    {"10 Jun 2003 04:00:00 GMT", kJune10},       // no weekday
    {"Tue, 10 Jun 03 04:00:00 GMT", kJune10},    // two-digit year
    {"Tue, 10 Jun 2003 00:00:00 EDT", kJune10},  // named zone
    {"Mon, 9 Jun 2003 20:00:00 PST", kJune10},   // one-digit day
    {"Tue, 10 Jun 2003 04:00 GMT", kJune10},     // no seconds
    {"Tue, 10 Jun 2003 04:00:00 Z", kJune10},
    {"Tue, 10 Jun 2003 04:00:00 UT", kJune10},
    {"Tue, 10 Jun 2003 04:00:00", kJune10},               // no zone: UTC
    {"  Tuesday, 10 JUNE 2003 04:00:00 gmt\n", kJune10},  // full names, any case, spaces
    {"Tue 10 Jun 2003 04:00:00 +0000", kJune10},
    {"Sat, 01 Jan 1955 00:00:00 GMT", -15 * 365 * kDay - 4 * kDay},
    {"Sat, 01 Jan 55 00:00:00 GMT", -15 * 365 * kDay - 4 * kDay},  // 50-99 are 19xx
    {"Tue, 29 Feb 2000 00:00:00 GMT", 951782400},
    {"Fri, 31 Dec 2049 23:59:60 GMT", 2524607999 + 1},
    // Every zone form feeds use.
    {"Tue, 10 Jun 2003 04:00:00 UTC", kJune10},
    {"Tue, 10 Jun 2003 06:00:00 +02:00", kJune10},
    {"Mon, 09 Jun 2003 23:30:00 -04:30", kJune10},
    {"Tue, 10 Jun 2003 05:00:00 CET", kJune10},
    {"Tue, 10 Jun 2003 06:00:00 CEST", kJune10},
    {"Tue, 10 Jun 2003 05:00:00 MET", kJune10},
    {"Tue, 10 Jun 2003 06:00:00 MEST", kJune10},
    {"Tue, 10 Jun 2003 05:00:00 BST", kJune10},
    {"Tue, 10 Jun 2003 04:00:00 WET", kJune10},
    {"Tue, 10 Jun 2003 05:00:00 WEST", kJune10},
    {"Tue, 10 Jun 2003 06:00:00 EET", kJune10},
    {"Tue, 10 Jun 2003 07:00:00 EEST", kJune10},
    // The ISO form of Atom and dc:date.
    {"2003-06-10T04:00:00Z", kJune10},
    {"2003-06-10t04:00:00z", kJune10},
    {"2003-06-10T04:00:00.123456789012345Z", kJune10},
    {"2003-06-10T06:00:00+02:00", kJune10},
    {"2003-06-09T23:00:00-0500", kJune10},
    {"2003-06-10T05:00+01:00", kJune10},  // no seconds
    {"2003-06-10 04:00:00", kJune10},     // a space for the "T", no zone: UTC
    {"2003-06-10", kJune10 - 4 * 3600},   // a date alone: its midnight
    {" 2000-02-29T00:00:00Z\n", 951782400},
    // No date: wrong fields, ranges, days the month lacks, foreign forms.
    {"", std::nullopt},
    {"Tue, 10 Jun 2003", std::nullopt},
    {"Tue, 10 Jun 2003 04", std::nullopt},
    {"Tue, 10 Jun 2003 04:00:", std::nullopt},
    {"Tue, 10 Jun 2003 04:00:00 IST", std::nullopt},  // Irish, Israeli or Indian
    {"Tue, 10 Jun 2003 04:00:00 +02:", std::nullopt},
    {"Tue, 10 Jun 2003 04:00:00 +02:60", std::nullopt},
    {"Tue, 10 Jun 2003 04:00:00 +02", std::nullopt},
    {"Tue, 10 Jun 2003 04:00:00 +0260", std::nullopt},
    {"Tue, 10 Jun 2003 04:00:00 GMT extra", std::nullopt},
    {"Tue, 31 Jun 2003 04:00:00 GMT", std::nullopt},
    {"Mon, 29 Feb 1900 00:00:00 GMT", std::nullopt},
    {"Tue, 10 Jun 2003 24:00:00 GMT", std::nullopt},
    {"Tue, 10 Jun 2003 04:60:00 GMT", std::nullopt},
    {"Tue, 10 Jux 2003 04:00:00 GMT", std::nullopt},
    {"Tu, 10 Jun 2003 04:00:00 GMT", std::nullopt},
    {"Tue, 10 Jun 203 04:00:00 GMT", std::nullopt},
    {"Tue, 100 Jun 2003 04:00:00 GMT", std::nullopt},
    {"2003-06-10T04:00:00.Z", std::nullopt},
    {"2003-06-10T04:00:00.5.5Z", std::nullopt},
    {"2003-06-10T04", std::nullopt},
    {"2003-06-10T", std::nullopt},
    {"2003-6-10", std::nullopt},
    {"2003-13-10", std::nullopt},
    {"2003-02-29", std::nullopt},
    {"2003-06", std::nullopt},
    {"2003-06-10Z", std::nullopt},
    {"2003-06-10T04:00:00Z+01:00", std::nullopt},
    {"20030610T040000Z", std::nullopt},
    {"Tue,, 10 Jun 2003 04:00:00 GMT", std::nullopt},
    {"Septembers 10 2003", std::nullopt},
};

TEST(FeedDate, ReadsTheRssAndIsoFormsAndTheirVariants) {
    for (const Case& c : kCases)
        EXPECT_EQ(ParseFeedDate(c.text), c.expected) << '"' << c.text << '"';
}

TEST(FeedDate, GivesTheSameWhereverTheTextIsSplit) {
    for (const Case& c : kCases) {
        const std::string text = c.text;
        for (std::size_t split = 0; split <= text.size(); ++split) {
            FeedDateParser parser;
            parser.Next(std::string_view(text).substr(0, split));
            parser.Next(std::string_view(text).substr(split));
            EXPECT_EQ(parser.Finish(), c.expected) << '"' << text << "\" split at " << split;
        }
    }
}

TEST(FeedDate, AnEndlessTextCostsNothing) {
    FeedDateParser parser;
    const std::string spaces(1 << 16, ' ');
    for (int i = 0; i < 16; ++i)
        parser.Next(spaces);
    parser.Next("Tue, 10 Jun 2003 04:00:00 GMT");
    EXPECT_EQ(parser.Finish(), kJune10);
    FeedDateParser longWord;
    longWord.Next(std::string(1 << 20, 'x'));
    EXPECT_EQ(longWord.Finish(), std::nullopt);
}

}  // namespace
}  // namespace app
