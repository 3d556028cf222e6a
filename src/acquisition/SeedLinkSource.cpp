#include "acquisition/SeedLinkSource.h"

#include "acquisition/ChannelRequest.h"
#include "base/DateText.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

bool sameLocation(const QString& asked, const QString& got) {
    // A blank location in the list asks for the channel wherever the server puts it.
    return asked.isEmpty() || asked == u"--" || asked == got;
}

} // namespace

SeedLinkSource::SeedLinkSource(QObject* parent) : WaveformSource(parent) {
    reconnect_.setSingleShot(true);
    idle_.setSingleShot(true);
    connect(&reconnect_, &QTimer::timeout, this, &SeedLinkSource::connectNow);
    connect(&idle_, &QTimer::timeout, this, [this] {
        reset(QStringLiteral("silent for %1 s").arg(idleLimit_.count() / 1000.0));
    });
}

SeedLinkSource::~SeedLinkSource() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

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

bool SeedLinkSource::setServer(const QString& hostPort) {
    const auto parsed = parseServer(hostPort);
    if (!parsed)
        return false;
    host_ = parsed->first;
    port_ = parsed->second;
    return true;
}

QString SeedLinkSource::server() const {
    return host_ + u':' + QString::number(port_);
}

std::optional<std::uint32_t> SeedLinkSource::lastSequence(const QString& station) const {
    const auto it = stationIndex_.find(station);
    return it == stationIndex_.end() ? std::nullopt : stations_[it->second].lastSequence;
}

quint64 SeedLinkSource::request(std::vector<ChannelRequest> requests) {
    cancel(active_);
    active_ = ++lastRequest_;
    requests_ = std::move(requests);
    startFrom_.reset();
    stations_.clear();
    stationIndex_.clear();
    channelRefused_.assign(requests_.size(), false);
    for (std::size_t i = 0; i < requests_.size(); ++i) {
        const ChannelRequest& r = requests_[i];
        if (!startFrom_)
            startFrom_ = datetext::parseRequestTime(r.value(ChannelRequest::StartTime));
        const ChannelId id{r.value(ChannelRequest::Network), r.value(ChannelRequest::StationID),
                           r.value(ChannelRequest::LocationCode), r.value(ChannelRequest::ChannelID)};
        const QString key = id.network + u'.' + id.station;
        auto [it, added] = stationIndex_.try_emplace(key, stations_.size());
        if (added)
            stations_.push_back({id.network, id.station, {}, std::nullopt, false});
        stations_[it->second].channels.push_back(static_cast<int>(i));
    }
    backoff_ = firstBackoff_;
    connectNow();
    return active_;
}

void SeedLinkSource::cancel(quint64 request) {
    if (request == 0 || request != active_)
        return;
    active_ = 0;
    reconnect_.stop();
    idle_.stop();
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_.reset();
    }
    streaming_ = false;
    pending_.clear();
    link_ = Link::Idle;
    Q_EMIT requestFinished(request);
}

void SeedLinkSource::connectNow() {
    if (active_ == 0)
        return;
    if (std::none_of(stations_.begin(), stations_.end(), [](const Station& s) { return !s.refused; }))
        return; // nothing left to ask this server for
    if (host_.isEmpty()) {
        setLink(Link::Lost, QStringLiteral("no SeedLink server is set"));
        return;
    }
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
    socket_ = std::make_unique<QTcpSocket>();
    buffer_.clear();
    streaming_ = false;
    pending_.clear();
    awaitedLines_ = 0;
    connect(socket_.get(), &QTcpSocket::connected, this, &SeedLinkSource::onConnected);
    connect(socket_.get(), &QTcpSocket::readyRead, this, &SeedLinkSource::onReadyRead);
    connect(socket_.get(), &QTcpSocket::disconnected, this,
            [this] { onDisconnected(QStringLiteral("the server closed the connection")); });
    connect(socket_.get(), &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError) { onDisconnected(socket_->errorString()); });
    if (link_ == Link::Idle)
        link_ = Link::Connecting;
    // Connecting counts against the idle limit too: a server that never answers is dropped.
    idle_.start(idleLimit_);
    socket_->connectToHost(host_, port_);
}

void SeedLinkSource::onConnected() {
    // The whole handshake, sent one command at a time as the replies come.
    pending_.push_back({seedlink::helloCommand(), 2, -1, {}, Command::Kind::Hello});
    for (std::size_t s = 0; s < stations_.size(); ++s) {
        const Station& st = stations_[s];
        if (st.refused)
            continue;
        pending_.push_back({seedlink::stationCommand(st.code, st.network), 1, static_cast<int>(s),
                            {}, Command::Kind::Station});
        for (const int i : st.channels) {
            if (channelRefused_[static_cast<std::size_t>(i)])
                continue;
            const ChannelRequest& r = requests_[static_cast<std::size_t>(i)];
            pending_.push_back({seedlink::selectCommand(r.value(ChannelRequest::LocationCode),
                                                        r.value(ChannelRequest::ChannelID)),
                                1, static_cast<int>(s), {i}, Command::Kind::Select});
        }
        QByteArray start;
        if (st.lastSequence)
            start = seedlink::dataCommand(seedlink::nextSequence(*st.lastSequence));
        else if (startFrom_)
            start = seedlink::timeCommand(*startFrom_);
        else
            start = seedlink::dataCommand(std::nullopt);
        pending_.push_back({start, 1, static_cast<int>(s), {}, Command::Kind::Data});
    }
    pending_.push_back({seedlink::endCommand(), 0, -1, {}, Command::Kind::End});
    sendNext();
}

void SeedLinkSource::sendNext() {
    while (!pending_.empty() && awaitedLines_ == 0) {
        const Command& c = pending_.front();
        // A station refused after its command was queued takes its selections along.
        if (c.station >= 0 && stations_[static_cast<std::size_t>(c.station)].refused) {
            pending_.erase(pending_.begin());
            continue;
        }
        socket_->write(c.text);
        awaitedLines_ = c.replyLines;
        if (c.kind == Command::Kind::End) {
            pending_.erase(pending_.begin());
            streaming_ = true;
            return;
        }
        return;
    }
}

void SeedLinkSource::onReadyRead() {
    if (!socket_)
        return;
    idle_.start(idleLimit_);
    buffer_.append(socket_->readAll());
    while (socket_ && active_ != 0) {
        if (!streaming_ || awaitedLines_ > 0) {
            bool tooLong = false;
            const auto line = seedlink::takeLine(buffer_, &tooLong);
            if (tooLong)
                return reset(QStringLiteral("a reply that is not SeedLink"));
            if (!line)
                return;
            handleReply(*line);
            continue;
        }
        seedlink::Packet packet;
        switch (seedlink::takePacket(buffer_, packet)) {
        case seedlink::Take::NeedMore:
            return;
        case seedlink::Take::Garbage:
            return reset(QStringLiteral("bytes that are not a SeedLink packet"));
        case seedlink::Take::Packet:
            handlePacket(packet);
            break;
        }
    }
}

void SeedLinkSource::handleReply(const QByteArray& line) {
    if (pending_.empty() || awaitedLines_ == 0)
        return reset(QStringLiteral("a reply nobody asked for"));
    Command& c = pending_.front();
    --awaitedLines_;
    if (c.kind != Command::Kind::Hello) {
        const bool ok = line == "OK";
        if (!ok && line != "ERROR")
            return reset(QStringLiteral("an answer that is not OK or ERROR"));
        if (!ok && c.station >= 0) {
            Station& st = stations_[static_cast<std::size_t>(c.station)];
            if (c.kind == Command::Kind::Select)
                refuse(st, c.channels, QStringLiteral("the SeedLink server refused channel selection"));
            else
                refuse(st, st.channels, QStringLiteral("the SeedLink server refused station %1.%2")
                                            .arg(st.network, st.code));
        }
    }
    if (awaitedLines_ == 0) {
        pending_.erase(pending_.begin());
        sendNext();
    }
}

void SeedLinkSource::refuse(Station& station, const std::vector<int>& channels, const QString& why) {
    for (const int i : channels) {
        if (channelRefused_[static_cast<std::size_t>(i)])
            continue;
        channelRefused_[static_cast<std::size_t>(i)] = true;
        Q_EMIT channelFailed(active_, i, {AcquisitionFailure::Kind::Refused, why, {}});
    }
    if (std::all_of(station.channels.begin(), station.channels.end(),
                    [this](int i) { return channelRefused_[static_cast<std::size_t>(i)]; }))
        station.refused = true;
}

void SeedLinkSource::handlePacket(const seedlink::Packet& packet) {
    QString why;
    const auto record = seedlink::decodeRecord(packet.record.data(), packet.record.size(), &why);
    if (!record)
        return reset(why);
    const auto it = stationIndex_.find(record->channel.network + u'.' + record->channel.station);
    if (it == stationIndex_.end())
        return; // a station nobody asked for: the server's business, not ours
    Station& st = stations_[it->second];
    if (st.lastSequence) {
        // Forward gaps are normal (other channels of the station's ring are filtered out);
        // a step back means a replay or a confused server.
        const std::uint32_t step = (packet.sequence + seedlink::kSequenceModulus - *st.lastSequence) %
                                   seedlink::kSequenceModulus;
        if (step == 0 || step > seedlink::kSequenceModulus / 2)
            return reset(QStringLiteral("its sequence numbers went backwards"));
    }
    st.lastSequence = packet.sequence;
    backoff_ = firstBackoff_;
    setLink(Link::Streaming, QString());
    const quint64 request = active_;
    for (const int i : st.channels) {
        const ChannelRequest& r = requests_[static_cast<std::size_t>(i)];
        if (channelRefused_[static_cast<std::size_t>(i)] ||
            r.value(ChannelRequest::ChannelID) != record->channel.channel ||
            !sameLocation(r.value(ChannelRequest::LocationCode), record->channel.location))
            continue;
        Segment segment = record->samples;
        segment.channel = {r.value(ChannelRequest::Network), r.value(ChannelRequest::StationID),
                           r.value(ChannelRequest::LocationCode), r.value(ChannelRequest::ChannelID)};
        Q_EMIT segmentReceived(request, i, std::move(segment));
        if (active_ != request)
            return; // cancelled by a receiver
    }
}

void SeedLinkSource::reset(const QString& why) {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_.reset();
    }
    onDisconnected(why);
}

void SeedLinkSource::onDisconnected(const QString& why) {
    if (active_ == 0)
        return;
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_.release()->deleteLater(); // may be inside its own signal
    }
    idle_.stop();
    streaming_ = false;
    pending_.clear();
    awaitedLines_ = 0;
    buffer_.clear();
    setLink(Link::Lost, why);
    reconnect_.start(backoff_);
    backoff_ = std::min(backoff_ * 2, lastBackoff_);
}

void SeedLinkSource::setLink(Link link, const QString& why) {
    if (link == link_)
        return;
    link_ = link;
    Q_EMIT linkChanged(link, why);
}
