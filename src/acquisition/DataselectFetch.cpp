#include "acquisition/DataselectFetch.h"

#include "acquisition/MiniSeed.h"
#include "base/UrlText.h"
#include "components/sac/SacObject.h"

#include <algorithm>
#include <cmath>

namespace {

using K = AcquisitionFailure::Kind;

Time wholeSecond(Time t) {
    const civil::Fields f = civil::fieldsOf(t);
    return civil::dateOf(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

// The samples of `s` from `from` to `to`, both included (a little tolerance for timing that is
// off by a fraction of a microsecond).
Segment cut(const Segment& s, Time from, Time to) {
    Segment out;
    out.channel = s.channel;
    out.delta = s.delta;
    const double first = std::ceil(civil::secondsBetween(s.start, from) / s.delta - 1e-6);
    const double last = std::floor(civil::secondsBetween(s.start, to) / s.delta + 1e-6);
    const double lo = std::max(0.0, first);
    const double hi = std::min(static_cast<double>(s.size()) - 1.0, last);
    if (!(lo <= hi))
        return out;
    const auto a = static_cast<std::size_t>(lo), b = static_cast<std::size_t>(hi) + 1;
    out.start = s.timeOf(a);
    out.samples.assign(s.samples.begin() + static_cast<std::ptrdiff_t>(a),
                       s.samples.begin() + static_cast<std::ptrdiff_t>(b));
    return out;
}

} // namespace

ChannelId requestChannel(const ChannelRequest& r) {
    return {r.value(ChannelRequest::Network), r.value(ChannelRequest::StationID),
            r.value(ChannelRequest::LocationCode), r.value(ChannelRequest::ChannelID)};
}

std::optional<QString> dataselectQueryUrl(QStringView serviceBase, const ChannelRequest& r,
                                          Time now) {
    const ChannelId ch = requestChannel(r);
    if (ch.network.isEmpty() || ch.station.isEmpty() || ch.channel.isEmpty() ||
        !isChannelCode(ch.network) || !isChannelCode(ch.station) ||
        !isChannelCode(ch.location, true) || !isChannelCode(ch.channel))
        return std::nullopt;
    const RequestedWindow w = requestedWindow(r, now);
    QString url =
        baseAddress(serviceBase.toString()) + QStringLiteral("/fdsnws/dataselect/1/query?");
    url += QStringLiteral("net=") + ch.network;
    url += QStringLiteral("&sta=") + ch.station;
    url += QStringLiteral("&loc=") + (ch.location.isEmpty() ? QStringLiteral("--") : ch.location);
    url += QStringLiteral("&cha=") + ch.channel;
    url += QStringLiteral("&starttime=") + urlTimeText(w.start);
    url += QStringLiteral("&endtime=") + urlTimeText(w.end);
    if (!isValidUrlText(url))
        return std::nullopt;
    return url;
}

std::optional<std::vector<Segment>>
decodeDataselect(const QByteArray& body, long status, const ChannelId& channel,
                 const RequestedWindow& window, AcquisitionFailure* failure, QStringList* notes) {
    auto refuse = [failure](K kind, const QString& why, bool logged = false) {
        *failure = {kind, why, logged ? QStringList{why} : QStringList{}};
        return std::nullopt;
    };
    if (status == 204 || status == 404 || (status == 200 && body.isEmpty()))
        return refuse(K::NoData, QStringLiteral("The service holds no data for this window "
                                                "(HTTP status %1).")
                                     .arg(status));
    if (status != 200)
        return refuse(K::NotSeismogram, QStringLiteral("The answer is not miniSEED (HTTP status "
                                                       "%1, %2 bytes).")
                                            .arg(status)
                                            .arg(body.size()));
    const Time from = wholeSecond(window.start), to = wholeSecond(window.end);
    const double span = std::max(0.0, civil::secondsBetween(from, to));
    // Before the interval is known, no more than a day of samples at a kilohertz.
    miniseed::Limits limits;
    limits.maxSamples = std::size_t{86'400'000};
    const miniseed::Contents read = miniseed::readChannel(
        body.constData(), static_cast<std::size_t>(body.size()), channel, limits);
    std::vector<Segment> kept;
    std::size_t samples = 0;
    double allowed = 0;
    for (const Segment& s : read.segments) {
        Segment piece = cut(s, from, to);
        if (piece.samples.empty())
            continue;
        samples += piece.size();
        allowed = std::max(allowed, 2.0 * (span / piece.delta + 1.0) + 16.0);
        kept.push_back(std::move(piece));
    }
    if (read.tooMany || (!kept.empty() && static_cast<double>(samples) > allowed))
        return refuse(K::TooLarge,
                      QStringLiteral("The answer holds more samples than the window calls for "
                                     "(%1 at least).")
                          .arg(read.tooMany ? limits.maxSamples : samples),
                      true);
    if (!kept.empty()) {
        if (const QString part = read.leftOut(); notes && !part.isEmpty())
            *notes << QStringLiteral("The answer for %1 was read in part: %2. What is missing is "
                                     "left as a gap.")
                          .arg(channel.seedId(), part);
        return kept;
    }
    if (read.refused > 0)
        return refuse(K::NotSeismogram,
                      QStringLiteral("The answer holds no usable miniSEED record of the channel "
                                     "(%1 refused, the first: %2).")
                          .arg(read.refused)
                          .arg(read.firstProblem));
    if (read.truncated && read.records == 0)
        return refuse(K::NotSeismogram,
                      QStringLiteral("The answer ends inside its first miniSEED record (%1 "
                                     "bytes).")
                          .arg(body.size()));
    return refuse(K::NoData, read.records > 0
                                 ? QStringLiteral("The answer's records lie outside the window.")
                                 : QStringLiteral("The answer holds no records of the channel."));
}

FetchedSeismogram fetchDataselect(const std::optional<QString>& url, const ChannelId& channel,
                                  const HttpOptions& options, const RequestedWindow& window) {
    FetchedSeismogram out;
    AcquisitionFailure failure;
    const auto response = fetchBody(url, options, &failure);
    if (!response) {
        out.failure = std::move(failure);
        return out;
    }
    out.bytes = response->body.size();
    auto segments =
        decodeDataselect(response->body, response->status, channel, window, &failure, &out.notes);
    if (segments)
        out.segments = std::move(*segments);
    else
        out.failure = std::move(failure);
    return out;
}
