#pragma once

#include "base/Time.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

// A drum's layout: a span cut into rows of equal length, oldest at the top. Which row and where
// along it a time falls, and back.
struct DrumRows {
    Time first{}; // start of the top row
    int count = 48;
    double seconds = 1800; // per row

    Time end() const { return civil::addSeconds(first, count * seconds); }
    Time rowStart(int row) const { return civil::addSeconds(first, row * seconds); }
    Time timeAt(int row, double fraction) const {
        return civil::addSeconds(rowStart(row), fraction * seconds);
    }
    // Row and fraction along it in [0, 1); nothing outside the drum.
    std::optional<std::pair<int, double>> position(Time t) const {
        if (!(seconds > 0) || count <= 0)
            return std::nullopt;
        const double s = civil::secondsBetween(first, t);
        if (s < 0 || s >= count * seconds)
            return std::nullopt;
        const int row = std::min(count - 1, static_cast<int>(std::floor(s / seconds)));
        return std::pair{row, (s - row * seconds) / seconds};
    }
    // `hours` of rows of `rowMinutes`, cut at whole multiples of the row length, the last row
    // holding `now`.
    static DrumRows ending(Time now, int hours, int rowMinutes) {
        DrumRows r;
        r.seconds = std::max(1, rowMinutes) * 60.0;
        r.count =
            std::max(1, static_cast<int>(std::lround(std::max(1, hours) * 3600.0 / r.seconds)));
        const double epoch = std::chrono::duration<double>(now.time_since_epoch()).count();
        const double newest = std::floor(epoch / r.seconds) * r.seconds;
        r.first = civil::addSeconds(Time{}, newest - (r.count - 1) * r.seconds);
        return r;
    }
    friend bool operator==(const DrumRows&, const DrumRows&) = default;
};
