#include "acquisition/RetrievalCycle.h"

#include "acquisition/QueryUrl.h"
#include "acquisition/SegmentOf.h"
#include "acquisition/WaveformSource.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "components/sac/SacObject.h"
#include "processing/ProcessingChain.h"
#include "processing/RowProcessing.h"
#include "store/TraceStore.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

// The whole second at or before t: what a query's start and end are cut to.
Time wholeSecond(Time t) {
    const civil::Fields f = civil::fieldsOf(t);
    return civil::dateOf(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

int processingThreads() {
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

} // namespace

struct RetrievalCycle::Running {
    quint64 generation = 0;
    CycleRequest cycle;
    std::vector<ChannelRequest> requests;
    std::vector<int> asked; // the source's index -> table row
    std::vector<bool> tail;
    bool stored = false; // a monitored window up to now: answers go through the store
    Time from{}, to{};   // the monitor window, whole seconds
    std::vector<Processed> traces;
    int processing = 0;
    std::size_t samplesHeld = 0;
    bool sourceDone = false;
    std::shared_ptr<CycleResult> result = std::make_shared<CycleResult>();
};

RetrievalCycle::RetrievalCycle(WaveformSource& source, TraceStore& store, QObject* parent)
    : QObject(parent), source_(source), store_(store), pool_(processingThreads()) {
    connect(&replies_, &SourceReplies::seismogramReceived, this, &RetrievalCycle::onSeismogram);
    connect(&replies_, &SourceReplies::segmentsReceived, this, &RetrievalCycle::onSegments);
    connect(&replies_, &SourceReplies::channelFailed, this, &RetrievalCycle::onFailure);
    connect(&replies_, &SourceReplies::windowFilled, this, &RetrievalCycle::onWindowFilled);
}

RetrievalCycle::~RetrievalCycle() {
    cancel();
}

void RetrievalCycle::cancel() {
    if (!running_)
        return;
    running_.reset();
    ++generation_;
    replies_.abandon();
}

void RetrievalCycle::start(CycleRequest request) {
    cancel();
    auto r = std::make_unique<Running>();
    r->generation = ++generation_;
    r->cycle = std::move(request);
    const CycleRequest& c = r->cycle;
    if (c.window.startRead)
        r->result->start = c.window.start;
    if (c.window.endRead)
        r->result->end = c.window.end;
    // The store holds what led up to now: a monitored window that ended long ago (typed by
    // hand while monitoring) is fetched whole, like any typed one.
    const bool stored = c.monitor && r->result->start && r->result->end &&
                        civil::secondsBetween(*r->result->end, store_.now()) < kRecentSeconds;
    r->stored = stored;
    if (stored) {
        r->from = wholeSecond(*r->result->start);
        r->to = wholeSecond(*r->result->end);
        // The window and a margin, so a tail always finds what it joins.
        const auto span = static_cast<long long>(std::ceil(civil::secondsBetween(r->from, r->to)));
        store_.setKeep(std::chrono::seconds(std::max(0LL, span) + 600));
    }
    const qsizetype n = c.channels.size();
    r->traces.resize(static_cast<std::size_t>(n));
    const bool reuse = c.keepUnchanged && processedOptions_ == c.options;
    if (!reuse)
        processedRevision_.clear();
    processedOptions_ = c.options;
    std::vector<ChannelRequest> asked;
    std::vector<int> fromStore;
    for (qsizetype i = 0; i < n; ++i) {
        ChannelRequest req = channelRequest(c.channels, i, c.window.startText, c.window.endText);
        bool tail = false;
        const ChannelId ch = c.channels.id(i);
        if (stored && static_cast<std::size_t>(i) < c.fromStore.size() &&
            c.fromStore[static_cast<std::size_t>(i)]) {
            r->tail.push_back(false);
            r->requests.push_back(std::move(req));
            fromStore.push_back(static_cast<int>(i));
            continue;
        }
        if (stored && c.incremental && !dirty_.contains(ch)) {
            // A tail only where the store already reaches back to the window's start: a longer
            // window, or a channel new to the store, needs the whole of it.
            const auto held = store_.segments(ch, r->from, r->to);
            const auto end = store_.end(ch);
            if (!held.empty() && end &&
                civil::secondsBetween(held.front().start, r->from) > -0.5 * held.front().delta) {
                const Time from = civil::addSeconds(*end, -kOverlapSamples * held.back().delta);
                req.setValue(ChannelRequest::StartTime, datetext::requestTime(from));
                tail = true;
            }
        }
        r->tail.push_back(tail);
        ++(tail ? r->result->tails : r->result->wholeWindows);
        asked.push_back(req);
        r->asked.push_back(static_cast<int>(i));
        r->requests.push_back(std::move(req));
    }
    running_ = std::move(r);
    for (const int i : fromStore) {
        const ChannelId ch = running_->cycle.channels.id(i);
        if (store_.segments(ch, running_->from, running_->to).empty()) {
            running_->result->failures.push_back(
                {i,
                 ch,
                 {AcquisitionFailure::Kind::NoData,
                  QStringLiteral("nothing has arrived for this window yet"),
                  {}},
                 true});
            continue;
        }
        const std::uint64_t revision = store_.revision(ch);
        const auto seen = processedRevision_.find(ch);
        if (reuse && seen != processedRevision_.end() && seen->second == revision) {
            running_->result->kept.push_back(i);
            continue;
        }
        processedRevision_.insert_or_assign(ch, revision);
        process(i, nullptr, ch);
    }
    if (asked.empty()) {
        running_->sourceDone = true;
        finishIfDone();
        return;
    }
    // With an inline source everything below happens before ask() returns.
    source_.ask(std::move(asked), replies_);
}

int RetrievalCycle::rowOf(int asked) const {
    if (!running_ || asked < 0 || static_cast<std::size_t>(asked) >= running_->asked.size())
        return -1;
    return running_->asked[static_cast<std::size_t>(asked)];
}

bool RetrievalCycle::holdSamples(int asked, std::size_t samples) {
    Running& r = *running_;
    r.samplesHeld += samples;
    if (r.samplesHeld <= maxCycleSamples_)
        return true;
    const QString why = QStringLiteral("The retrieval holds more than %1 samples in all; the "
                                       "rest of its channels are left out.")
                            .arg(maxCycleSamples_);
    onFailure(asked, {AcquisitionFailure::Kind::TooLarge, why, {why}});
    return false;
}

void RetrievalCycle::storeAnswer(int index, const ChannelId& ch,
                                 const std::vector<Segment>& pieces) {
    Running& r = *running_;
    if (!r.tail[static_cast<std::size_t>(index)]) {
        // What the store held stays where the answer overlaps it; the answer fills the rest.
        for (const Segment& piece : pieces)
            store_.feed(piece);
        dirty_.erase(ch);
        return;
    }
    const auto before = store_.end(ch);
    for (const Segment& piece : pieces)
        store_.feed(piece);
    const auto after = store_.end(ch);
    // A tail that does not join leaves a gap behind the samples held before it: the whole
    // window is asked for once, next time, to fill it.
    const bool any = std::any_of(pieces.begin(), pieces.end(),
                                 [](const Segment& p) { return !p.samples.empty(); });
    if (before && after && any &&
        !store_.gaps(ch, civil::addSeconds(*before, -pieces.front().delta), *after).empty())
        dirty_.insert(ch);
}

void RetrievalCycle::onSeismogram(int asked, std::shared_ptr<SacObject> s, qint64 bytes) {
    const int index = rowOf(asked);
    if (!running_ || index < 0)
        return;
    Running& r = *running_;
    r.result->bytes += bytes;
    if (!holdSamples(asked, s->samples().size()))
        return;
    const ChannelId ch = r.cycle.channels.id(index);
    if (!r.stored) {
        process(index, std::move(s), std::nullopt);
        return;
    }
    storeAnswer(index, ch, {segmentOf(ch, *s)});
    if (const sac::SacHeader* h = s->GetSacHeader();
        h && (!r.tail[static_cast<std::size_t>(index)] || !headers_.contains(ch)))
        headers_.insert_or_assign(ch, *h);
    processedRevision_.insert_or_assign(ch, store_.revision(ch));
    process(index, nullptr, ch);
}

void RetrievalCycle::onSegments(int asked, std::vector<Segment> pieces, qint64 bytes) {
    const int index = rowOf(asked);
    if (!running_ || index < 0)
        return;
    Running& r = *running_;
    r.result->bytes += bytes;
    std::size_t samples = 0;
    for (const Segment& p : pieces)
        samples += p.size();
    if (!holdSamples(asked, samples))
        return;
    const ChannelId ch = r.cycle.channels.id(index);
    // The table's codes name the channel in the store and the rows, whatever the answer wrote.
    for (Segment& p : pieces)
        p.channel = ch;
    if (!r.stored) {
        process(index, nullptr, std::nullopt, std::move(pieces));
        return;
    }
    storeAnswer(index, ch, pieces);
    processedRevision_.insert_or_assign(ch, store_.revision(ch));
    process(index, nullptr, ch);
}

void RetrievalCycle::onFailure(int asked, const AcquisitionFailure& failure) {
    const int index = rowOf(asked);
    if (!running_ || index < 0)
        return;
    Running& r = *running_;
    const ChannelId ch = r.cycle.channels.id(index);
    r.result->failures.push_back({index, ch, failure});
    if (r.cycle.monitor)
        dirty_.insert(ch);
    if (failure.kind == AcquisitionFailure::Kind::Cancelled)
        return; // abandoned on purpose: nothing to report
    for (const QString& line : failure.logLines)
        systemLog(line);
    systemLog(connectionProblemLine(r.requests[static_cast<std::size_t>(index)]));
    // A monitor row still shows what the store holds of its window, beside the failure.
    if (r.stored && !store_.segments(ch, r.from, r.to).empty())
        process(index, nullptr, ch);
}

void RetrievalCycle::onWindowFilled() {
    if (!running_)
        return;
    running_->sourceDone = true;
    finishIfDone();
}

void RetrievalCycle::process(int index, std::shared_ptr<SacObject> whole,
                             std::optional<ChannelId> fromStore, std::vector<Segment> pieces) {
    Running& r = *running_;
    const ProcessingOptions options = r.cycle.options;
    std::optional<sac::SacHeader> like;
    if (fromStore) {
        if (const auto it = headers_.find(*fromStore); it != headers_.end())
            like = it->second;
    }
    // Builds the row's pieces (from the store when asked), keeps them raw and runs the chain;
    // any thread.
    auto work = [store = &store_, whole = std::move(whole), fromStore, pieces = std::move(pieces),
                 like, options, from = r.from, to = r.to, hook = readyHook_, index,
                 label = r.cycle.channels.labels.value(index),
                 channel = r.cycle.channels.id(index)]() -> Processed {
        Processed out;
        if (whole) {
            auto trace = std::make_unique<SacObject>(std::move(*whole));
            auto raw = std::make_shared<SacObject>(SacObject::fromSamples(
                std::vector<float>(trace->samples().begin(), trace->samples().end()),
                trace->delta(), trace->startTime(), 0.0, trace->GetSacHeader()));
            raw->setLabelString(trace->label());
            processing::run(*trace, options);
            processing::nameChannel(*trace, channel);
            processing::nameChannel(*raw, channel);
            std::shared_ptr<const void> prepared = hook ? hook(*trace) : nullptr;
            out.pieces.push_back(
                {index, label, std::move(trace), std::move(raw), std::move(prepared)});
            return out;
        }
        processing::Row row =
            processing::processRow(fromStore ? store->segments(*fromStore, from, to) : pieces,
                                   channel, options, like ? &*like : nullptr);
        out.unfiltered = row.unfiltered;
        for (processing::RowPiece& p : row.pieces) {
            std::shared_ptr<const void> prepared = hook ? hook(*p.trace) : nullptr;
            out.pieces.push_back(
                {index, label, std::move(p.trace), std::move(p.raw), std::move(prepared)});
        }
        return out;
    };
    ++r.processing;
    if (inlineProcessing_) {
        processed(r.generation, index, work());
        return;
    }
    const Mailbox::Sender back = mailbox_.sender();
    pool_.post([this, back, work = std::move(work), generation = r.generation, index]() mutable {
        auto result = std::make_shared<Processed>(work());
        back.post([this, generation, index, result] {
            processed(generation, index, std::move(*result));
        });
    });
}

void RetrievalCycle::processed(quint64 generation, int index, Processed result) {
    if (!running_ || running_->generation != generation)
        return;
    --running_->processing;
    if (result.pieces.empty() &&
        std::none_of(running_->result->failures.begin(), running_->result->failures.end(),
                     [index](const ChannelFailure& f) { return f.index == index; })) {
        running_->result->failures.push_back(
            {index,
             running_->cycle.channels.id(index),
             {AcquisitionFailure::Kind::NoData,
              QStringLiteral("nothing usable is held for this window"),
              {}},
             true});
    }
    running_->traces[static_cast<std::size_t>(index)] = std::move(result);
    finishIfDone();
}

void RetrievalCycle::finishIfDone() {
    if (!running_ || !running_->sourceDone || running_->processing > 0)
        return;
    std::unique_ptr<Running> r = std::move(running_);
    std::stable_sort(
        r->result->failures.begin(), r->result->failures.end(),
        [](const ChannelFailure& a, const ChannelFailure& b) { return a.index < b.index; });
    for (std::size_t i = 0; i < r->traces.size(); ++i) {
        Processed& p = r->traces[i];
        if (p.unfiltered > 0)
            r->result->unfiltered[static_cast<int>(i)] = p.unfiltered;
        for (CycleTrace& piece : p.pieces)
            r->result->traces.push_back(std::move(piece));
    }
    Q_EMIT finished(r->result);
}
