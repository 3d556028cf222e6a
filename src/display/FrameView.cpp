#include "display/FrameView.h"

#include "acquisition/MonitorSession.h"
#include "base/DateText.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/plot/TraceEnvelope.h"
#include "components/sac/SacObject.h"

#include <QPointer>

namespace frameview {

RetrievalCycle::ReadyHook summaryHook() {
    return [](const SacObject& s) -> std::shared_ptr<const void> {
        if (s.samples().size() < 4 * plot::BlockSummary::kBlock)
            return nullptr;
        return std::make_shared<const plot::BlockSummary>(plot::summarise(s.samples()));
    };
}

void adopt(QuilmRealTimeDisplayView02& view, const std::vector<TraceList::Summary>& summaries) {
    for (const TraceList::Summary& s : summaries)
        view.adoptSummary(s.identity, s.revision,
                          std::static_pointer_cast<const plot::BlockSummary>(s.prepared));
}

TraceList::Applied applyTraces(QuilmRealTimeDisplayView02* view, TraceList& traces, CycleResult& r,
                               const QStringList& labels, bool monitoring) {
    const std::optional<Time> reference = monitoring ? r.end : r.start;
    TraceList::Applied applied = traces.apply(r, labels, reference, datetext::now());
    if (!view)
        return applied;
    adopt(*view, applied.summaries);
    if (applied.drawn)
        view->setRefDate(reference);
    view->computePlotLimits();
    return applied;
}

void show(QuilmRealTimeDisplayView02& view, const SessionFrame& frame, int minutes) {
    if (frame.monitoring) {
        // The monitor's length in whole minutes, as its windows are asked for.
        view.setRefDate(frame.window.end);
        view.setXLimitsMin(-60.0f * static_cast<float>(minutes), 0.0f);
        view.setOriginOnRight(true);
    } else {
        view.setXmin(0);
        view.setOriginOnRight(false);
    }
    if (frame.resetZoom)
        view.resetZoom();
    view.setTitle(frame.title);
    view.setPlaceholder(QString(), QString());
    view.setNeedsDisplay(true);
}

std::function<void(QPainter&, QSize)> drawing(QuilmRealTimeDisplayView02* view) {
    return [view = QPointer<QuilmRealTimeDisplayView02>(view)](QPainter& p, QSize size) {
        if (view)
            view->render(p, size);
    };
}

} // namespace frameview
