#pragma once

#include "acquisition/SeedLinkProtocol.h"
#include "acquisition/WaveformSource.h"

#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;

// A SeedLink server as a source: one TCP connection for all stations of a request (STATION,
// a SELECT per channel, DATA or TIME, then END), each 512-byte record decoded and delivered as
// a segment as soon as it arrives. It stays connected: a connection that drops, sends what is
// not SeedLink, goes backwards in its sequence numbers or stays silent past the idle limit is
// closed and opened again after a pause that doubles from the first backoff to the last, and
// each station resumes from the packet after the last one received, so what the server still
// holds arrives without a gap and without a duplicate. A station or channel the server refuses
// is reported once as failed (Refused) and left out of later connections. Runs on the thread
// that owns it; the work per record is a few microseconds.
class SeedLinkSource : public WaveformSource {
    Q_OBJECT
public:
    enum class Link { Idle, Connecting, Streaming, Lost };

    explicit SeedLinkSource(QObject* parent = nullptr);
    ~SeedLinkSource() override;

    // "host:port"; false when it does not read as one.
    bool setServer(const QString& hostPort);
    QString server() const;
    static std::optional<std::pair<QString, quint16>> parseServer(const QString& hostPort);
    void setIdleLimit(std::chrono::milliseconds limit) { idleLimit_ = limit; }
    void setBackoff(std::chrono::milliseconds first, std::chrono::milliseconds last) {
        firstBackoff_ = first;
        lastBackoff_ = last;
    }

    // Streams the channels of the requests; a request's start time, where it reads, is where
    // a station without a packet yet begins (TIME), otherwise the newest data (DATA). The
    // request runs until it is cancelled; it never finishes by itself.
    quint64 request(std::vector<ChannelRequest> requests) override;
    void cancel(quint64 request) override;

    Link link() const { return link_; }
    // The last sequence number received from a station ("NET.STA").
    std::optional<std::uint32_t> lastSequence(const QString& station) const;

Q_SIGNALS:
    // The link changed: streaming, or lost (and why). Said once per change, not per attempt.
    void linkChanged(SeedLinkSource::Link link, const QString& why);

private:
    struct Station {
        QString network, code;
        std::vector<int> channels; // indices into the request
        std::optional<std::uint32_t> lastSequence;
        bool refused = false;
    };
    void connectNow();
    void onConnected();
    void onReadyRead();
    void onDisconnected(const QString& why);
    void sendNext();
    void handleReply(const QByteArray& line);
    void handlePacket(const seedlink::Packet& packet);
    void reset(const QString& why);
    void setLink(Link link, const QString& why);
    void refuse(Station& station, const std::vector<int>& channels, const QString& why);

    QString host_;
    quint16 port_ = 0;
    std::chrono::milliseconds idleLimit_{60000}, firstBackoff_{1000}, lastBackoff_{60000};
    std::chrono::milliseconds backoff_{1000};

    quint64 lastRequest_ = 0, active_ = 0;
    std::vector<ChannelRequest> requests_;
    std::optional<Time> startFrom_;
    std::vector<Station> stations_;
    std::map<QString, std::size_t> stationIndex_; // "NET.STA" -> stations_
    std::vector<bool> channelRefused_;

    std::unique_ptr<QTcpSocket> socket_;
    QByteArray buffer_;
    // The handshake as a queue of commands, each with the station (and channels) it concerns.
    struct Command {
        QByteArray text;
        int replyLines = 1;
        int station = -1;
        std::vector<int> channels;
        enum class Kind { Hello, Station, Select, Data, End } kind = Kind::Hello;
    };
    std::vector<Command> pending_;
    int awaitedLines_ = 0;
    bool streaming_ = false;
    Link link_ = Link::Idle;
    QTimer reconnect_, idle_;
};
