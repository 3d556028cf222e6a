#pragma once

#include "acquisition/SeedLinkConnection.h"
#include "acquisition/WaveformSource.h"

#include <QPointer>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class Background;

// SeedLink servers as one source. With one server, every channel is streamed from it; with
// several, each server's stream list (INFO STREAMS) is read first and each channel is streamed
// from the first server that carries it, one connection per server (see SeedLinkConnection for
// how each connection keeps going). A channel no server carries, one a server refuses, and one
// whose codes no SeedLink server takes (they are never sent) is reported once as failed
// (Refused), so that it can be polled instead; when that is every channel, the link says so.
// Runs on the thread that owns it; the work per record is a few microseconds.
class SeedLinkSource : public WaveformSource {
    Q_OBJECT
public:
    using Link = seedlink::Link;
    static constexpr int kMaxServers = 16;

    explicit SeedLinkSource(QObject* parent = nullptr);
    ~SeedLinkSource() override;

    // "host:port", or several separated by commas; false (and nothing changed) when any of them
    // does not read as one, or there are more than kMaxServers.
    bool setServer(const QString& servers);
    // The servers as set, "host:port, host:port".
    QString server() const;
    static std::optional<std::pair<QString, quint16>> parseServer(const QString& hostPort);
    static std::optional<std::vector<std::pair<QString, quint16>>>
    parseServers(const QString& text);
    void setIdleLimit(std::chrono::milliseconds limit) { timings_.idleLimit = limit; }
    void setBackoff(std::chrono::milliseconds first, std::chrono::milliseconds last) {
        timings_.firstBackoff = first;
        timings_.lastBackoff = last;
    }
    void setHealthyAfter(std::chrono::milliseconds healthy) { timings_.healthyAfter = healthy; }

    // Streams the channels of the requests; a request's start time, where it reads, is where
    // a station without a packet yet begins (TIME), otherwise the newest data (DATA). The
    // request runs until it is cancelled; it never finishes by itself.
    quint64 request(std::vector<ChannelRequest> requests) override;
    void cancel(quint64 request) override;

    // Idle without a request; Refused when every channel is; otherwise Streaming once every
    // connection streams, Lost while any is lost, Connecting before.
    Link link() const;
    // The last sequence number received from a station ("NET.STA").
    std::optional<std::uint32_t> lastSequence(const QString& station) const;
    // Connection attempts to a server (the first when not named), and the pause before its next.
    int attempts(const QString& server = {}) const;
    std::chrono::milliseconds retryDelay(const QString& server = {}) const;
    // The server each channel of the request streams from, "" for none; empty until known.
    QStringList routes() const;

Q_SIGNALS:
    // One server's link changed: streaming, or lost (and why); or every channel is refused
    // (the server is then the whole list). Said once per change, not per attempt.
    void linkChanged(SeedLinkSource::Link link, const QString& why, const QString& server);

private:
    void stream(const std::vector<int>& route);
    void refuse(int index, const QString& why);
    SeedLinkConnection* connectionTo(const QString& server) const;

    std::vector<std::pair<QString, quint16>> servers_;
    seedlink::Timings timings_;
    quint64 lastRequest_ = 0, active_ = 0;
    std::vector<ChannelId> channels_;
    std::vector<char> refused_;
    QStringList routes_;
    std::optional<Time> from_;
    bool probing_ = false;
    bool noneOffered_ = false;
    std::vector<QPointer<SeedLinkConnection>> connections_; // children, released with deleteLater
    std::unique_ptr<Background> probe_;
};
