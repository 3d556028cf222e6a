#include "acquisition/RetrievalCycle.h"

#include "acquisition/QueryUrl.h"
#include "acquisition/SegmentOf.h"
#include "acquisition/WaveformSource.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "components/sac/SacObject.h"
#include "processing/ProcessingChain.h"
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

// A trace names its channel in its header; where the answer left a code undefined, the request's
// own stands in (after processing, which reads the component name as the answer gave it).
void nameChannel(SacObject& s, const ChannelId& ch) {
    sac::SacHeader* h = s.header();
    if (!h)
        return;
    const std::pair<const sac::Field*, const QString*> codes[] = {
        {&sac::text::KNETWK, &ch.network}, {&sac::text::KSTNM, &ch.station},
        {&sac::text::KHOLE, &ch.location}, {&sac::text::KCMPNM, &ch.channel}};
    for (const auto& [field, code] : codes) {
        const std::string held = h->getText(*field);
        if (held.empty() || held.starts_with("-12345"))
            h->setText(*field, code->toStdString());
    }
}

bool sameSample(float a, float b) {
    return a == b || std::abs(a - b) <= 1e-6f * std::max(std::abs(a), std::abs(b));
}

int processingThreads() {
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

} // namespace

struct RetrievalCycle::Running {
    quint64 request = 0;
    quint64 generation = 0;
    CycleRequest cycle;
    std::vector<ChannelRequest> requests;
    std::vector<int> asked; // the source's index -> table row
    std::vector<bool> tail;
    Time from{}, to{}; // the monitor window, whole seconds
    std::vector<Processed> traces;
    int processing = 0;
    std::size_t samplesHeld = 0;
    bool sourceDone = false;
    std::shared_ptr<CycleResult> result = std::make_shared<CycleResult>();
};

RetrievalCycle::RetrievalCycle(WaveformSource& source, TraceStore& store, QObject* parent)
    : QObject(parent), source_(source), store_(store), pool_(processingThreads()) {
    connect(&source_, &WaveformSource::seismogramReceived, this, &RetrievalCycle::onSeismogram);
    connect(&source_, &WaveformSource::channelFailed, this, &RetrievalCycle::onFailure);
    connect(&source_, &WaveformSource::requestFinished, this, &RetrievalCycle::onSourceFinished);
}

RetrievalCycle::~RetrievalCycle() {
    cancel();
}

void RetrievalCycle::cancel() {
    if (!running_)
        return;
    const quint64 request = running_->request;
    running_.reset();
    ++generation_;
    source_.cancel(request);
}

void RetrievalCycle::start(CycleRequest request) {
    cancel();
    auto r = std::make_unique<Running>();
    r->generation = ++generation_;
    r->cycle = std::move(request);
    const CycleRequest& c = r->cycle;
    r->result->start = datetext::parseRequestTime(c.startText);
    r->result->end = datetext::parseRequestTime(c.endText);
    const bool stored = c.monitor && r->result->start && r->result->end;
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
        processedEnd_.clear();
    processedOptions_ = c.options;
    std::vector<ChannelRequest> asked;
    std::vector<int> fromStore;
    for (qsizetype i = 0; i < n; ++i) {
        ChannelRequest req = channelRequest(c.channels, i, c.startText, c.endText);
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
            const auto run = store_.continuous(ch, r->from, r->to);
            const auto end = store_.end(ch);
            if (run && end && civil::secondsBetween(run->start, r->from) > -0.5 * run->delta &&
                std::abs(civil::secondsBetween(*end, run->end())) < 0.5 * run->delta) {
                const Time from = civil::addSeconds(*end, -kOverlapSamples * run->delta);
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
    const quint64 generation = running_->generation;
    for (const int i : fromStore) {
        const ChannelId ch = running_->cycle.channels.id(i);
        const auto end = store_.end(ch);
        if (!end || !store_.continuous(ch, running_->from, running_->to)) {
            running_->result->failures.push_back(
                {i, ch, {AcquisitionFailure::Kind::NoData,
                         QStringLiteral("nothing has arrived for this window yet"), {}},
                 true});
            continue;
        }
        const auto seen = processedEnd_.find(ch);
        if (reuse && seen != processedEnd_.end() && seen->second == *end) {
            running_->result->kept.push_back(i);
            continue;
        }
        processedEnd_.insert_or_assign(ch, *end);
        process(i, nullptr, ch);
    }
    if (asked.empty()) {
        running_->sourceDone = true;
        finishIfDone();
        return;
    }
    // With an inline source everything below happens before request() returns.
    const quint64 id = source_.request(std::move(asked));
    if (running_ && running_->generation == generation)
        running_->request = id;
}

int RetrievalCycle::rowOf(int asked) const {
    if (!running_ || asked < 0 || static_cast<std::size_t>(asked) >= running_->asked.size())
        return -1;
    return running_->asked[static_cast<std::size_t>(asked)];
}

void RetrievalCycle::onSeismogram(quint64 request, int asked, std::shared_ptr<SacObject> s,
                                  qint64 bytes) {
    const int index = rowOf(asked);
    if (!running_ || (running_->request != 0 && running_->request != request) || index < 0)
        return;
    Running& r = *running_;
    r.result->bytes += bytes;
    r.samplesHeld += s->samples().size();
    if (r.samplesHeld > maxCycleSamples_) {
        const QString why = QStringLiteral("The retrieval holds more than %1 samples in all; the "
                                           "rest of its channels are left out.")
                                .arg(maxCycleSamples_);
        onFailure(request, asked, {AcquisitionFailure::Kind::TooLarge, why, {why}});
        return;
    }
    const ChannelId ch = r.cycle.channels.id(index);
    if (!r.cycle.monitor || !r.result->start || !r.result->end) {
        process(index, std::move(s), std::nullopt);
        return;
    }
    if (!r.tail[static_cast<std::size_t>(index)]) {
        store_.forget(ch);
        store_.feed(segmentOf(ch, *s));
        dirty_.erase(ch);
        if (const sac::SacHeader* h = s->GetSacHeader())
            headers_.insert_or_assign(ch, *h);
        if (const auto end = store_.end(ch))
            processedEnd_.insert_or_assign(ch, *end);
        process(index, std::move(s), std::nullopt);
        return;
    }
    if (tailJoinsCleanly(ch, *s)) {
        store_.feed(segmentOf(ch, *s));
    } else {
        // This time the newest piece alone; next time the whole window.
        store_.forget(ch);
        store_.feed(segmentOf(ch, *s));
        dirty_.insert(ch);
    }
    if (!headers_.contains(ch) && s->GetSacHeader())
        headers_.insert_or_assign(ch, *s->GetSacHeader());
    if (const auto end = store_.end(ch))
        processedEnd_.insert_or_assign(ch, *end);
    process(index, nullptr, ch);
}

bool RetrievalCycle::tailJoinsCleanly(const ChannelId& ch, const SacObject& tail) const {
    const auto end = store_.end(ch);
    const auto stored = store_.continuous(ch, running_->from, running_->to);
    if (!end || !stored)
        return false;
    const double delta = stored->delta;
    if (tail.samples().empty())
        return true; // nothing new, nothing wrong
    if (std::abs(intervalOf(tail) - delta) > 1e-6 * delta)
        return false; // another rate
    const double offset = civil::secondsBetween(*end, tail.startTime()) / delta;
    if (offset > 0.5)
        return false; // a gap between what is held and the tail
    const double grid = civil::secondsBetween(stored->start, tail.startTime()) / delta;
    if (std::abs(grid - std::round(grid)) > 0.01)
        return false; // off the stored grid
    // The samples the tail repeats must be the ones held.
    const auto held = store_.continuous(ch, tail.startTime(), civil::addSeconds(*end, -delta));
    if (!held)
        return false;
    const auto x = tail.samples();
    const std::size_t overlap = std::min(held->size(), x.size());
    for (std::size_t i = 0; i < overlap; ++i)
        if (!sameSample(held->samples[i], x[i]))
            return false;
    return true;
}

void RetrievalCycle::onFailure(quint64 request, int asked, const AcquisitionFailure& failure) {
    const int index = rowOf(asked);
    if (!running_ || (running_->request != 0 && running_->request != request) || index < 0)
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
}

void RetrievalCycle::onSourceFinished(quint64 request) {
    if (!running_ || (running_->request != 0 && running_->request != request))
        return;
    running_->sourceDone = true;
    finishIfDone();
}

void RetrievalCycle::process(int index, std::shared_ptr<SacObject> whole,
                             std::optional<ChannelId> fromStore) {
    Running& r = *running_;
    const ProcessingOptions options = r.cycle.options;
    std::optional<sac::SacHeader> like;
    if (fromStore) {
        if (const auto it = headers_.find(*fromStore); it != headers_.end())
            like = it->second;
    }
    // Builds the trace (from the store when asked), keeps it raw and runs the chain; any thread.
    auto work = [store = &store_, whole = std::move(whole), fromStore, like, options,
                 from = r.from, to = r.to, hook = readyHook_,
                 channel = r.cycle.channels.id(index)]() -> Processed {
        std::unique_ptr<SacObject> trace;
        if (whole) {
            trace = std::make_unique<SacObject>(std::move(*whole));
        } else {
            const auto run = store->continuous(*fromStore, from, to);
            if (!run)
                return {};
            trace = std::make_unique<SacObject>(SacObject::fromSamples(
                run->samples, run->delta, run->start, 0.0, like ? &*like : nullptr));
            // The chain picks its options by the component name, which a stream's samples
            // only have from the request.
            nameChannel(*trace, channel);
        }
        auto raw = std::make_shared<SacObject>(SacObject::fromSamples(
            std::vector<float>(trace->samples().begin(), trace->samples().end()), trace->delta(),
            trace->startTime(), 0.0, trace->GetSacHeader()));
        raw->setLabelString(trace->label());
        processing::run(*trace, options);
        nameChannel(*trace, channel);
        nameChannel(*raw, channel);
        std::shared_ptr<const void> prepared = hook ? hook(*trace) : nullptr;
        return {std::move(trace), std::move(raw), std::move(prepared)};
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
    running_->traces[static_cast<std::size_t>(index)] = std::move(result);
    finishIfDone();
}

void RetrievalCycle::finishIfDone() {
    if (!running_ || !running_->sourceDone || running_->processing > 0)
        return;
    std::unique_ptr<Running> r = std::move(running_);
    for (std::size_t i = 0; i < r->traces.size(); ++i) {
        Processed& p = r->traces[i];
        if (p.trace)
            r->result->traces.push_back({static_cast<int>(i),
                                         r->cycle.channels.labels.value(static_cast<qsizetype>(i)),
                                         std::move(p.trace), std::move(p.raw),
                                         std::move(p.prepared)});
    }
    Q_EMIT finished(r->result);
}
