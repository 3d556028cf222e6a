#pragma once

#include "acquisition/TraceList.h"

#include <QSize>

#include <functional>
#include <vector>

class QPainter;
class QuilmRealTimeDisplayView02;
struct SessionFrame;

// What a session's frame changes on the seismogram view, apart from the traces themselves.
namespace frameview {

// Made where a trace is processed: the view's summary of a long trace, so it is not made at paint.
RetrievalCycle::ReadyHook summaryHook();
// The summaries made with the traces, so the view does not make them at paint.
void adopt(QuilmRealTimeDisplayView02& view, const std::vector<TraceList::Summary>& summaries);
// The frame's traces into the list the view draws, referenced to the monitor window's end or any
// other's start; the view's limits follow.
TraceList::Applied applyTraces(QuilmRealTimeDisplayView02* view, TraceList& traces,
                               CycleResult& result, const QStringList& labels, bool monitoring);
// The window the frame shows (the monitor's last `minutes` with 0 s on the right, any other
// from its start), its title, the zoom reset when the frame asks for it; the start-up line goes.
void show(QuilmRealTimeDisplayView02& view, const SessionFrame& frame, int minutes);
// What draws the view as it is now onto a painter at a size, for pictures of it; nothing
// without a view.
std::function<void(QPainter&, QSize)> drawing(QuilmRealTimeDisplayView02* view);

} // namespace frameview
