#pragma once

// What the SeedLink tests share: a demo server on 127.0.0.1, a request record, and a collector
// of everything a source delivers.
#include "acquisition/SeedLinkSource.h"
#include "base/DateText.h"

#include "DemoSeedLink.h"

#include <QString>
#include <gtest/gtest.h>
#include <libmseed.h>

#include <map>
#include <vector>

inline ChannelRequest requestFor(const QString& net, const QString& sta, const QString& loc,
                                 const QString& cha, const QString& start = {}) {
    ChannelRequest r;
    r.setValue(ChannelRequest::Network, net);
    r.setValue(ChannelRequest::StationID, sta);
    r.setValue(ChannelRequest::LocationCode, loc);
    r.setValue(ChannelRequest::ChannelID, cha);
    r.setValue(ChannelRequest::StartTime, start);
    return r;
}

inline demo::SeedLinkServer::Options quickRecords() {
    demo::SeedLinkServer::Options o;
    o.recordSeconds = 0.5;
    o.backlog = std::chrono::seconds(120);
    o.encoding = DE_STEIM2;
    return o;
}

struct Server {
    explicit Server(demo::SeedLinkServer::Options options = quickRecords())
        : server(std::chrono::system_clock::now(), {}, std::move(options)) {
        EXPECT_TRUE(server.start(0));
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.port()); }
    demo::SeedLinkServer server;
};

// Every segment a source delivers, by channel, in arrival order; its failures and link changes.
struct Collector {
    explicit Collector(SeedLinkSource& source) {
        QObject::connect(
            &source, &WaveformSource::segmentReceived, &source,
            [this](quint64, int, const Segment& s) { segments[s.channel.seedId()].push_back(s); });
        QObject::connect(&source, &WaveformSource::channelFailed, &source,
                         [this](quint64, int index, const AcquisitionFailure& f) {
                             failures.push_back({index, f});
                         });
        QObject::connect(
            &source, &SeedLinkSource::linkChanged, &source,
            [this](SeedLinkSource::Link link, const QString& why, const QString& server) {
                links.push_back({link, why});
                servers.push_back(server);
            });
    }
    std::size_t count(const QString& id) const {
        const auto it = segments.find(id);
        return it == segments.end() ? 0 : it->second.size();
    }
    int losses() const {
        return static_cast<int>(std::count_if(links.begin(), links.end(), [](const auto& l) {
            return l.first == SeedLinkSource::Link::Lost;
        }));
    }
    std::map<QString, std::vector<Segment>> segments;
    std::vector<std::pair<int, AcquisitionFailure>> failures;
    std::vector<std::pair<SeedLinkSource::Link, QString>> links;
    std::vector<QString> servers;
};

// Consecutive segments of a channel join exactly: no gap, no sample twice.
inline void expectSeamless(const std::vector<Segment>& segments) {
    ASSERT_GE(segments.size(), 2u);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const double step = civil::secondsBetween(segments[i - 1].end(), segments[i].start);
        EXPECT_NEAR(step, 0.0, 1e-3) << "segment " << i;
    }
}
