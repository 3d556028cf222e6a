#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

// UTC calendar arithmetic without the C library's time zone machinery, so nothing here depends
// on TZ. Day counting after H. Hinnant, "chrono-Compatible Low-Level Date Algorithms".
namespace civil {

using Date = std::chrono::system_clock::time_point;

struct Fields {
    std::int64_t year;
    int month, day, hour, minute, second;
    std::int64_t nanosecond; // 0 .. 999'999'999
};

constexpr std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<std::int64_t>(y - era * 400);
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr bool isLeapYear(std::int64_t y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

constexpr int daysInMonth(std::int64_t y, int m) {
    constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// Seconds either side of 1970 that the nanosecond clock can hold, with a margin.
inline constexpr double kMaxSeconds = 9.0e9;

inline Fields fieldsOf(Date t) {
    using namespace std::chrono;
    const auto ns = duration_cast<nanoseconds>(t.time_since_epoch()).count();
    std::int64_t secs = ns / 1'000'000'000;
    std::int64_t frac = ns % 1'000'000'000;
    if (frac < 0) {
        frac += 1'000'000'000;
        --secs;
    }
    std::int64_t days = secs / 86400;
    std::int64_t sod = secs % 86400;
    if (sod < 0) {
        sod += 86400;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    return {y,
            m,
            d,
            static_cast<int>(sod / 3600),
            static_cast<int>(sod / 60 % 60),
            static_cast<int>(sod % 60),
            frac};
}

// The instant of a UTC calendar time; fields are taken as they come (no range check), and a
// time beyond what the nanosecond clock holds (about 1678 to 2262) is held at its edge rather
// than wrapped around.
inline Date dateOf(std::int64_t year, int month, int day, int hour, int minute, int second,
                   std::int64_t nanosecond = 0) {
    using namespace std::chrono;
    year = std::clamp<std::int64_t>(year, -1'000'000, 1'000'000);
    const std::int64_t secs = std::clamp<std::int64_t>(
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second,
        -static_cast<std::int64_t>(kMaxSeconds), static_cast<std::int64_t>(kMaxSeconds));
    return Date(duration_cast<system_clock::duration>(seconds(secs)) +
                duration_cast<system_clock::duration>(
                    nanoseconds(std::clamp<std::int64_t>(nanosecond, 0, 999'999'999))));
}

// Seconds from a to b, in double precision; exact to the nanosecond where the difference fits
// the clock's count, and never overflowing where it does not.
inline double secondsBetween(Date a, Date b) {
    using namespace std::chrono;
    std::int64_t diff;
    if (!__builtin_sub_overflow(b.time_since_epoch().count(), a.time_since_epoch().count(), &diff))
        return duration<double>(Date::duration(diff)).count();
    return duration<double>(b.time_since_epoch()).count() -
           duration<double>(a.time_since_epoch()).count();
}

// t moved by s seconds; saturates at the clock's range instead of overflowing for absurd values,
// and a value that is not a number moves nothing.
inline Date addSeconds(Date t, double s) {
    using namespace std::chrono;
    if (std::isnan(s))
        return t;
    const double now = duration<double>(t.time_since_epoch()).count();
    double step = s; // kept exact unless it must be cut back
    if (now + s > kMaxSeconds)
        step = kMaxSeconds - now;
    else if (now + s < -kMaxSeconds)
        step = -kMaxSeconds - now;
    if (std::abs(step) < kMaxSeconds)
        return t + duration_cast<system_clock::duration>(duration<double>(step));
    return Date(duration_cast<system_clock::duration>(
        duration<double>(std::clamp(now + s, -kMaxSeconds, kMaxSeconds))));
}

} // namespace civil

// An instant, UTC, with the clock's sub-second precision.
using Time = civil::Date;
