#include "acquisition/SeedLinkSource.h"

#include "acquisition/ChannelRequest.h"
#include "acquisition/SeedLinkStreamList.h"
#include "base/Background.h"
#include "base/DateText.h"

#include <QTimer>

#include <algorithm>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr auto kStreamListDeadline = 30s;

// A channel as a log line may show it: codes from a list can be of any length.
QString shown(const ChannelId& id) {
    const QString text = id.seedId();
    return text.size() > 40 ? text.left(40) + QStringLiteral("...") : text;
}

} // namespace

SeedLinkSource::SeedLinkSource(QObject* parent) : WaveformSource(parent) {}

SeedLinkSource::~SeedLinkSource() = default;

std::optional<std::pair<QString, quint16>> SeedLinkSource::parseServer(const QString& text) {
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    const QString host = t.left(colon);
    bool ok = false;
    const uint port = t.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    for (const QChar c : host)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'.' && c != u'-')
            return std::nullopt;
    return std::pair{host, static_cast<quint16>(port)};
}

std::optional<std::vector<std::pair<QString, quint16>>>
SeedLinkSource::parseServers(const QString& text) {
    std::vector<std::pair<QString, quint16>> out;
    for (const QString& item : text.split(u',')) {
        const auto server = parseServer(item);
        if (!server || out.size() >= kMaxServers)
            return std::nullopt;
        // Named twice, it is still one server.
        if (std::find(out.begin(), out.end(), *server) == out.end())
            out.push_back(*server);
    }
    return out;
}

bool SeedLinkSource::setServer(const QString& text) {
    const auto parsed = parseServers(text);
    if (!parsed)
        return false;
    servers_ = *parsed;
    return true;
}

QString SeedLinkSource::server() const {
    QStringList names;
    for (const auto& [host, port] : servers_)
        names << host + u':' + QString::number(port);
    return names.join(QStringLiteral(", "));
}

SeedLinkConnection* SeedLinkSource::connectionTo(const QString& server) const {
    for (const auto& c : connections_)
        if (c && (server.isEmpty() || c->server() == server))
            return c;
    return nullptr;
}

std::optional<std::uint32_t> SeedLinkSource::lastSequence(const QString& station) const {
    for (const auto& c : connections_)
        if (c)
            if (const auto s = c->lastSequence(station))
                return s;
    return std::nullopt;
}

int SeedLinkSource::attempts(const QString& server) const {
    const SeedLinkConnection* c = connectionTo(server);
    return c ? c->attempts() : 0;
}

std::chrono::milliseconds SeedLinkSource::retryDelay(const QString& server) const {
    const SeedLinkConnection* c = connectionTo(server);
    return c ? c->retryDelay() : 0ms;
}

QStringList SeedLinkSource::routes() const {
    return routes_;
}

SeedLinkSource::Link SeedLinkSource::link() const {
    if (active_ == 0)
        return Link::Idle;
    if (noneOffered_)
        return Link::Refused;
    bool lost = false, connecting = probing_;
    for (const auto& c : connections_) {
        if (!c || c->link() == Link::Refused)
            continue;
        lost = lost || c->link() == Link::Lost;
        connecting = connecting || c->link() != Link::Streaming;
    }
    return lost ? Link::Lost : connecting ? Link::Connecting : Link::Streaming;
}

quint64 SeedLinkSource::request(std::vector<ChannelRequest> requests) {
    cancel(active_);
    const quint64 id = active_ = ++lastRequest_;
    channels_.clear();
    routes_.clear();
    from_.reset();
    noneOffered_ = false;
    std::vector<std::pair<int, QString>> unfit;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const ChannelRequest& r = requests[i];
        if (!from_)
            from_ = datetext::parseRequestTime(r.value(ChannelRequest::StartTime));
        channels_.push_back({r.value(ChannelRequest::Network), r.value(ChannelRequest::StationID),
                             r.value(ChannelRequest::LocationCode),
                             r.value(ChannelRequest::ChannelID)});
        if (!seedlink::isStreamable(channels_.back()))
            unfit.emplace_back(
                static_cast<int>(i),
                QStringLiteral("the codes of %1 are not ones a SeedLink server takes "
                               "(letters and digits, at most 2, 5, 2 and 3 of them)")
                    .arg(shown(channels_.back())));
    }
    refused_.assign(channels_.size(), 0);
    // Said after request() has returned, so that the caller knows the request's number.
    if (!unfit.empty())
        QTimer::singleShot(0, this, [this, id, unfit] {
            for (const auto& [index, why] : unfit)
                if (active_ == id)
                    refuse(index, why);
        });
    std::vector<int> route(channels_.size(), 0);
    for (const auto& [index, why] : unfit)
        route[static_cast<std::size_t>(index)] = -1;
    if (servers_.empty()) {
        QTimer::singleShot(0, this, [this, id] {
            if (active_ == id)
                Q_EMIT linkChanged(Link::Lost, QStringLiteral("no SeedLink server is set"),
                                   QString());
        });
    } else if (servers_.size() == 1) {
        stream(route);
    } else {
        // Which server carries what: every list is read at once, off this thread.
        probing_ = true;
        if (!probe_)
            probe_ = std::make_unique<Background>();
        probe_->run(
            [servers = servers_](const std::atomic<bool>& cancelled) {
                seedlink::StreamLists lists(servers.size());
                std::vector<std::thread> askers;
                for (std::size_t s = 0; s < servers.size(); ++s)
                    askers.emplace_back([&, s] {
                        lists[s] = seedlink::fetchStreamList(servers[s].first, servers[s].second,
                                                             &cancelled, kStreamListDeadline)
                                       .streams;
                    });
                for (std::thread& t : askers)
                    t.join();
                return lists;
            },
            [this, id, route](const seedlink::StreamLists& lists) {
                if (active_ != id)
                    return;
                probing_ = false;
                std::vector<int> routed = seedlink::routeChannels(channels_, lists);
                for (std::size_t i = 0; i < routed.size(); ++i)
                    if (route[i] < 0)
                        routed[i] = -1;
                stream(routed);
            });
    }
    return id;
}

void SeedLinkSource::stream(const std::vector<int>& route) {
    const quint64 id = active_;
    routes_.clear();
    std::vector<std::vector<SeedLinkConnection::Channel>> work(servers_.size());
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const int s = route[i];
        routes_ << (s < 0 ? QString()
                          : servers_[static_cast<std::size_t>(s)].first + u':' +
                                QString::number(servers_[static_cast<std::size_t>(s)].second));
        if (s >= 0)
            work[static_cast<std::size_t>(s)].push_back({static_cast<int>(i), channels_[i]});
    }
    for (std::size_t s = 0; s < servers_.size(); ++s) {
        if (work[s].empty())
            continue;
        auto* c = new SeedLinkConnection(servers_[s].first, servers_[s].second, timings_, this);
        connections_.emplace_back(c);
        connect(c, &SeedLinkConnection::segmentReceived, this,
                [this, id](int index, const Segment& segment) {
                    if (active_ == id)
                        Q_EMIT segmentReceived(id, index, segment);
                });
        connect(c, &SeedLinkConnection::channelRefused, this,
                [this, id](int index, const QString& why) {
                    if (active_ == id)
                        refuse(index, why);
                });
        connect(c, &SeedLinkConnection::linkChanged, this,
                [this, id, c](Link link, const QString& why) {
                    // A server left with nothing to stream is said once for all, by refuse().
                    if (active_ == id && link != Link::Refused)
                        Q_EMIT linkChanged(link, why, c->server());
                });
    }
    // Channels no server carries are failed before anything streams; then each server starts.
    for (std::size_t i = 0; i < channels_.size() && active_ == id; ++i)
        if (route[i] < 0 && servers_.size() > 1 && seedlink::isStreamable(channels_[i]))
            refuse(
                static_cast<int>(i),
                QStringLiteral("none of the SeedLink servers carries %1").arg(shown(channels_[i])));
    std::size_t next = 0;
    for (std::size_t s = 0; s < servers_.size() && active_ == id; ++s)
        if (!work[s].empty())
            if (SeedLinkConnection* c = connections_[next++])
                c->start(std::move(work[s]), from_);
}

void SeedLinkSource::refuse(int index, const QString& why) {
    auto& refused = refused_[static_cast<std::size_t>(index)];
    if (refused)
        return;
    refused = 1;
    const quint64 id = active_;
    Q_EMIT channelFailed(id, index, {AcquisitionFailure::Kind::Refused, why, {}});
    if (active_ != id || noneOffered_ ||
        !std::all_of(refused_.begin(), refused_.end(), [](char r) { return r != 0; }))
        return;
    noneOffered_ = true;
    Q_EMIT linkChanged(Link::Refused, QStringLiteral("the server offers none of these stations"),
                       server());
}

void SeedLinkSource::cancel(quint64 request) {
    if (request == 0 || request != active_)
        return;
    active_ = 0;
    probing_ = false;
    if (probe_)
        probe_->cancel();
    // A connection may be inside one of its own handlers: it goes once they have returned.
    for (const auto& c : connections_)
        if (c) {
            c->stop();
            c->deleteLater();
        }
    connections_.clear();
    Q_EMIT requestFinished(request);
}
