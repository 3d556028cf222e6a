#include "store/TraceStore.h"

#include "base/DateText.h"
#include "base/SystemLog.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

bool sameRate(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::max(a, b);
}

// Within half a count is one count: a stream's integers and a service's floats of the same
// samples differ by their rounding.
bool sameSample(float a, float b) {
    return a == b || std::abs(a - b) <= std::max(0.5f, 1e-6f * std::max(std::abs(a), std::abs(b)));
}

// Index of the first of n samples at start + i * delta that lies at or after t, less `slack`
// samples of tolerance; clamped to [0, n].
std::size_t indexAtOrAfter(Time start, double delta, std::size_t n, Time t, double slack) {
    const double i = std::ceil(civil::secondsBetween(start, t) / delta - slack);
    if (!(i > 0))
        return 0;
    return static_cast<std::size_t>(std::min(i, static_cast<double>(n)));
}

// How often a channel's refusals and disagreements may reach the log.
constexpr double kReportEverySeconds = 60;
// Sweeps of every channel for samples that have grown too old, at most this often.
constexpr double kSweepEverySeconds = 1;

} // namespace

Time TraceStore::Run::end() const {
    return civil::addSeconds(start, static_cast<double>(samples.size()) * delta);
}

Time TraceStore::Run::timeOf(std::size_t i) const {
    return civil::addSeconds(start, static_cast<double>(i) * delta);
}

TraceStore::TraceStore(std::chrono::seconds keep, QObject* parent)
    : QObject(parent), keep_(keep), clock_([] { return datetext::now(); }) {}

TraceStore::~TraceStore() = default;

void TraceStore::setKeep(std::chrono::seconds keep) {
    std::lock_guard lock(mutex_);
    keep_ = keep;
    const Time now = clock_();
    for (auto& [id, channel] : channels_)
        evict(channel, now);
}

std::chrono::seconds TraceStore::keep() const {
    std::lock_guard lock(mutex_);
    return keep_;
}

void TraceStore::setLimits(const Limits& limits) {
    std::lock_guard lock(mutex_);
    limits_ = limits;
}

void TraceStore::setClock(Clock clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
}

Time TraceStore::now() const {
    std::lock_guard lock(mutex_);
    return clock_();
}

bool TraceStore::feed(const Segment& segment) {
    return insert(segment) == Outcome::Stored;
}

TraceStore::Outcome TraceStore::insert(const Segment& segment) {
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        const Time now = clock_();
        if (segment.samples.empty())
            return Outcome::Empty;
        // A channel that was refused keeps its entry: it remembers when it last said so.
        outcome = insertLocked(segment, channels_[segment.channel], now);
    }
    if (outcome == Outcome::Stored)
        Q_EMIT changed(segment.channel);
    return outcome;
}

bool TraceStore::refuse(const Segment& piece, Channel& channel, Time now, const QString& why) {
    if (!channel.lastRefusalReport ||
        civil::secondsBetween(*channel.lastRefusalReport, now) >= kReportEverySeconds) {
        channel.lastRefusalReport = now;
        systemLog(QStringLiteral("Samples of %1 refused: %2. What is held is unchanged.")
                      .arg(piece.channel.seedId(), why));
    }
    return false;
}

TraceStore::Outcome TraceStore::insertLocked(const Segment& incoming, Channel& channel, Time now) {
    const double d = incoming.delta;
    const std::size_t n = incoming.samples.size();
    if (!std::isfinite(d) || d < limits_.shortestDelta || d > limits_.longestDelta) {
        refuse(incoming, channel, now,
               QStringLiteral("a rate of %1 samples/s is not plausible").arg(1.0 / d, 0, 'g', 6));
        return Outcome::Refused;
    }
    if (n > limits_.channelSamples) {
        refuse(incoming, channel, now,
               QStringLiteral("%1 samples in one piece are more than a channel may hold").arg(n));
        return Outcome::Refused;
    }
    const Time latest = civil::addSeconds(now, limits_.futureSeconds);
    const Time oldest = civil::addSeconds(now, -static_cast<double>(keep_.count()));
    const Time pieceEnd = incoming.end();
    if (incoming.start > latest || pieceEnd > civil::addSeconds(latest, d)) {
        refuse(incoming, channel, now,
               QStringLiteral("they are stamped %1 to %2, more than %3 s after now")
                   .arg(datetext::urlTime(incoming.start), datetext::urlTime(pieceEnd))
                   .arg(limits_.futureSeconds));
        return Outcome::Refused;
    }
    if (pieceEnd <= oldest) {
        refuse(incoming, channel, now,
               QStringLiteral("they end at %1, before the oldest time kept (%2)")
                   .arg(datetext::urlTime(pieceEnd), datetext::urlTime(oldest)));
        return Outcome::Refused;
    }

    // Which of the piece's samples the held runs cover: those within half a held sample of a
    // held one. The rest is new.
    const std::size_t first = indexAtOrAfter(incoming.start, d, n, oldest, 0.0);
    std::vector<std::pair<std::size_t, std::size_t>> fresh; // [from, to) of the piece
    std::size_t cursor = first;
    std::size_t disagreeing = 0;
    auto run = std::lower_bound(channel.runs.begin(), channel.runs.end(), incoming.start,
                                [](const Run& r, Time t) { return r.end() < t; });
    if (run != channel.runs.begin())
        --run; // a run that ends within half a sample before the piece may still cover it
    for (; run != channel.runs.end() && cursor < n; ++run) {
        const double h = 0.5 * run->delta;
        const Time coverFrom = civil::addSeconds(run->start, -h);
        const Time coverTo = civil::addSeconds(run->end(), -h);
        if (coverFrom >= pieceEnd)
            break;
        const std::size_t a = std::max(cursor, indexAtOrAfter(incoming.start, d, n, coverFrom, 0));
        const std::size_t b = std::max(a, indexAtOrAfter(incoming.start, d, n, coverTo, 0));
        if (a >= b)
            continue;
        if (a > cursor)
            fresh.emplace_back(cursor, a);
        if (sameRate(run->delta, d)) {
            for (std::size_t i = a; i < b; ++i) {
                const double j =
                    std::round(civil::secondsBetween(run->start, incoming.timeOf(i)) / run->delta);
                const auto k = static_cast<std::size_t>(
                    std::clamp(j, 0.0, static_cast<double>(run->samples.size() - 1)));
                if (!sameSample(run->samples[k], incoming.samples[i]))
                    ++disagreeing;
            }
        }
        cursor = b;
    }
    if (cursor < n)
        fresh.emplace_back(cursor, n);

    if (disagreeing > 0) {
        channel.disagreements += disagreeing;
        channel.unreported += disagreeing;
        reportDisagreements(incoming.channel, channel, now);
    }
    if (fresh.empty())
        return Outcome::AlreadyHeld;
    for (const auto& [from, to] : fresh) {
        Run r;
        r.start = incoming.timeOf(from);
        r.delta = d;
        r.samples.assign(incoming.samples.begin() + static_cast<std::ptrdiff_t>(from),
                         incoming.samples.begin() + static_cast<std::ptrdiff_t>(to));
        channel.samples += r.samples.size();
        total_ += r.samples.size();
        addRun(channel, std::move(r));
    }
    channel.revision = ++revisions_; // never repeats, even after forget()
    evict(channel, now);
    // Over the whole store's budget: this channel gives up its oldest samples.
    while (total_ > limits_.totalSamples && !channel.runs.empty()) {
        Run& oldestRun = channel.runs.front();
        const std::size_t drop = std::min(oldestRun.samples.size(), total_ - limits_.totalSamples);
        oldestRun.samples.erase(oldestRun.samples.begin(),
                                oldestRun.samples.begin() + static_cast<std::ptrdiff_t>(drop));
        oldestRun.start =
            civil::addSeconds(oldestRun.start, static_cast<double>(drop) * oldestRun.delta);
        channel.samples -= drop;
        total_ -= drop;
        if (oldestRun.samples.empty())
            channel.runs.erase(channel.runs.begin());
    }
    if (!lastSweep_ || civil::secondsBetween(*lastSweep_, now) >= kSweepEverySeconds) {
        lastSweep_ = now;
        for (auto& [id, other] : channels_)
            if (&other != &channel)
                evict(other, now);
    }
    return Outcome::Stored;
}

void TraceStore::addRun(Channel& channel, Run run) {
    auto next = std::upper_bound(channel.runs.begin(), channel.runs.end(), run.start,
                                 [](Time t, const Run& r) { return t < r.start; });
    const double h = 0.5 * run.delta;
    const bool joinsPrevious =
        next != channel.runs.begin() && sameRate(std::prev(next)->delta, run.delta) &&
        std::abs(civil::secondsBetween(std::prev(next)->end(), run.start)) <= h;
    const bool joinsNext = next != channel.runs.end() && sameRate(next->delta, run.delta) &&
                           std::abs(civil::secondsBetween(run.end(), next->start)) <= h;
    // The joined run keeps the grid of its earliest part, whatever order the parts came in; the
    // samples of the smaller part move into the larger one's deque.
    if (joinsPrevious) {
        Run& previous = *std::prev(next);
        if (joinsNext && next->samples.size() > previous.samples.size() + run.samples.size()) {
            next->samples.insert(next->samples.begin(), run.samples.begin(), run.samples.end());
            next->samples.insert(next->samples.begin(), previous.samples.begin(),
                                 previous.samples.end());
            next->start = previous.start;
            channel.runs.erase(std::prev(next));
            return;
        }
        previous.samples.insert(previous.samples.end(), run.samples.begin(), run.samples.end());
        if (joinsNext) {
            previous.samples.insert(previous.samples.end(), next->samples.begin(),
                                    next->samples.end());
            channel.runs.erase(next);
        }
        return;
    }
    if (joinsNext) {
        if (next->samples.size() >= run.samples.size()) {
            next->samples.insert(next->samples.begin(), run.samples.begin(), run.samples.end());
        } else {
            run.samples.insert(run.samples.end(), next->samples.begin(), next->samples.end());
            next->samples = std::move(run.samples);
        }
        next->start = run.start;
        return;
    }
    channel.runs.insert(next, std::move(run));
}

void TraceStore::evict(Channel& channel, Time now) {
    const Time cutoff = civil::addSeconds(now, -static_cast<double>(keep_.count()));
    auto drop = [&](std::size_t count) {
        Run& first = channel.runs.front();
        first.samples.erase(first.samples.begin(),
                            first.samples.begin() + static_cast<std::ptrdiff_t>(count));
        first.start = civil::addSeconds(first.start, static_cast<double>(count) * first.delta);
        channel.samples -= count;
        total_ -= count;
        if (first.samples.empty())
            channel.runs.erase(channel.runs.begin());
    };
    while (!channel.runs.empty() && channel.runs.front().start < cutoff) {
        const Run& first = channel.runs.front();
        const std::size_t old =
            indexAtOrAfter(first.start, first.delta, first.samples.size(), cutoff, 0.0);
        if (old == 0)
            break;
        drop(old);
    }
    while (channel.samples > limits_.channelSamples && !channel.runs.empty())
        drop(std::min(channel.runs.front().samples.size(),
                      channel.samples - limits_.channelSamples));
}

void TraceStore::reportDisagreements(const ChannelId& id, Channel& channel, Time now) {
    if (channel.lastDisagreementReport &&
        civil::secondsBetween(*channel.lastDisagreementReport, now) < kReportEverySeconds)
        return;
    channel.lastDisagreementReport = now;
    systemLog(QStringLiteral("%1 samples of %2 received again differ from those already held; "
                             "the samples received first are kept.")
                  .arg(channel.unreported)
                  .arg(id.seedId()));
    channel.unreported = 0;
}

void TraceStore::forget(const ChannelId& id) {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(id);
    if (it == channels_.end())
        return;
    total_ -= it->second.samples;
    channels_.erase(it);
}

std::vector<Segment> TraceStore::segments(const ChannelId& id, Time from, Time to) const {
    std::lock_guard lock(mutex_);
    std::vector<Segment> out;
    const auto it = channels_.find(id);
    if (it == channels_.end() || to < from)
        return out;
    for (const Run& r : it->second.runs) {
        if (civil::addSeconds(r.start, -0.5 * r.delta) > to)
            break;
        const std::size_t a = indexAtOrAfter(r.start, r.delta, r.samples.size(), from, 0.5);
        const std::size_t b = indexAtOrAfter(r.start, r.delta, r.samples.size(), to, -0.5);
        if (a >= b)
            continue;
        Segment s;
        s.channel = id;
        s.delta = r.delta;
        s.start = r.timeOf(a);
        s.samples.assign(r.samples.begin() + static_cast<std::ptrdiff_t>(a),
                         r.samples.begin() + static_cast<std::ptrdiff_t>(b));
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<TimeSpan> TraceStore::gaps(const ChannelId& id, Time from, Time to) const {
    std::lock_guard lock(mutex_);
    std::vector<TimeSpan> out;
    Time cursor = from;
    double lastDelta = 0;
    const auto it = channels_.find(id);
    if (it != channels_.end()) {
        for (const Run& r : it->second.runs) {
            const Time end = r.end();
            if (end <= cursor)
                continue;
            if (r.start >= to)
                break;
            // Runs that abut within half a sample (a change of rate, rounding) leave no hole.
            if (civil::secondsBetween(cursor, r.start) > 0.5 * std::max(lastDelta, r.delta))
                out.push_back({cursor, r.start});
            cursor = std::max(cursor, end);
            lastDelta = r.delta;
        }
    }
    if (civil::secondsBetween(cursor, to) > 0.5 * lastDelta)
        out.push_back({cursor, to});
    return out;
}

std::optional<Time> TraceStore::end(const ChannelId& id) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(id);
    if (it == channels_.end() || it->second.runs.empty())
        return std::nullopt;
    return it->second.runs.back().end();
}

std::size_t TraceStore::segmentCount(const ChannelId& id) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(id);
    return it == channels_.end() ? 0 : it->second.runs.size();
}

std::size_t TraceStore::sampleCount(const ChannelId& id) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(id);
    return it == channels_.end() ? 0 : it->second.samples;
}

std::size_t TraceStore::sampleCount() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::size_t TraceStore::disagreements(const ChannelId& id) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(id);
    return it == channels_.end() ? 0 : it->second.disagreements;
}

std::uint64_t TraceStore::revision(const ChannelId& id) const {
    std::lock_guard lock(mutex_);
    const auto it = channels_.find(id);
    return it == channels_.end() ? 0 : it->second.revision;
}
