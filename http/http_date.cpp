#include "http/http_date.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

std::string HttpDateText(double dateTime) {
    using namespace std::chrono;
    constexpr std::int64_t kMsPerDay = 86'400'000;
    // Rounded to the millisecond first, so that 23:59:59.9996 becomes the next day's midnight.
    auto totalMs = static_cast<std::int64_t>(std::llround(dateTime * kMsPerDay));
    std::int64_t days = totalMs / kMsPerDay - (totalMs % kMsPerDay < 0 ? 1 : 0);
    std::int64_t msOfDay = totalMs - days * kMsPerDay;

    year_month_day date{sys_days{1899y / December / 30} + std::chrono::days{days}};
    // Day 0 was a Saturday, so day 2 is the first Monday.
    static const char* const kWeekdays = "MonTueWedThuFriSatSun";
    static const char* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    auto weekday = static_cast<int>(((days - 2) % 7 + 7) % 7);
    auto month = static_cast<unsigned>(date.month()) - 1;
    auto seconds = static_cast<int>(msOfDay / 1000);

    char text[40];
    std::snprintf(text, sizeof text, "%.3s, %2.2u %.3s %4.4d %2.2d:%2.2d:%2.2d",
                  kWeekdays + weekday * 3, static_cast<unsigned>(date.day()), kMonths + month * 3,
                  static_cast<int>(date.year()), seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}
