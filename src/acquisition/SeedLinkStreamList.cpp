#include "acquisition/SeedLinkStreamList.h"

#include "acquisition/SeedLinkProtocol.h"
#include "acquisition/TcpConnect.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QSet>
#include <QTcpSocket>
#include <QXmlStreamReader>

#include <poll.h>

namespace seedlink {

namespace {

constexpr int kSlice = 100; // ms a blocking wait lasts before the cancel flag is looked at

QString key(const ChannelId& c) {
    return c.network + u'.' + c.station + u'.' + plainLocation(c.location) + u'.' + c.channel;
}

// Waits for `ready` in slices, while the deadline and the cancel flag allow.
template <class Wait>
bool waitFor(QTcpSocket& socket, Wait wait, const QDeadlineTimer& deadline,
             const std::atomic<bool>* cancel, QString* why) {
    while (true) {
        if (cancel && cancel->load()) {
            *why = QStringLiteral("cancelled");
            return false;
        }
        if (deadline.hasExpired()) {
            *why = QStringLiteral("no answer in time");
            return false;
        }
        if (wait(static_cast<int>(
                std::min<qint64>(kSlice, std::max<qint64>(1, deadline.remainingTime())))))
            return true;
        if (socket.state() != QAbstractSocket::ConnectedState) {
            *why = socket.errorString();
            return false;
        }
    }
}

} // namespace

std::optional<std::vector<StreamEntry>> parseStreamList(QByteArrayView xml, QString* why) {
    auto fail = [why](const QString& reason) -> std::optional<std::vector<StreamEntry>> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (xml.size() > kMaxStreamListBytes)
        return fail(
            QStringLiteral("a stream list larger than %1 MB").arg(kMaxStreamListBytes >> 20));
    QXmlStreamReader reader(QByteArray(xml.data(), xml.size()));
    std::vector<StreamEntry> out;
    bool root = false;
    QString network, station, description;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = reader.name();
        const QXmlStreamAttributes a = reader.attributes();
        if (!root) {
            if (name != u"seedlink")
                return fail(QStringLiteral("not a SeedLink stream list"));
            root = true;
        } else if (name == u"station") {
            network = a.value(QLatin1StringView("network")).toString().trimmed();
            station = a.value(QLatin1StringView("name")).toString().trimmed();
            description = a.value(QLatin1StringView("description")).toString().simplified();
        } else if (name == u"stream") {
            if (a.value(QLatin1StringView("type")).trimmed() != u"D")
                continue;
            StreamEntry e{{network, station,
                           plainLocation(a.value(QLatin1StringView("location")).toString()),
                           a.value(QLatin1StringView("seedname")).toString().trimmed()},
                          description};
            if (!isStreamable(e.channel))
                continue;
            if (out.size() >= kMaxStreams)
                return fail(QStringLiteral("more than %1 streams").arg(kMaxStreams));
            out.push_back(std::move(e));
        }
    }
    if (!root)
        return fail(QStringLiteral("an empty stream list"));
    if (reader.hasError())
        return fail(QStringLiteral("a stream list that is not XML (%1)").arg(reader.errorString()));
    return out;
}

StreamListAnswer fetchStreamList(const QString& host, quint16 port, const std::atomic<bool>* cancel,
                                 std::chrono::milliseconds deadlineAfter) {
    StreamListAnswer answer;
    const QDeadlineTimer deadline(deadlineAfter);
    // One connect (see TcpConnect.h), waited for in slices.
    QHostAddress address(host);
    if (address.isNull()) {
        const QHostInfo info = QHostInfo::fromName(host);
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            answer.why = info.errorString();
            return answer;
        }
        address = info.addresses().constFirst();
    }
    const tcp::Pending pending = tcp::startConnect(address, port);
    if (pending.fd < 0) {
        answer.why = pending.why;
        return answer;
    }
    for (pollfd p{pending.fd, POLLOUT, 0}; ::poll(&p, 1, kSlice) == 0;) {
        if ((cancel && cancel->load()) || deadline.hasExpired()) {
            tcp::closeDescriptor(pending.fd);
            answer.why = cancel && cancel->load() ? QStringLiteral("cancelled")
                                                  : QStringLiteral("no answer in time");
            return answer;
        }
    }
    if (const auto why = tcp::finishConnect(pending.fd)) {
        tcp::closeDescriptor(pending.fd);
        answer.why = *why;
        return answer;
    }
    QTcpSocket socket;
    if (!socket.setSocketDescriptor(pending.fd)) {
        tcp::closeDescriptor(pending.fd);
        answer.why = socket.errorString();
        return answer;
    }
    QByteArray buffer;
    const auto more = [&] {
        if (!waitFor(
                socket, [&](int ms) { return socket.waitForReadyRead(ms); }, deadline, cancel,
                &answer.why))
            return false;
        buffer.append(socket.readAll());
        return true;
    };
    socket.write(helloCommand());
    for (int lines = 0; lines < 2;) {
        bool tooLong = false;
        if (takeLine(buffer, &tooLong)) {
            ++lines;
            continue;
        }
        if (tooLong) {
            answer.why = QStringLiteral("a reply that is not SeedLink");
            return answer;
        }
        if (!more())
            return answer;
    }
    socket.write(infoCommand("STREAMS"));
    QByteArray xml;
    for (bool last = false; !last;) {
        // A server without stream lists says ERROR instead of sending INFO packets.
        static constexpr QByteArrayView kError("ERROR");
        if (!buffer.isEmpty() && buffer[0] == 'E') {
            const qsizetype n = std::min(buffer.size(), kError.size());
            if (QByteArrayView(buffer.constData(), n) == kError.first(n)) {
                if (n == kError.size()) {
                    answer.why = QStringLiteral("the server does not list its streams");
                    return answer;
                }
                if (!more())
                    return answer;
                continue;
            }
        }
        Packet packet;
        switch (takePacket(buffer, packet)) {
        case Take::NeedMore:
            if (!more())
                return answer;
            break;
        case Take::Garbage:
        case Take::End:
            answer.why = QStringLiteral("bytes that are not a SeedLink packet");
            return answer;
        case Take::Packet:
            break; // not ours to read
        case Take::Info: {
            const auto text = recordText(packet.record.data(), packet.record.size());
            if (!text) {
                answer.why = QStringLiteral("an INFO packet without text");
                return answer;
            }
            if (xml.size() + text->size() > kMaxStreamListBytes) {
                answer.why = QStringLiteral("a stream list larger than %1 MB")
                                 .arg(kMaxStreamListBytes >> 20);
                return answer;
            }
            xml += *text;
            last = !packet.moreInfo;
            break;
        }
        }
    }
    // Closed gently: a reset would drop the BYE before the server reads it.
    socket.write(byeCommand());
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(kSlice);
    answer.streams = parseStreamList(xml, &answer.why);
    return answer;
}

std::vector<int> routeChannels(const std::vector<ChannelId>& channels, const StreamLists& lists) {
    std::vector<QSet<QString>> held(lists.size());
    int unknown = -1;
    for (std::size_t s = 0; s < lists.size(); ++s) {
        if (!lists[s]) {
            if (unknown < 0)
                unknown = static_cast<int>(s);
            continue;
        }
        for (const StreamEntry& e : *lists[s])
            held[s].insert(key(e.channel));
    }
    std::vector<int> route(channels.size(), unknown);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const QString k = key(channels[i]);
        for (std::size_t s = 0; s < lists.size(); ++s)
            if (lists[s] && held[s].contains(k)) {
                route[i] = static_cast<int>(s);
                break;
            }
    }
    return route;
}

} // namespace seedlink
