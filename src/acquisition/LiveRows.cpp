#include "acquisition/LiveRows.h"

#include "components/sac/SacObject.h"
#include "processing/RowProcessing.h"
#include "store/TraceStore.h"

#include <algorithm>
#include <cmath>

namespace {

// Output older than the window is let go in batches, not sample by sample at every frame.
constexpr std::size_t kTrimBatch = 4096;

// The index of the first sample of `run` at or after `from`.
std::size_t firstFrom(const Segment& run, Time from) {
    const double behind = civil::secondsBetween(run.start, from) / run.delta;
    if (!(behind > 0))
        return 0;
    return std::min(run.size(), static_cast<std::size_t>(std::ceil(behind - 1e-6)));
}

} // namespace

LiveRows::LiveRows(const TraceStore& store) : store_(store) {}

LiveRows::~LiveRows() = default;

void LiveRows::reset(const ChannelTable& channels, const ProcessingOptions& options) {
    options_ = options;
    rows_.clear();
    rows_.resize(static_cast<std::size_t>(channels.size()));
    for (qsizetype i = 0; i < channels.size(); ++i) {
        rows_[static_cast<std::size_t>(i)].channel = channels.id(i);
        rows_[static_cast<std::size_t>(i)].label = channels.labels.value(i);
    }
}

void LiveRows::clear() {
    rows_.clear();
}

void LiveRows::renewAll() {
    for (Row& r : rows_)
        r.renew = true;
}

void LiveRows::setOptions(const ProcessingOptions& options) {
    if (options == options_)
        return;
    options_ = options;
    renewAll();
}

void LiveRows::rememberHeader(int row, const sac::SacHeader& header) {
    if (row >= 0 && static_cast<std::size_t>(row) < rows_.size())
        rows_[static_cast<std::size_t>(row)].header = header;
}

void LiveRows::push(int index, const Segment& piece, std::uint64_t revisionBefore) {
    if (index < 0 || static_cast<std::size_t>(index) >= rows_.size())
        return;
    Row& row = rows_[static_cast<std::size_t>(index)];
    if (row.renew || !row.chain)
        return; // the row is built from the store at the next frame, this piece with it
    // The store changed in a way no piece here explains, or this piece fills a hole behind
    // what the chain has passed: the chain cannot go back, so the row runs again.
    const bool behind = row.end && civil::secondsBetween(*row.end, piece.end()) <= 0.5 * piece.delta;
    if (row.revision != revisionBefore || behind) {
        row.renew = true;
        return;
    }
    append(row, row.chain->push(piece));
    if (!row.end || civil::secondsBetween(*row.end, piece.end()) > 0)
        row.end = piece.end();
    row.revision = store_.revision(row.channel);
}

void LiveRows::rebuild(Row& row, Time from, Time to) {
    row.chain.emplace(options_, row.channel.channel.toStdString());
    row.runs.clear();
    row.end.reset();
    for (const Segment& s : store_.segments(row.channel, from, to)) {
        append(row, row.chain->push(s));
        row.end = s.end();
    }
    row.revision = store_.revision(row.channel);
    row.renew = false;
    row.changed = true;
}

void LiveRows::append(Row& row, std::vector<processing::LiveChain::Run> runs) {
    for (processing::LiveChain::Run& run : runs) {
        if (run.samples.samples.empty())
            continue;
        row.changed = true;
        if (run.continues && !row.runs.empty()) {
            std::vector<float>& held = row.runs.back().samples;
            held.insert(held.end(), run.samples.samples.begin(), run.samples.samples.end());
        } else {
            row.runs.push_back(std::move(run.samples));
        }
    }
}

void LiveRows::trim(Row& row, Time from) {
    const auto gone = std::find_if(row.runs.begin(), row.runs.end(), [from](const Segment& r) {
        return civil::secondsBetween(from, r.end()) > 0;
    });
    row.runs.erase(row.runs.begin(), gone);
    if (row.runs.empty())
        return;
    Segment& first = row.runs.front();
    const std::size_t stale = firstFrom(first, from);
    if (stale >= kTrimBatch && stale * 4 >= first.size()) {
        first.samples.erase(first.samples.begin(),
                            first.samples.begin() + static_cast<std::ptrdiff_t>(stale));
        first.start = civil::addSeconds(first.start, static_cast<double>(stale) * first.delta);
    }
}

bool LiveRows::changed() const {
    return std::any_of(rows_.begin(), rows_.end(), [this](const Row& r) {
        return r.changed || r.renew || store_.revision(r.channel) != r.revision;
    });
}

std::size_t LiveRows::heldSamples() const {
    std::size_t n = 0;
    for (const Row& r : rows_)
        for (const Segment& s : r.runs)
            n += s.size();
    return n;
}

std::shared_ptr<CycleResult> LiveRows::frame(Time from, Time to) {
    auto out = std::make_shared<CycleResult>();
    out->start = from;
    out->end = to;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        Row& row = rows_[i];
        if (row.renew || !row.chain || store_.revision(row.channel) != row.revision)
            rebuild(row, from, to);
        trim(row, from);
        if (row.runs.empty()) {
            out->failures.push_back({static_cast<int>(i),
                                     row.channel,
                                     {AcquisitionFailure::Kind::NoData,
                                      QStringLiteral("nothing has arrived for this window yet"),
                                      {}},
                                     true});
            row.changed = false;
            continue;
        }
        if (!row.changed) {
            out->kept.push_back(static_cast<int>(i));
            continue;
        }
        build(static_cast<int>(i), row, from, *out);
        row.changed = false;
    }
    return out;
}

void LiveRows::build(int index, Row& row, Time from, CycleResult& out) const {
    // One factor for the whole row, so its pieces compare.
    double sumSquares = 0;
    std::size_t count = 0;
    for (const Segment& run : row.runs)
        for (std::size_t k = firstFrom(run, from); k < run.size(); ++k) {
            sumSquares += double(run.samples[k]) * double(run.samples[k]);
            ++count;
        }
    const double rms = count > 0 ? std::sqrt(sumSquares / static_cast<double>(count)) : 0.0;
    const float factor = rms > 0 && std::isfinite(rms) ? static_cast<float>(1.0 / rms) : 0.0f;
    const sac::SacHeader* like = row.header ? &*row.header : nullptr;
    for (const Segment& run : row.runs) {
        const std::size_t first = firstFrom(run, from);
        if (first >= run.size())
            continue;
        auto trace = std::make_unique<SacObject>(SacObject::fromSamples(
            std::vector<float>(run.samples.begin() + static_cast<std::ptrdiff_t>(first),
                               run.samples.end()),
            run.delta, run.timeOf(first), 0.0, like));
        processing::nameChannel(*trace, row.channel);
        trace->ScaleAmplitudes(factor);
        // The raw samples the piece came from, as held, for inspection and export.
        std::shared_ptr<const SacObject> raw;
        std::size_t longest = 0;
        for (Segment& held : store_.segments(row.channel, run.timeOf(first), run.timeOf(run.size() - 1)))
            if (held.size() > longest) {
                longest = held.size();
                raw = std::make_shared<SacObject>(SacObject::fromSamples(
                    std::move(held.samples), held.delta, held.start, 0.0, trace->GetSacHeader()));
            }
        std::shared_ptr<const void> prepared = hook_ ? hook_(*trace) : nullptr;
        out.traces.push_back(
            {index, row.label, std::move(trace), std::move(raw), std::move(prepared)});
    }
}
