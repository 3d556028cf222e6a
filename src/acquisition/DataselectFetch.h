#pragma once

#include "acquisition/AcquisitionFailure.h"
#include "acquisition/ChannelRequest.h"
#include "acquisition/QueryUrl.h"
#include "acquisition/SeismogramFetch.h"
#include "base/ChannelId.h"
#include "base/Time.h"
#include "net/HttpClient.h"
#include "store/Segment.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The FDSN dataselect query of one channel request: the base address, the path, then net, sta,
// loc ("--" for a blank one), cha, starttime and endtime (whole seconds, the window as
// requestedWindow() gives it). Nothing when a code is not one (wildcards included) or the text
// is no valid URL. A decimation rate has no place in this query; the processing decimates.
std::optional<QString> dataselectQueryUrl(QStringView serviceBase, const ChannelRequest& request,
                                          Time now);

// A dataselect answer decoded record by record into the channel's gapless segments, oldest
// first, cut to the window asked for; other channels' records are passed over. HTTP 204 and 404
// (and an empty body) mean no data. Nothing, and why, when no usable samples of the channel
// came back, or when the answer holds more than twice the samples the window calls for. The
// sound records of an answer that also holds broken ones, or that ends inside a record, are
// kept: what is missing stays a gap, and `notes` gets a log line that says so.
std::optional<std::vector<Segment>> decodeDataselect(const QByteArray& body, long status,
                                                     const ChannelId& channel,
                                                     const RequestedWindow& window,
                                                     AcquisitionFailure* failure,
                                                     QStringList* notes = nullptr);

// The exchange and the decoding, as one unit of work for any thread; the answer is in
// `segments` of the result.
FetchedSeismogram fetchDataselect(const std::optional<QString>& url, const ChannelId& channel,
                                  const HttpOptions& options, const RequestedWindow& window);

// The channel a request names.
ChannelId requestChannel(const ChannelRequest& request);
