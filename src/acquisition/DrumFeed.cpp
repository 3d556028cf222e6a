#include "acquisition/DrumFeed.h"

#include "acquisition/ChannelRequest.h"
#include "acquisition/SegmentOf.h"
#include "acquisition/WaveformSource.h"
#include "base/DateText.h"
#include "components/sac/SacObject.h"
#include "store/TraceStore.h"

#include <algorithm>
#include <cmath>

namespace {

// A tail repeats a few samples' worth of time, so it joins the stored ones on their grid.
constexpr double kOverlapSeconds = 1.0;
// Holes this recent are asked for again at each extension; older ones stay as they are.
constexpr double kRecentHolesSeconds = 2 * 3600;

double epochSeconds(Time t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

} // namespace

DrumFeed::DrumFeed(WaveformSource& source, TraceStore& store, QObject* parent)
    : QObject(parent), source_(source), store_(store) {
    connect(&replies_, &SourceReplies::seismogramReceived, this,
            [this](int i, std::shared_ptr<SacObject> s, qint64) { onSeismogram(i, std::move(s)); });
    connect(&replies_, &SourceReplies::segmentsReceived, this,
            [this](int i, std::vector<Segment> s, qint64) { onSegments(i, std::move(s)); });
    connect(&replies_, &SourceReplies::channelFailed, this, &DrumFeed::onFailure);
    connect(&replies_, &SourceReplies::finished, this, &DrumFeed::onFinished);
}

DrumFeed::~DrumFeed() {
    stop();
}

std::vector<TimeSpan> DrumFeed::pieces(Time from, Time to) {
    std::vector<TimeSpan> out;
    if (!(from < to))
        return out;
    Time at = from;
    while (at < to) {
        // The next whole piece boundary after `at`.
        const double next = (std::floor(epochSeconds(at) / kPieceSeconds) + 1) * kPieceSeconds;
        const Time boundary = civil::addSeconds(Time{}, next);
        const Time end = boundary < to ? boundary : to;
        out.push_back({at, end});
        at = end;
    }
    return out;
}

void DrumFeed::fill(const ChannelId& channel, Time from, Time to) {
    stop();
    channel_ = channel;
    std::vector<TimeSpan> spans;
    for (const TimeSpan& gap : store_.gaps(channel, from, to))
        for (const TimeSpan& piece : pieces(gap.from, gap.to))
            spans.push_back(piece);
    ask(std::move(spans));
}

void DrumFeed::extend(Time from, Time to) {
    if (replies_.isOpen())
        return; // the feed is still answering; the next call catches up
    const auto end = store_.end(channel_);
    if (!end || *end < from) {
        fill(channel_, from, to);
        return;
    }
    // The tail after the newest sample, and the holes of the last hours: a streamed piece may
    // have landed beyond one.
    std::vector<TimeSpan> spans;
    const Time recent = std::max(from, civil::addSeconds(*end, -kRecentHolesSeconds));
    for (const TimeSpan& gap : store_.gaps(channel_, recent, *end))
        for (const TimeSpan& piece : pieces(gap.from, gap.to))
            spans.push_back(piece);
    for (const TimeSpan& piece : pieces(civil::addSeconds(*end, -kOverlapSeconds), to))
        spans.push_back(piece);
    ask(std::move(spans));
}

void DrumFeed::stop() {
    replies_.abandon();
    asked_.clear();
}

void DrumFeed::ask(std::vector<TimeSpan> spans) {
    if (spans.empty()) {
        Q_EMIT idle();
        return;
    }
    std::vector<ChannelRequest> requests;
    for (const TimeSpan& s : spans) {
        ChannelRequest r;
        r.setValue(ChannelRequest::Network, channel_.network);
        r.setValue(ChannelRequest::StationID, channel_.station);
        r.setValue(ChannelRequest::LocationCode, channel_.location);
        r.setValue(ChannelRequest::ChannelID, channel_.channel);
        r.setValue(ChannelRequest::StartTime, datetext::requestTime(s.from));
        r.setValue(ChannelRequest::EndTime, datetext::requestTime(s.to));
        r.setValue(ChannelRequest::SampleRate, QStringLiteral("*"));
        requests.push_back(std::move(r));
    }
    asked_ = std::move(spans);
    // An inline source answers, and finishes, before ask() returns.
    source_.ask(std::move(requests), replies_);
}

void DrumFeed::onSeismogram(int index, std::shared_ptr<SacObject> seismogram) {
    if (seismogram)
        feed(index, segmentOf(channel_, *seismogram));
}

void DrumFeed::onSegments(int index, std::vector<Segment> segments) {
    for (Segment& s : segments) {
        // The drum's channel names what it stores, whatever codes the answer wrote.
        s.channel = channel_;
        feed(index, std::move(s));
    }
}

void DrumFeed::feed(int index, Segment segment) {
    if (index < 0 || static_cast<std::size_t>(index) >= asked_.size() || segment.samples.empty())
        return;
    const TimeSpan span{segment.start, segment.end()};
    if (store_.feed(segment))
        Q_EMIT stored(span);
}

void DrumFeed::onFailure(int index, const AcquisitionFailure& failure) {
    if (index < 0 || static_cast<std::size_t>(index) >= asked_.size() ||
        failure.kind == AcquisitionFailure::Kind::Cancelled)
        return;
    Q_EMIT pieceFailed(asked_[static_cast<std::size_t>(index)], failure);
}

void DrumFeed::onFinished() {
    asked_.clear();
    Q_EMIT idle();
}
