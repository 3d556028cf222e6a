#include "processing/DrumProcessing.h"

#include "components/sac/SacHeader.h"
#include "components/sac/SacObject.h"
#include "processing/ProcessingChain.h"
#include "processing/RowProcessing.h"

#include <cmath>

namespace drum {

namespace {

// Stretches shorter than this are noise to a filter: left out.
constexpr std::size_t kShortestRun = processing::kShortestFilteredRun;

void keepInside(const SacObject& s, const ChannelId& channel, Time from, Time to, Block& out) {
    const double dt = intervalOf(s); // the single-precision interval, to the microsecond
    const auto x = s.samples();
    if (!(dt > 0) || x.empty())
        return;
    const Time start = s.startTime();
    const double first = std::ceil(civil::secondsBetween(start, from) / dt - 1e-6);
    const double last = std::ceil(civil::secondsBetween(start, to) / dt - 1e-6); // exclusive
    const auto a = static_cast<std::size_t>(std::max(0.0, first));
    const auto b = static_cast<std::size_t>(std::clamp(last, 0.0, static_cast<double>(x.size())));
    if (a >= b)
        return;
    auto run = std::make_shared<Segment>();
    run->channel = channel;
    run->delta = dt;
    run->start = civil::addSeconds(start, static_cast<double>(a) * dt);
    run->samples.assign(x.begin() + static_cast<std::ptrdiff_t>(a),
                        x.begin() + static_cast<std::ptrdiff_t>(b));
    for (const float v : run->samples)
        out.sumSquares += static_cast<double>(v) * v;
    out.count += run->samples.size();
    out.runs.push_back(std::move(run));
}

} // namespace

Block process(const std::vector<Segment>& raw, Time from, Time to,
              const ProcessingOptions& options) {
    Block out;
    out.from = from;
    out.to = to;
    for (const Segment& seg : raw) {
        if (!(seg.delta > 0) || seg.samples.size() < kShortestRun)
            continue;
        SacObject s = SacObject::fromSamples(seg.samples, seg.delta, seg.start);
        if (sac::SacHeader* h = s.header())
            h->setText(sac::text::KCMPNM, seg.channel.channel.toStdString());
        processing::runSteps(s, options);
        keepInside(s, seg.channel, from, to, out);
    }
    return out;
}

} // namespace drum
