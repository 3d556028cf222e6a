#include "processing/RowProcessing.h"

#include "components/sac/SacHeader.h"
#include "components/sac/SacObject.h"
#include "processing/ProcessingChain.h"

#include <cmath>

namespace processing {

void nameChannel(SacObject& s, const ChannelId& ch) {
    sac::SacHeader* h = s.header();
    if (!h)
        return;
    const std::pair<const sac::Field*, const QString*> codes[] = {
        {&sac::text::KNETWK, &ch.network},
        {&sac::text::KSTNM, &ch.station},
        {&sac::text::KHOLE, &ch.location},
        {&sac::text::KCMPNM, &ch.channel}};
    for (const auto& [field, code] : codes) {
        const std::string held = h->getText(*field);
        if (held.empty() || held.starts_with("-12345"))
            h->setText(*field, code->toStdString());
    }
}

Row processRow(const std::vector<Segment>& segments, const ChannelId& channel,
               const ProcessingOptions& options, const sac::SacHeader* like) {
    Row row;
    double sumSquares = 0;
    std::size_t count = 0;
    for (const Segment& seg : segments) {
        if (seg.samples.empty() || !(seg.delta > 0))
            continue;
        auto trace = std::make_unique<SacObject>(
            SacObject::fromSamples(seg.samples, seg.delta, seg.start, 0.0, like));
        nameChannel(*trace, channel);
        auto raw = std::make_shared<SacObject>(
            SacObject::fromSamples(seg.samples, seg.delta, seg.start, 0.0, trace->GetSacHeader()));
        if (seg.samples.size() >= kShortestFilteredRun) {
            runSteps(*trace, options);
        } else {
            trace->SubtractLinearTrend();
            trace->RemoveMean();
            ++row.unfiltered;
        }
        const double r = trace->simpleRMS();
        sumSquares += r * r * static_cast<double>(trace->samples().size());
        count += trace->samples().size();
        row.pieces.push_back({std::move(trace), std::move(raw)});
    }
    const double rms = count > 0 ? std::sqrt(sumSquares / static_cast<double>(count)) : 0.0;
    const float factor = rms > 0 && std::isfinite(rms) ? static_cast<float>(1.0 / rms) : 0.0f;
    for (RowPiece& p : row.pieces)
        p.trace->ScaleAmplitudes(factor);
    return row;
}

} // namespace processing
