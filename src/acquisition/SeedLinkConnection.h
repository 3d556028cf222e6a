#pragma once

#include "acquisition/SeedLinkProtocol.h"
#include "base/ChannelId.h"
#include "base/Time.h"
#include "store/Segment.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

class QHostAddress;
class QSocketNotifier;
class QTcpSocket;

namespace seedlink {

// How a link stands. Refused: the server has none of the channels asked of it, so nothing is
// streamed and nothing is tried again.
enum class Link { Idle, Connecting, Streaming, Lost, Refused };

struct Timings {
    std::chrono::milliseconds idleLimit{60000};    // silence after which the link is dropped
    std::chrono::milliseconds firstBackoff{1000};  // the pause before the first new attempt,
    std::chrono::milliseconds lastBackoff{60000};  // doubled after each one up to this
    std::chrono::milliseconds healthyAfter{60000}; // streaming this long starts the pauses afresh
};

} // namespace seedlink

// One SeedLink server for some channels: one TCP connection for all their stations (STATION,
// a SELECT per channel, DATA or TIME, then END), each record decoded and delivered as a segment
// as soon as it arrives. It stays connected: a connection that drops, sends what is not
// SeedLink, goes backwards in its sequence numbers within a connection or stays silent past the
// idle limit is closed and opened again after a pause that doubles from the first backoff to
// the last (one connect per attempt), and each station resumes from the packet after the last
// one received, so what the server still holds arrives without a gap and without a duplicate.
// A server that numbers anew (it restarted) is asked once by time from the newest sample
// delivered. A record that cannot be used is skipped with one system-log line per channel,
// and its sequence number counts as received. A station or channel the server refuses is
// reported once and left out of later connections. Records of a location other than the one
// asked for (blank meaning blank) are dropped. The socket is only ever released after its own
// handlers have returned; stop() may be called from any handler of the signals below.
class SeedLinkConnection : public QObject {
    Q_OBJECT
public:
    struct Channel {
        int index = 0; // the caller's number for it, given back in the signals
        ChannelId id;
    };

    SeedLinkConnection(QString host, quint16 port, seedlink::Timings timings,
                       QObject* parent = nullptr);
    ~SeedLinkConnection() override;

    // Connects now and streams the channels; a station without a packet yet starts at `from`
    // (TIME), or at the newest data (DATA) without it.
    void start(std::vector<Channel> channels, std::optional<Time> from);
    // Nothing more is sent or signalled.
    void stop();

    QString server() const { return host_ + u':' + QString::number(port_); }
    seedlink::Link link() const { return link_; }
    std::optional<std::uint32_t> lastSequence(const QString& station) const;
    int attempts() const { return attempts_; }
    // The pause before the next attempt, while one is pending; zero otherwise.
    std::chrono::milliseconds retryDelay() const;

Q_SIGNALS:
    void segmentReceived(int index, const Segment& segment);
    void channelRefused(int index, const QString& why);
    void linkChanged(seedlink::Link link, const QString& why);

private:
    struct Stream {
        Channel channel;
        QString location; // plain: "" for blank
        bool refused = false;
        std::optional<Time> delivered; // where the newest segment delivered ends
    };
    struct Station {
        QString network, code;
        std::vector<std::size_t> streams;
        std::optional<std::uint32_t> lastSequence;
        bool fresh = true;         // no packet yet on this connection
        bool resumeByTime = false; // the server numbered anew: ask by time once
        bool byTime = false;       // this connection asked by time: trim what was delivered
        bool refused = false;
    };
    struct Command {
        QByteArray text;
        int replyLines = 1;
        int station = -1;
        int stream = -1;
        enum class Kind { Hello, Station, Select, Data, Time, End } kind = Kind::Hello;
    };

    void connectNow();
    void connectTo(const QHostAddress& address);
    void onConnected();
    void onReadyRead();
    void sendNext();
    void handleReply(const QByteArray& line);
    void handlePacket(const seedlink::Packet& packet);
    void skipRecord(const ChannelId& channel, const QString& why);
    void deliver(Station& station, const seedlink::Record& record);
    void lose(const QString& why);
    void retire(bool farewell = false); // BYE first when farewell
    void setLink(seedlink::Link link, const QString& why = {});
    void refuseStream(std::size_t stream, const QString& why);
    bool anythingLeft() const;
    bool alive(const QTcpSocket* socket) const { return running_ && socket_ == socket; }
    std::optional<Time> resumeTime(const Station& station) const;
    Command startCommand(std::size_t station) const;

    QString host_;
    quint16 port_ = 0;
    seedlink::Timings timings_;
    std::chrono::milliseconds backoff_;
    bool running_ = false;
    int attempts_ = 0;

    std::vector<Stream> streams_;
    std::vector<Station> stations_;
    std::optional<Time> from_;
    QSet<QString> skipped_; // channels whose unusable records were reported

    // One attempt: the host looked up, then our own connect, then the socket.
    int lookup_ = -1;
    int connecting_ = -1;                    // the descriptor of a connect under way
    QSocketNotifier* connectDone_ = nullptr; // a child; released only with deleteLater
    QTcpSocket* socket_ = nullptr;           // a child; released only with deleteLater
    QByteArray buffer_;
    std::vector<Command> pending_;
    int awaitedLines_ = 0;
    bool streaming_ = false;
    seedlink::Link link_ = seedlink::Link::Idle;
    QTimer reconnect_, idle_, healthy_;
};
