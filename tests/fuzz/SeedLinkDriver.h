#pragma once

#include "acquisition/ChannelRequest.h"
#include "acquisition/SeedLinkProtocol.h"
#include "acquisition/SeedLinkSource.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// What one input did to the SeedLink client's readers and to a source that a server fed it to.
struct SeedLinkOutcome {
    int lines = 0; // reply lines read before the end or an over-long line
    bool tooLong = false;
    int packets = 0;                   // data packets framed
    QStringList refusals;              // why each packet's record was refused, in order
    int records = 0;                   // records decoded
    std::optional<QString> bareRecord; // the first 512 bytes as a record: empty when decoded
    // The source, given the input as everything a server says on each of its connections.
    int connections = 0, segments = 0, failures = 0;
    QStringList links; // the source's link changes: "Lost: why", "Streaming", "Refused"
};

namespace seedlinkfuzz {

// A server on 127.0.0.1 that answers each of the first three connections with the input, then
// closes it; later ones it holds open in silence, so that a run ends at a known point.
class Replayer {
public:
    static constexpr int kAnswered = 3;
    Replayer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                if (++connections_ > kAnswered) {
                    held_.emplace_back(s);
                    continue;
                }
                s->write(input_);
                s->disconnectFromHost();
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }
    void replay(QByteArray input) {
        input_ = std::move(input);
        connections_ = 0;
    }
    // Everything of a run is let go before the next, so each run frees what it took.
    void release() {
        for (const auto& s : held_)
            if (s)
                s->deleteLater();
        held_.clear();
        input_.clear();
    }
    int connections() const { return connections_; }

private:
    QTcpServer server_;
    QByteArray input_;
    int connections_ = 0;
    std::vector<QPointer<QTcpSocket>> held_;
};

inline void settle() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Three connections' worth of the source meeting the input (each reset, bad data and close
// included), or until it has nothing left to ask.
inline void driveSource(QByteArrayView input, SeedLinkOutcome& out) {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    // Made once and never destroyed: Qt's own globals may be gone by the time statics go.
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // NOLINT: lives as long as the process

    static Replayer server;
    server.replay(input.toByteArray());
    {
        SeedLinkSource source;
        source.setBackoff(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
        source.setIdleLimit(std::chrono::milliseconds(300));
        source.setServer(QStringLiteral("127.0.0.1:%1").arg(server.port()));
        QObject::connect(&source, &WaveformSource::segmentReceived, &source,
                         [&] { ++out.segments; });
        QObject::connect(&source, &WaveformSource::channelFailed, &source, [&] { ++out.failures; });
        QObject::connect(&source, &SeedLinkSource::linkChanged, &source,
                         [&](SeedLinkSource::Link link, const QString& why) {
                             out.links << (link == SeedLinkSource::Link::Lost
                                               ? QStringLiteral("Lost: ") + why
                                           : link == SeedLinkSource::Link::Streaming
                                               ? QStringLiteral("Streaming")
                                               : QStringLiteral("Refused"));
                         });
        const auto request = [](const char* n, const char* s, const char* l, const char* c) {
            ChannelRequest r;
            r.setValue(ChannelRequest::Network, QString::fromLatin1(n));
            r.setValue(ChannelRequest::StationID, QString::fromLatin1(s));
            r.setValue(ChannelRequest::LocationCode, QString::fromLatin1(l));
            r.setValue(ChannelRequest::ChannelID, QString::fromLatin1(c));
            return r;
        };
        source.request({request("IU", "ANMO", "00", "BHZ"), request("IU", "ANMO", "00", "LHZ")});
        // Until the third connection has been read to its close (the next one is held), or
        // nothing is left to ask for.
        const QDeadlineTimer deadline(2000);
        while (server.connections() <= Replayer::kAnswered &&
               source.link() != SeedLinkSource::Link::Refused && !deadline.hasExpired())
            settle();
        out.connections = std::min(server.connections(), Replayer::kAnswered);
    }
    server.release();
    settle();
}

} // namespace seedlinkfuzz

// Feeds one input to the SeedLink client's readers: as reply lines, as the data phase (packets
// taken and their records decoded until the bytes stop being packets), as a bare record; and,
// unless `parsersOnly`, to a source through a real connection.
inline SeedLinkOutcome runSeedLink(QByteArrayView input, bool parsersOnly = false) {
    SeedLinkOutcome out;
    QByteArray lines = input.toByteArray();
    while (seedlink::takeLine(lines, &out.tooLong) && !out.tooLong)
        ++out.lines;
    QByteArray stream = input.toByteArray();
    seedlink::Packet packet;
    for (seedlink::Take t; (t = seedlink::takePacket(stream, packet)) == seedlink::Take::Packet ||
                           t == seedlink::Take::Info;) {
        if (t == seedlink::Take::Info) {
            (void)seedlink::recordText(packet.record.data(), packet.record.size());
            continue;
        }
        ++out.packets;
        (void)seedlink::recordChannel(packet.record.data(), packet.record.size());
        QString why;
        if (seedlink::decodeRecord(packet.record.data(), packet.record.size(), &why))
            ++out.records;
        else
            out.refusals << why;
    }
    if (input.size() >= static_cast<qsizetype>(seedlink::kRecordLength)) {
        QString why;
        out.bareRecord =
            seedlink::decodeRecord(input.data(), seedlink::kRecordLength, &why) ? QString() : why;
    }
    if (!parsersOnly)
        seedlinkfuzz::driveSource(input, out);
    return out;
}
