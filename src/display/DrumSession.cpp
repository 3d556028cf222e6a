#include "display/DrumSession.h"

#include "acquisition/WaveformSource.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "channels/StationPlaces.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"
#include "processing/DrumProcessing.h"

#include <cmath>

namespace {

Time blockOf(Time t) {
    const double s = std::chrono::duration<double>(t.time_since_epoch()).count();
    return civil::addSeconds(Time{}, std::floor(s / DrumSession::kBlockSeconds) *
                                         DrumSession::kBlockSeconds);
}

// The newest blocks' drawing changes from this long before the previous end of the data on:
// the taper the chain puts at the end of what it processes, and a minute more.
constexpr double kRedrawBeforeEnd =
    0.05 * (DrumSession::kBlockSeconds + 2 * drum::kMarginSeconds) + 60;

QString spanText(Time from, Time to) {
    return QStringLiteral("%1 to %2").arg(datetext::urlTime(from), datetext::urlTime(to));
}

QString titleOf(const ChannelId& channel, const DrumRows& rows) {
    return QStringLiteral("%1   %2 to %3 UTC")
        .arg(channel.seedId(), datetext::description(rows.first).left(16),
             datetext::description(rows.end()).left(16));
}

} // namespace

DrumSession::DrumSession(WaveformSource& source, StationPlaces& places, QObject* parent)
    : QObject(parent), feed_(source, store_), places_(places) {
    connect(&feed_, &DrumFeed::stored, this, &DrumSession::stored);
    connect(&feed_, &DrumFeed::pieceFailed, this,
            [this](TimeSpan span, const AcquisitionFailure& f) {
                ++piecesFailed_;
                lastFailure_ = QStringLiteral("%1: %2").arg(spanText(span.from, span.to), f.detail);
                // A piece that fails stays a gap; the log says which and why, once per piece.
                systemLog(QStringLiteral("Helicorder: no data for %1 from %2")
                              .arg(channel_.seedId(), lastFailure_));
                Q_EMIT statusChanged();
            });
    connect(&feed_, &DrumFeed::idle, this, &DrumSession::stepDone);
    connect(&places_, &StationPlaces::located, this, [this](bool learnt) {
        if (learnt)
            updateMarks();
        stepDone();
    });
    connect(&timer_, &QTimer::timeout, this, [this] { refresh(datetext::now()); });
}

DrumSession::~DrumSession() {
    cancel();
}

void DrumSession::setInline(bool on) {
    worker_.setInline(on);
}

void DrumSession::setPeriod(std::chrono::milliseconds period) {
    timer_.setInterval(period);
}

void DrumSession::cancel() {
    feed_.stop();
    worker_.cancel();
    timer_.stop();
    running_.reset();
    pending_.clear();
}

void DrumSession::setStationService(const QString& base, const HttpOptions& options) {
    stationBase_ = base;
    stationOptions_ = options;
}

void DrumSession::setRows(const DrumRows& rows) {
    rows_ = rows;
    Q_EMIT rowsChanged(rows_, titleOf(channel_, rows_));
}

void DrumSession::stop(const QString& why) {
    cancel();
    active_ = false;
    Q_EMIT cleared();
    Q_EMIT placeholderChanged(why);
    Q_EMIT statusChanged();
}

void DrumSession::start(const ChannelId& channel, int hours, int rowMinutes,
                        const ProcessingOptions& options, Time now) {
    cancel();
    stats_.clear();
    previousEnd_.reset();
    piecesFailed_ = 0;
    lastFailure_.clear();
    Q_EMIT cleared();
    if (!(channel == channel_))
        store_.forget(channel_);
    channel_ = channel;
    options_ = options;
    active_ = true;
    loading_ = true;
    store_.setKeep(std::chrono::seconds(hours * 3600 + 2 * static_cast<int>(kBlockSeconds)));
    setRows(DrumRows::ending(now, hours, rowMinutes));
    Q_EMIT placeholderChanged(tr("Fetching %1 hours of %2...").arg(hours).arg(channel_.seedId()));
    updateMarks();
    // What the store already holds is processed at once; the feed adds the rest.
    if (const auto held = store_.end(channel_))
        for (Time b = blockOf(rows_.first); b < std::min(*held, rows_.end());
             b = civil::addSeconds(b, kBlockSeconds))
            pending_.insert(b);
    feed_.fill(channel_, civil::addSeconds(rows_.first, -drum::kMarginSeconds), now);
    timer_.start();
    processNext();
    // Only once the fill is under way: a lookup that ends first must not end the loading.
    places_.locate({channel_.network + u'.' + channel_.station}, stationBase_, stationOptions_);
    Q_EMIT statusChanged();
}

void DrumSession::refresh(Time now) {
    if (!active_)
        return;
    const DrumRows rows =
        DrumRows::ending(now, static_cast<int>(std::lround(rows_.count * rows_.seconds / 3600)),
                         static_cast<int>(std::lround(rows_.seconds / 60)));
    if (!(rows.first == rows_.first)) {
        // The drum moves on by a row: the oldest goes, the scale is taken afresh.
        setRows(rows);
        Q_EMIT blocksDroppedBefore(civil::addSeconds(rows.first, -kBlockSeconds));
        for (auto it = stats_.begin(); it != stats_.end();)
            it = civil::addSeconds(it->first, kBlockSeconds) <= rows.first ? stats_.erase(it)
                                                                           : std::next(it);
        applyScale();
        updateMarks();
    }
    feed_.extend(civil::addSeconds(rows_.first, -drum::kMarginSeconds), now);
}

void DrumSession::streamed(const Segment& segment) {
    // The store puts each piece where it belongs, so a streamed one may land ahead of those the
    // feed still fetches.
    if (!active_ || !(segment.channel == channel_))
        return;
    if (store_.feed(segment))
        stored({segment.start, segment.end()});
}

void DrumSession::stored(TimeSpan span) {
    // Every block whose margins reach the new samples is processed again.
    for (Time b = blockOf(civil::addSeconds(span.from, -drum::kMarginSeconds));
         b < civil::addSeconds(span.to, drum::kMarginSeconds);
         b = civil::addSeconds(b, kBlockSeconds)) {
        if (civil::addSeconds(b, kBlockSeconds) <= rows_.first || b >= rows_.end())
            continue;
        pending_.insert(b);
    }
    processNext();
}

void DrumSession::processNext() {
    if (running_ || pending_.empty())
        return;
    const auto end = store_.end(channel_);
    const Time b = *pending_.begin();
    pending_.erase(pending_.begin());
    const Time blockEnd = civil::addSeconds(b, kBlockSeconds);
    if (!end || *end <= civil::addSeconds(b, -drum::kMarginSeconds)) {
        processNext();
        return;
    }
    const Time rawTo = std::min(*end, civil::addSeconds(blockEnd, drum::kMarginSeconds));
    auto raw = store_.segments(channel_, civil::addSeconds(b, -drum::kMarginSeconds), rawTo);
    if (raw.empty()) {
        processNext();
        return;
    }
    running_ = b;
    // The newest block redraws only from a little before where the data ended last time.
    std::optional<Time> changedFrom;
    if (!loading_ && previousEnd_ && *previousEnd_ > b)
        changedFrom = civil::addSeconds(*previousEnd_, -kRedrawBeforeEnd);
    worker_.run([raw = std::move(raw), b, blockEnd, options = options_](
                    const std::atomic<bool>&) { return drum::process(raw, b, blockEnd, options); },
                [this, changedFrom, end = *end](drum::Block block) {
                    running_.reset();
                    stats_[block.from] = {block.sumSquares, block.count};
                    Q_EMIT blockReady(block.from, block.to, std::move(block.runs), changedFrom);
                    if (pending_.empty() && !feed_.isBusy())
                        previousEnd_ = end;
                    if (loading_)
                        applyScale();
                    processNext();
                    stepDone();
                });
}

void DrumSession::applyScale() {
    double sum = 0;
    std::size_t n = 0;
    for (const auto& [from, s] : stats_) {
        if (civil::addSeconds(from, kBlockSeconds) <= rows_.first)
            continue;
        sum += s.sumSquares;
        n += s.count;
    }
    if (n > 0)
        Q_EMIT scaleChanged(std::sqrt(sum / static_cast<double>(n)));
}

bool DrumSession::settled() const {
    return !active_ || (!feed_.isBusy() && pending_.empty() && !running_ && !places_.busy());
}

void DrumSession::whenSettled(std::function<void()> then) {
    onSettled_ = std::move(then);
    stepDone();
}

void DrumSession::stepDone() {
    Q_EMIT statusChanged();
    if (!settled())
        return;
    if (active_ && loading_) {
        loading_ = false;
        previousEnd_ = store_.end(channel_);
        applyScale();
    }
    if (active_ && !store_.end(channel_))
        Q_EMIT placeholderChanged(tr("No data arrived for %1. Window \u2192 System Log names each "
                                     "failed request.")
                                      .arg(channel_.seedId()));
    if (auto settled = std::exchange(onSettled_, nullptr))
        settled();
}

QString DrumSession::status() const {
    if (!active_)
        return {};
    QString text =
        tr("%1: %2 rows of %3 min").arg(channel_.seedId()).arg(rows_.count).arg(rows_.seconds / 60);
    if (const auto end = store_.end(channel_))
        text += tr("; data up to %1 UTC").arg(datetext::description(*end).mid(11, 8));
    if (!settled())
        text += tr("; fetching and processing...");
    if (piecesFailed_ > 0)
        text += tr("; %n piece(s) failed, last %1", nullptr, piecesFailed_).arg(lastFailure_);
    return text;
}

void DrumSession::setOrigins(std::vector<SeismicOrigin> origins, const QString& modelName) {
    origins_ = std::move(origins);
    modelName_ = modelName;
    updateMarks();
}

void DrumSession::updateMarks() {
    if (!active_)
        return;
    std::vector<DrumMark> marks;
    const auto place = places_.place(channel_.network + u'.' + channel_.station);
    const auto model = geo::TravelTimes::model(modelName_.toStdString());
    for (const SeismicOrigin& o : origins_) {
        if (o.originTime < civil::addSeconds(rows_.first, -3600) || o.originTime >= rows_.end())
            continue;
        marks.push_back({o.originTime, QStringLiteral("M%1").arg(o.mag, 0, 'f', 1), true});
        if (!place || !model)
            continue;
        const auto b = geo::bearing(o.latitude, o.longitude, place->latitude, place->longitude);
        const double depth = o.depthKm.value_or(10.0);
        if (!b || !std::isfinite(depth) || depth < 0 || depth > geo::TravelTimes::kMaxSourceDepth)
            continue;
        const auto first = model->arrivals(depth, b->degrees, {"P", "Pdiff", "PKP", "PKIKP"});
        if (!first.empty())
            marks.push_back({civil::addSeconds(o.originTime, first.front().seconds),
                             QString::fromStdString(first.front().phase), false});
    }
    marks_ = marks;
    Q_EMIT marksChanged(marks_);
}
