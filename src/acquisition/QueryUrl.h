#pragma once

#include "acquisition/ChannelRequest.h"
#include "base/Time.h"

#include <QString>
#include <QStringView>

#include <optional>

// The time-series query of one channel request: the service's base address, the path, then
// net, sta, loc, cha, start, end, scale, deci (only with a rate other than "*") and output, in
// that order. A window whose end lies before its start ends at its start and reaches back 60
// times the reversed span, at most 345600 samples of the channel. A time text that does not
// parse is sent as `now`. Nothing when a code is not one (isChannelCode) or the assembled
// text is no valid URL.
std::optional<QString> timeSeriesQueryUrl(QStringView serviceBase, const ChannelRequest& request,
                                          Time now);

// The window a request asks for, as its query states it (before the cut to whole seconds).
struct RequestedWindow {
    Time start{}, end{};
};
RequestedWindow requestedWindow(const ChannelRequest& request, Time now);


// "2012-06-15T10:00:00": whole seconds, truncated, no zone letter.
QString urlTimeText(Time t);

// STA.NET.CHA.LOC.sac with every ":" made "-".
QString seismogramFileName(const ChannelRequest& request);

// "Encountered a Connection problem for request:" and the request's codes and window.
QString connectionProblemLine(const ChannelRequest& request);

// The record of channel i of a table for a window: every value as text, the rate "*".
struct ChannelTable;
ChannelRequest channelRequest(const ChannelTable& table, qsizetype i, const QString& startText,
                              const QString& endText);
