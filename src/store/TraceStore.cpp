#include "store/TraceStore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool sameRate(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::max(a, b);
}

double secondsFrom(Time a, Time b) {
    return civil::secondsBetween(a, b);
}

// Index of the first sample at or after t (half a sample of tolerance), clamped to [0, n].
std::size_t firstAtOrAfter(const Segment& s, Time t) {
    const double i = std::ceil(secondsFrom(s.start, t) / s.delta - 0.5);
    if (!(i > 0))
        return 0;
    return static_cast<std::size_t>(std::min(i, static_cast<double>(s.size())));
}

// Index just past the last sample at or before t (half a sample of tolerance), clamped.
std::size_t endAtOrBefore(const Segment& s, Time t) {
    const double i = std::floor(secondsFrom(s.start, t) / s.delta + 0.5) + 1;
    if (!(i > 0))
        return 0;
    return static_cast<std::size_t>(std::min(i, static_cast<double>(s.size())));
}

Segment slice(const Segment& s, std::size_t from, std::size_t to) {
    Segment out;
    out.channel = s.channel;
    out.delta = s.delta;
    out.start = s.timeOf(from);
    out.samples.assign(s.samples.begin() + static_cast<std::ptrdiff_t>(from),
                       s.samples.begin() + static_cast<std::ptrdiff_t>(to));
    return out;
}

} // namespace

TraceStore::TraceStore(std::chrono::seconds keep, QObject* parent)
    : QObject(parent), keep_(keep) {}

void TraceStore::setKeep(std::chrono::seconds keep) {
    std::lock_guard lock(mutex_);
    keep_ = keep;
    for (auto& [id, segments] : channels_)
        evict(segments);
}

std::chrono::seconds TraceStore::keep() const {
    std::lock_guard lock(mutex_);
    return keep_;
}

bool TraceStore::feed(const Segment& incoming) {
    if (incoming.samples.empty() || !(incoming.delta > 0) || !std::isfinite(incoming.delta))
        return false;
    {
        std::lock_guard lock(mutex_);
        std::vector<Segment>& segments = channels_[incoming.channel];
        Segment piece = incoming;
        if (!segments.empty()) {
            Segment& last = segments.back();
            const double half = 0.5 * last.delta;
            const double offset = secondsFrom(last.end(), piece.start); // < 0: reaches back
            if (sameRate(last.delta, piece.delta) && offset < half) {
                // On the same grid: drop the samples already held, join the rest.
                const double steps = -offset / last.delta;
                const bool onGrid = std::abs(steps - std::round(steps)) * last.delta < half;
                const double firstNew = std::round(steps);
                if (onGrid && secondsFrom(last.start, piece.start) > -half) {
                    if (firstNew >= static_cast<double>(piece.size()))
                        return false;
                    piece.samples.erase(piece.samples.begin(),
                                        piece.samples.begin() + static_cast<std::ptrdiff_t>(firstNew));
                    piece.start = last.end();
                    last.samples.insert(last.samples.end(), piece.samples.begin(),
                                        piece.samples.end());
                    evict(segments);
                    piece.samples.clear();
                }
            }
            if (!piece.samples.empty() && secondsFrom(last.end(), piece.start) < half) {
                // Reaches back into stored time off the grid or at another rate: the newer data
                // wins from its start on.
                while (!segments.empty() && secondsFrom(piece.start, segments.back().start) >
                                                -0.5 * segments.back().delta) {
                    segments.pop_back();
                }
                if (!segments.empty()) {
                    Segment& keepPart = segments.back();
                    keepPart.samples.resize(firstAtOrAfter(keepPart, piece.start));
                    if (keepPart.samples.empty())
                        segments.pop_back();
                }
            }
        }
        if (!piece.samples.empty()) {
            segments.push_back(std::move(piece));
            evict(segments);
        }
    }
    Q_EMIT changed(incoming.channel);
    return true;
}

void TraceStore::evict(std::vector<Segment>& segments) {
    if (segments.empty())
        return;
    const Time cutoff = civil::addSeconds(segments.back().end(), -static_cast<double>(keep_.count()));
    while (!segments.empty() && segments.front().end() <= cutoff)
        segments.erase(segments.begin());
    if (!segments.empty() && segments.front().start < cutoff) {
        Segment& first = segments.front();
        const std::size_t drop = firstAtOrAfter(first, cutoff);
        first.start = first.timeOf(drop);
        first.samples.erase(first.samples.begin(),
                            first.samples.begin() + static_cast<std::ptrdiff_t>(drop));
    }
}

void TraceStore::forget(const ChannelId& channel) {
    std::lock_guard lock(mutex_);
    channels_.erase(channel);
}

std::optional<Segment> TraceStore::continuous(const ChannelId& channel, Time from, Time to) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(channel);
    if (it == channels_.end() || it->second.empty())
        return std::nullopt;
    const Segment& s = it->second.back();
    const std::size_t a = firstAtOrAfter(s, from), b = endAtOrBefore(s, to);
    if (a >= b)
        return std::nullopt;
    return slice(s, a, b);
}

std::optional<Segment> TraceStore::window(const ChannelId& channel, Time from, Time to) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(channel);
    if (it == channels_.end() || it->second.empty() || to < from)
        return std::nullopt;
    const Segment& grid = it->second.back();
    // The newest segment's grid, extended back to the first sample at or after `from`.
    const double first = std::ceil(secondsFrom(grid.start, from) / grid.delta - 0.5);
    const double last = std::floor(secondsFrom(grid.start, to) / grid.delta + 0.5);
    if (!(last >= first) || last - first > 1e9)
        return std::nullopt;
    Segment out;
    out.channel = channel;
    out.delta = grid.delta;
    out.start = civil::addSeconds(grid.start, first * grid.delta);
    out.samples.assign(static_cast<std::size_t>(last - first) + 1,
                       std::numeric_limits<float>::quiet_NaN());
    bool any = false;
    for (const Segment& s : it->second) {
        for (std::size_t i = 0; i < s.size(); ++i) {
            const double k = std::round(secondsFrom(out.start, s.timeOf(i)) / out.delta);
            if (k >= 0 && k < static_cast<double>(out.size())) {
                out.samples[static_cast<std::size_t>(k)] = s.samples[i];
                any = true;
            }
        }
    }
    if (!any)
        return std::nullopt;
    return out;
}

std::vector<TimeSpan> TraceStore::gaps(const ChannelId& channel, Time from, Time to) const {
    std::lock_guard lock(mutex_);
    std::vector<TimeSpan> out;
    Time cursor = from;
    const auto it = channels_.find(channel);
    if (it != channels_.end()) {
        for (const Segment& s : it->second) {
            if (s.end() <= cursor || s.start >= to)
                continue;
            if (s.start > cursor)
                out.push_back({cursor, s.start});
            cursor = std::max(cursor, s.end());
        }
    }
    if (cursor < to)
        out.push_back({cursor, to});
    return out;
}

std::optional<Time> TraceStore::end(const ChannelId& channel) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(channel);
    if (it == channels_.end() || it->second.empty())
        return std::nullopt;
    return it->second.back().end();
}

std::size_t TraceStore::segmentCount(const ChannelId& channel) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(channel);
    return it == channels_.end() ? 0 : it->second.size();
}

std::size_t TraceStore::sampleCount() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [id, segments] : channels_)
        for (const Segment& s : segments)
            n += s.size();
    return n;
}
