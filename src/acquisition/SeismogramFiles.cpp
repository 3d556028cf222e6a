#include "acquisition/SeismogramFiles.h"

#include "acquisition/MonitorSession.h"

#include "acquisition/MiniSeed.h"
#include "acquisition/SegmentOf.h"
#include "components/sac/SacObject.h"
#include "processing/RowProcessing.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <span>

namespace seismogramfiles {

namespace {

QString codeOf(const sac::SacHeader& h, const sac::Field& f) {
    const QString t = QString::fromStdString(h.getText(f)).trimmed();
    return t == u"-12345" ? QString() : t;
}

void merge(std::vector<Channel>& into, Channel c) {
    for (Channel& held : into) {
        if (held.channel.seedId() != c.channel.seedId())
            continue;
        std::vector<Segment> all = std::move(held.segments);
        for (Segment& s : c.segments)
            all.push_back(std::move(s));
        held.segments = miniseed::joinRecords(std::move(all));
        if (!held.header)
            held.header = std::move(c.header);
        return;
    }
    into.push_back(std::move(c));
}

} // namespace

std::optional<SeismicOrigin> originOf(const sac::SacHeader& h, Time firstSample) {
    const auto defined = [&h](int word) -> std::optional<double> {
        const float v = h.getFloat(word);
        if (!std::isfinite(v) || v == -12345.0f)
            return std::nullopt;
        return v;
    };
    const auto lat = defined(sac::word::EVLA), lon = defined(sac::word::EVLO);
    const auto o = defined(sac::word::O), b = defined(sac::word::B);
    if (!lat || !lon || !o || !b || std::abs(*lat) > 90 || std::abs(*lon) > 360 ||
        std::abs(*o - *b) > 1e7)
        return std::nullopt;
    SeismicOrigin origin;
    origin.originTime = civil::addSeconds(firstSample, *o - *b);
    origin.latitude = *lat;
    origin.longitude = *lon > 180 ? *lon - 360 : *lon;
    // Older writers gave the depth in metres.
    if (const auto depth = defined(sac::word::EVDP); depth && *depth >= 0)
        origin.depthKm = *depth > 1000 ? *depth / 1000 : *depth;
    origin.mag = defined(sac::word::MAG).value_or(0.0);
    origin.eventId = QString::fromStdString(h.getText(sac::text::KEVNM)).trimmed();
    if (origin.eventId == u"-12345")
        origin.eventId.clear();
    return origin;
}

ChannelId sacChannel(const sac::SacHeader& h, const QString& fileName) {
    ChannelId c{codeOf(h, sac::text::KNETWK), codeOf(h, sac::text::KSTNM),
                codeOf(h, sac::text::KHOLE), codeOf(h, sac::text::KCMPNM)};
    if (c.station.isEmpty())
        c.station = QFileInfo(fileName).completeBaseName();
    return c;
}

std::optional<std::vector<Channel>> readBytes(const QByteArray& bytes, const QString& fileName,
                                              QString* why, QString* skipped) {
    SacObject sac;
    const auto raw =
        std::as_bytes(std::span(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (sac.initWithNSData(raw, fileName.toStdString()) && sac.GetSacHeader()) {
        if (!sac.isSacFile()) {
            *why = QStringLiteral("its SAC header is not an evenly spaced time series");
            return std::nullopt;
        }
        Channel c;
        c.channel = sacChannel(*sac.GetSacHeader(), fileName);
        c.header = *sac.GetSacHeader();
        c.file = fileName;
        c.origin = originOf(*c.header, sac.startTime());
        Segment s = segmentOf(c.channel, sac);
        for (const float v : s.samples) {
            if (!std::isfinite(v)) {
                *why = QStringLiteral("a sample is not a number");
                return std::nullopt;
            }
        }
        if (s.samples.empty()) {
            *why = QStringLiteral("it holds no samples");
            return std::nullopt;
        }
        c.segments.push_back(std::move(s));
        return std::vector<Channel>{std::move(c)};
    }
    const miniseed::Contents m =
        miniseed::read(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (m.segments.empty()) {
        if (bytes.isEmpty())
            *why = QStringLiteral("it is empty");
        else if (m.seen > 0 && m.refused > 0)
            *why = QStringLiteral("none of its miniSEED records could be used (%1 refused, the "
                                  "first: %2)")
                       .arg(m.refused)
                       .arg(m.firstProblem);
        else if (m.refused > 0)
            *why = QStringLiteral("it is neither SAC nor miniSEED (%1)").arg(m.firstProblem);
        else
            *why = QStringLiteral("it is neither SAC nor miniSEED");
        return std::nullopt;
    }
    if (skipped)
        *skipped = m.leftOut();
    std::vector<Channel> out;
    for (const Segment& s : m.segments)
        merge(out, Channel{s.channel, {s}, std::nullopt, fileName, std::nullopt});
    return out;
}

Opened read(const QStringList& paths) {
    Opened out;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        QFile file(path);
        const auto problem = [&](const QString& why) {
            out.problems << name + QStringLiteral(": ") + why;
        };
        if (!QFileInfo(path).isFile()) {
            problem(QFileInfo(path).isDir() ? QStringLiteral("it is a folder, not a file")
                                            : QStringLiteral("there is no such file"));
            continue;
        }
        if (file.size() > kMaxFileBytes) {
            problem(QStringLiteral("it is larger than %1 MiB").arg(kMaxFileBytes >> 20));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            problem(file.errorString());
            continue;
        }
        const QByteArray bytes = file.read(kMaxFileBytes);
        QString why, skipped;
        auto channels = readBytes(bytes, name, &why, &skipped);
        if (!channels) {
            problem(why);
            continue;
        }
        if (!skipped.isEmpty())
            out.skipped << name + QStringLiteral(": ") + skipped;
        out.files << name;
        for (Channel& c : *channels) {
            if (!out.origin)
                out.origin = c.origin;
            merge(out.channels, std::move(c));
        }
    }
    for (const Channel& c : out.channels) {
        for (const Segment& s : c.segments) {
            if (!out.start || s.start < *out.start)
                out.start = s.start;
            const Time last = s.timeOf(s.size() - 1);
            if (!out.end || *out.end < last)
                out.end = last;
        }
    }
    return out;
}

std::shared_ptr<CycleResult> rows(const Opened& opened, const ProcessingOptions& options) {
    auto result = std::make_shared<CycleResult>();
    result->start = opened.start;
    result->end = opened.end;
    for (std::size_t i = 0; i < opened.channels.size(); ++i) {
        const Channel& c = opened.channels[i];
        processing::Row row =
            processing::processRow(c.segments, c.channel, options, c.header ? &*c.header : nullptr);
        const int index = static_cast<int>(i);
        if (row.unfiltered > 0)
            result->unfiltered[index] = row.unfiltered;
        for (processing::RowPiece& p : row.pieces)
            result->traces.push_back(
                {index, c.channel.seedId(), std::move(p.trace), std::move(p.raw), nullptr});
    }
    return result;
}

QString titleOf(const QStringList& files) {
    constexpr qsizetype kNamed = 3;
    if (files.size() <= kNamed)
        return files.join(QStringLiteral(", "));
    return files.mid(0, kNamed).join(QStringLiteral(", ")) +
           QStringLiteral(" and %1 more").arg(files.size() - kNamed);
}

ChannelTable tableOf(const Opened& opened) {
    ChannelTable table;
    for (const Channel& c : opened.channels) {
        table.networks << c.channel.network;
        table.stations << c.channel.station;
        table.channels << c.channel.channel;
        table.locations << c.channel.location;
        table.labels << c.channel.seedId();
    }
    return table;
}

std::shared_ptr<SessionFrame> frameOf(const Opened& opened, std::shared_ptr<CycleResult> rows) {
    auto frame = std::make_shared<SessionFrame>();
    frame->result = std::move(rows);
    frame->window = WindowRequest::of(WindowRequest::Mode::Typed, opened.start.value_or(Time{}),
                                      opened.end.value_or(Time{}));
    frame->title = titleOf(opened.files);
    frame->resetZoom = true;
    frame->rows.resize(opened.channels.size());
    return frame;
}

} // namespace seismogramfiles
