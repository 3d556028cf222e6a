#include "acquisition/SeedLinkConnection.h"

#include "acquisition/TcpConnect.h"
#include "base/SystemLog.h"

#include <QHostInfo>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>
#include <utility>

using seedlink::Link;

namespace {

// A server that sends faster than we read is held back by TCP, not by our memory.
constexpr qint64 kReadBuffer = 1 << 20;

} // namespace

SeedLinkConnection::SeedLinkConnection(QString host, quint16 port, seedlink::Timings timings,
                                       QObject* parent)
    : QObject(parent), host_(std::move(host)), port_(port), timings_(timings),
      backoff_(timings.firstBackoff) {
    reconnect_.setSingleShot(true);
    idle_.setSingleShot(true);
    healthy_.setSingleShot(true);
    connect(&reconnect_, &QTimer::timeout, this, &SeedLinkConnection::connectNow);
    connect(&idle_, &QTimer::timeout, this, [this] {
        lose(QStringLiteral("silent for %1 s")
                 .arg(static_cast<double>(timings_.idleLimit.count()) / 1000.0));
    });
    // Only a link that has carried data for a while earns quick reconnects again: a server that
    // sends one record and closes is asked ever more rarely.
    connect(&healthy_, &QTimer::timeout, this, [this] { backoff_ = timings_.firstBackoff; });
}

SeedLinkConnection::~SeedLinkConnection() {
    running_ = false;
    retire();
}

std::optional<std::uint32_t> SeedLinkConnection::lastSequence(const QString& station) const {
    for (const Station& st : stations_)
        if (st.network + u'.' + st.code == station)
            return st.lastSequence;
    return std::nullopt;
}

std::chrono::milliseconds SeedLinkConnection::retryDelay() const {
    return reconnect_.isActive() ? reconnect_.intervalAsDuration() : std::chrono::milliseconds(0);
}

void SeedLinkConnection::start(std::vector<Channel> channels, std::optional<Time> from) {
    from_ = from;
    streams_.clear();
    stations_.clear();
    skipped_.clear();
    for (Channel& c : channels) {
        const QString location = seedlink::plainLocation(c.id.location);
        const std::size_t at = streams_.size();
        auto st = std::find_if(stations_.begin(), stations_.end(), [&](const Station& s) {
            return s.network == c.id.network && s.code == c.id.station;
        });
        if (st == stations_.end())
            st = stations_.insert(
                stations_.end(),
                Station{c.id.network, c.id.station, {}, {}, true, false, false, false});
        st->streams.push_back(at);
        streams_.push_back({std::move(c), location, false, std::nullopt});
    }
    running_ = true;
    backoff_ = timings_.firstBackoff;
    connectNow();
}

void SeedLinkConnection::stop() {
    running_ = false;
    reconnect_.stop();
    idle_.stop();
    healthy_.stop();
    retire();
    pending_.clear();
    streaming_ = false;
    link_ = Link::Idle;
}

bool SeedLinkConnection::anythingLeft() const {
    return std::any_of(stations_.begin(), stations_.end(), [this](const Station& st) {
        return !st.refused && std::any_of(st.streams.begin(), st.streams.end(),
                                          [this](std::size_t s) { return !streams_[s].refused; });
    });
}

void SeedLinkConnection::retire(bool farewell) {
    if (lookup_ >= 0)
        QHostInfo::abortHostLookup(std::exchange(lookup_, -1));
    if (connectDone_) {
        QSocketNotifier* n = std::exchange(connectDone_, nullptr);
        n->setEnabled(false);
        n->disconnect(this);
        n->deleteLater(); // may be inside its own signal
    }
    tcp::closeDescriptor(std::exchange(connecting_, -1));
    if (!socket_)
        return;
    QTcpSocket* s = std::exchange(socket_, nullptr);
    s->disconnect(this);
    if (farewell) {
        // Heard by nobody now, so a server that closed first cannot make this a lost link.
        s->write(seedlink::byeCommand());
        s->disconnectFromHost();
    } else {
        s->abort();
    }
    // We may be inside one of its own signals: it goes once they have returned (or with us).
    s->deleteLater();
}

void SeedLinkConnection::connectNow() {
    if (!running_)
        return;
    if (!anythingLeft()) {
        setLink(Link::Refused, QStringLiteral("the server offers none of these stations"));
        return;
    }
    retire();
    ++attempts_;
    buffer_.clear();
    pending_.clear();
    awaitedLines_ = 0;
    streaming_ = false;
    for (Station& st : stations_) {
        st.fresh = true;
        st.byTime = false;
    }
    if (link_ == Link::Idle)
        link_ = Link::Connecting;
    // Connecting counts against the idle limit too: a server that never answers is dropped.
    idle_.start(timings_.idleLimit);
    const QHostAddress literal(host_);
    if (!literal.isNull())
        return connectTo(literal);
    const int attempt = attempts_;
    lookup_ = QHostInfo::lookupHost(host_, this, [this, attempt](const QHostInfo& info) {
        if (!running_ || attempt != attempts_ || lookup_ < 0)
            return;
        lookup_ = -1;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
            return lose(info.errorString());
        connectTo(info.addresses().constFirst());
    });
}

void SeedLinkConnection::connectTo(const QHostAddress& address) {
    const tcp::Pending pending = tcp::startConnect(address, port_);
    if (pending.fd < 0)
        return lose(pending.why);
    connecting_ = pending.fd;
    auto* n = new QSocketNotifier(static_cast<qintptr>(pending.fd), QSocketNotifier::Write, this);
    connectDone_ = n;
    connect(n, &QSocketNotifier::activated, this, [this, n] {
        if (n != connectDone_)
            return;
        const int fd = std::exchange(connecting_, -1);
        retire(); // the notifier only
        if (const auto why = tcp::finishConnect(fd)) {
            tcp::closeDescriptor(fd);
            return lose(*why);
        }
        auto* s = new QTcpSocket(this);
        socket_ = s;
        if (!s->setSocketDescriptor(fd)) {
            tcp::closeDescriptor(fd);
            return lose(s->errorString());
        }
        s->setReadBufferSize(kReadBuffer);
        // Each attempt hears from its own socket only, and loses the link at most once.
        connect(s, &QTcpSocket::readyRead, this, [this, s] {
            if (alive(s))
                onReadyRead();
        });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            if (alive(s))
                lose(QStringLiteral("the server closed the connection"));
        });
        connect(s, &QTcpSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError) {
            if (alive(s))
                lose(s->errorString());
        });
        onConnected();
    });
}

std::optional<Time> SeedLinkConnection::resumeTime(const Station& st) const {
    // The earliest of the channels' newest samples, so that none misses anything.
    std::optional<Time> from;
    for (const std::size_t i : st.streams) {
        const Stream& s = streams_[i];
        const auto t = s.delivered ? s.delivered : from_;
        if (!s.refused && t && (!from || *t < *from))
            from = t;
    }
    return from;
}

SeedLinkConnection::Command SeedLinkConnection::startCommand(std::size_t s) const {
    const Station& st = stations_[s];
    const int station = static_cast<int>(s);
    if (st.lastSequence && !st.resumeByTime)
        return {seedlink::dataCommand(seedlink::nextSequence(*st.lastSequence)), 1, station, -1,
                Command::Kind::Data};
    if (const auto from = resumeTime(st))
        return {seedlink::timeCommand(*from), 1, station, -1, Command::Kind::Time};
    return {seedlink::dataCommand(std::nullopt), 1, station, -1, Command::Kind::Data};
}

void SeedLinkConnection::onConnected() {
    // The whole handshake, sent one command at a time as the replies come.
    pending_.push_back({seedlink::helloCommand(), 2, -1, -1, Command::Kind::Hello});
    for (std::size_t s = 0; s < stations_.size(); ++s) {
        const Station& st = stations_[s];
        if (st.refused)
            continue;
        pending_.push_back({seedlink::stationCommand(st.code, st.network), 1, static_cast<int>(s),
                            -1, Command::Kind::Station});
        for (const std::size_t i : st.streams)
            if (!streams_[i].refused)
                pending_.push_back(
                    {seedlink::selectCommand(streams_[i].location, streams_[i].channel.id.channel),
                     1, static_cast<int>(s), static_cast<int>(i), Command::Kind::Select});
        pending_.push_back(startCommand(s));
    }
    pending_.push_back({seedlink::endCommand(), 0, -1, -1, Command::Kind::End});
    sendNext();
}

void SeedLinkConnection::sendNext() {
    while (socket_ && !pending_.empty() && awaitedLines_ == 0) {
        const Command& c = pending_.front();
        // A station refused after its command was queued takes its selections along.
        if (c.station >= 0 && stations_[static_cast<std::size_t>(c.station)].refused) {
            pending_.erase(pending_.begin());
            continue;
        }
        if (c.kind == Command::Kind::End) {
            pending_.clear();
            if (!anythingLeft()) {
                // Everything was refused: ending the handshake would only start a silent stream.
                retire(true);
                idle_.stop();
                setLink(Link::Refused, QStringLiteral("the server offers none of these stations"));
                return;
            }
            socket_->write(c.text);
            streaming_ = true;
            return;
        }
        if (c.kind == Command::Kind::Time)
            stations_[static_cast<std::size_t>(c.station)].byTime = true;
        socket_->write(c.text);
        awaitedLines_ = c.replyLines;
    }
}

void SeedLinkConnection::onReadyRead() {
    QTcpSocket* const s = socket_;
    idle_.start(timings_.idleLimit); // any traffic keeps the link
    buffer_.append(s->readAll());
    while (alive(s)) {
        if (!streaming_ || awaitedLines_ > 0) {
            bool tooLong = false;
            const auto line = seedlink::takeLine(buffer_, &tooLong);
            if (tooLong)
                return lose(QStringLiteral("a reply that is not SeedLink"));
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
            return lose(QStringLiteral("bytes that are not a SeedLink packet"));
        case seedlink::Take::End:
            return lose(QStringLiteral("the server ended the stream"));
        case seedlink::Take::Info:
            break; // not asked for on this connection
        case seedlink::Take::Packet:
            handlePacket(packet);
            break;
        }
    }
}

void SeedLinkConnection::handleReply(const QByteArray& line) {
    if (pending_.empty() || awaitedLines_ == 0)
        return lose(QStringLiteral("a reply nobody asked for"));
    const QTcpSocket* const s = socket_;
    const Command c = pending_.front();
    --awaitedLines_;
    if (c.kind != Command::Kind::Hello) {
        const bool ok = line == "OK";
        const bool error = line == "ERROR" || line.startsWith("ERROR ");
        if (!ok && !error)
            return lose(QStringLiteral("an answer that is not OK or ERROR"));
        if (error) {
            Station& st = stations_[static_cast<std::size_t>(c.station)];
            if (c.kind == Command::Kind::Time) {
                // A server without time windows still streams from its newest data.
                pending_.front() = {seedlink::dataCommand(std::nullopt), 1, c.station, -1,
                                    Command::Kind::Data};
                st.byTime = false;
                return sendNext();
            }
            if (c.kind == Command::Kind::Select) {
                const ChannelId& id = streams_[static_cast<std::size_t>(c.stream)].channel.id;
                refuseStream(
                    static_cast<std::size_t>(c.stream),
                    QStringLiteral("the server %1 refused channel %2").arg(server(), id.seedId()));
            } else {
                const QString why = QStringLiteral("the server %1 refused station %2.%3")
                                        .arg(server(), st.network, st.code);
                for (const std::size_t i : st.streams) {
                    refuseStream(i, why);
                    if (!alive(s))
                        return;
                }
                st.refused = true;
            }
            if (!alive(s))
                return;
        }
    }
    if (awaitedLines_ == 0) {
        pending_.erase(pending_.begin());
        sendNext();
    }
}

void SeedLinkConnection::refuseStream(std::size_t i, const QString& why) {
    Stream& stream = streams_[i];
    if (stream.refused)
        return;
    stream.refused = true;
    // Only a station whose every channel is refused is left out; the others still stream.
    for (Station& st : stations_)
        if (std::find(st.streams.begin(), st.streams.end(), i) != st.streams.end() &&
            std::all_of(st.streams.begin(), st.streams.end(),
                        [this](std::size_t k) { return streams_[k].refused; }))
            st.refused = true;
    Q_EMIT channelRefused(stream.channel.index, why);
}

void SeedLinkConnection::handlePacket(const seedlink::Packet& packet) {
    const QTcpSocket* const s = socket_;
    const auto head = seedlink::recordChannel(packet.record.data(), packet.record.size());
    if (!head)
        return skipRecord({}, QStringLiteral("not a miniSEED record"));
    const auto st = std::find_if(stations_.begin(), stations_.end(), [&](const Station& x) {
        return x.network == head->network && x.code == head->station;
    });
    if (st == stations_.end())
        return; // a station nobody asked for: the server's business, not ours
    if (st->lastSequence) {
        const std::uint32_t step = seedlink::sequenceStep(*st->lastSequence, packet.sequence);
        if (step == 0)
            return; // a packet already had
        if (seedlink::isBehind(step)) {
            if (!st->fresh)
                return lose(QStringLiteral("its sequence numbers went backwards"));
            // Asked for the packet after the last one, the server starts behind it: it numbers
            // anew. The sequence number means nothing now; the time of the newest sample does.
            systemLog(QStringLiteral("SeedLink: the server %1 numbers its packets anew; %2.%3 "
                                     "resumes from its newest sample.")
                          .arg(server(), st->network, st->code));
            st->lastSequence.reset();
            st->resumeByTime = true;
            return lose(QStringLiteral("it numbers its packets anew"));
        }
    }
    st->fresh = false;
    st->resumeByTime = false;
    st->lastSequence = packet.sequence; // even a record we cannot use is never asked for again
    setLink(Link::Streaming);
    if (!alive(s))
        return;
    QString why;
    const auto record = seedlink::decodeRecord(packet.record.data(), packet.record.size(), &why);
    if (!record)
        return skipRecord(*head, why);
    deliver(*st, *record);
}

void SeedLinkConnection::skipRecord(const ChannelId& channel, const QString& why) {
    // Said once per channel asked for; records of other channels are dropped without a word.
    const QString location = seedlink::plainLocation(channel.location);
    const bool ours = channel.station.isEmpty() ||
                      std::any_of(streams_.begin(), streams_.end(), [&](const Stream& s) {
                          return s.channel.id.network == channel.network &&
                                 s.channel.id.station == channel.station &&
                                 s.channel.id.channel == channel.channel && s.location == location;
                      });
    const QString key = channel.station.isEmpty() ? QString() : channel.seedId();
    if (!ours || skipped_.contains(key))
        return;
    skipped_.insert(key);
    systemLog(
        QStringLiteral("SeedLink: skipped %1 from %2 (%3); any more like it are skipped too.")
            .arg(key.isEmpty() ? QStringLiteral("a packet") : QStringLiteral("a record of ") + key,
                 server(), why));
}

void SeedLinkConnection::deliver(Station& st, const seedlink::Record& record) {
    const QTcpSocket* const s = socket_;
    const QString location = seedlink::plainLocation(record.channel.location);
    for (const std::size_t i : st.streams) {
        Stream& stream = streams_[i];
        // Only the location asked for: a blank one is blank, not "any".
        if (stream.refused || stream.channel.id.channel != record.channel.channel ||
            stream.location != location)
            continue;
        Segment segment = record.samples;
        segment.channel = stream.channel.id;
        if (st.byTime && stream.delivered) {
            // Asked by time (to the second), the server starts a little early: what was
            // delivered already is cut off.
            const double early = civil::secondsBetween(segment.start, *stream.delivered);
            if (early > segment.delta / 2) {
                const auto k = static_cast<std::size_t>(std::floor(early / segment.delta + 0.5));
                if (k >= segment.samples.size())
                    continue;
                segment.start = segment.timeOf(k);
                segment.samples.erase(segment.samples.begin(),
                                      segment.samples.begin() + static_cast<std::ptrdiff_t>(k));
            }
        }
        if (!stream.delivered || *stream.delivered < segment.end())
            stream.delivered = segment.end();
        Q_EMIT segmentReceived(stream.channel.index, segment);
        if (!alive(s))
            return; // stopped by a receiver
    }
}

void SeedLinkConnection::lose(const QString& why) {
    retire();
    idle_.stop();
    healthy_.stop();
    streaming_ = false;
    pending_.clear();
    awaitedLines_ = 0;
    buffer_.clear();
    if (!running_)
        return;
    setLink(Link::Lost, why);
    if (!running_)
        return;
    reconnect_.start(backoff_);
    backoff_ = std::min(backoff_ * 2, timings_.lastBackoff);
}

void SeedLinkConnection::setLink(Link link, const QString& why) {
    if (link == link_)
        return;
    link_ = link;
    if (link == Link::Streaming)
        healthy_.start(timings_.healthyAfter);
    Q_EMIT linkChanged(link, why);
}
