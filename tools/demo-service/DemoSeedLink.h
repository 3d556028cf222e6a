#pragma once

#include "DemoWorld.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The demo's SeedLink side: the same synthetic stations as its HTTP side, cut into 512-byte
// miniSEED records every couple of seconds (packed with libmseed) and served by SeedLink
// protocol version 3 on a TCP port of 127.0.0.1, each station with its own sequence numbers.
// The tests use it too, so it can also misbehave on request.
namespace demo {

// Samples packed as 512-byte big-endian miniSEED records: "encoding" is libmseed's DE_STEIM1,
// DE_STEIM2, DE_INT32 or DE_FLOAT32 (the samples are rounded to integers except for floats).
std::vector<std::array<char, 512>> packRecords(const std::string& network,
                                               const std::string& station,
                                               const std::string& location,
                                               const std::string& channel, Date start,
                                               double delta, const std::vector<float>& samples,
                                               int encoding);

class SeedLinkServer {
public:
    struct Options {
        double recordSeconds = 2.0;            // samples per record, in time
        std::chrono::seconds backlog{10 * 60}; // how far back a TIME request can reach
        int encoding = 11;                     // DE_STEIM2
        // When not empty, every station streams these channels instead of its own.
        std::vector<std::string> channels;
    };
    // `log` receives one line per connection opened and closed.
    SeedLinkServer(Date start, std::vector<Quake> quakes, Options options,
                   std::function<void(const std::string&)> log = {});
    ~SeedLinkServer();
    SeedLinkServer(const SeedLinkServer&) = delete;
    SeedLinkServer& operator=(const SeedLinkServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free one) and starts serving; false when it cannot.
    bool start(int port);
    int port() const { return port_; }
    void stop();

    // Misbehaviour for the tests, each once, on the next packet sent to any client.
    void cutNextPacket();            // half a packet, then the connection closes
    void garbleNextPacket();         // bytes that are not a SeedLink packet
    void stepBackNextPacket();       // a sequence number below the last one sent
    void lieInNextRecord();          // a record that claims to be 4096 bytes long
    void setSilent(bool silent);     // connections stay open and nothing is sent
    void refuseStation(const std::string& network, const std::string& station);
    // What each connection sent, one string per connection, oldest first.
    std::vector<std::string> received() const;
    int connections() const { return connections_.load(); }

private:
    struct Packet {
        std::uint64_t serial = 0;
        std::uint32_t sequence = 0;
        std::string network, station, location, channel;
        Date start{}, end{};
        std::array<char, 512> record{};
    };
    void generate(Date until);
    const std::vector<std::string>& channelsOf(const Station& s) const {
        return options_.channels.empty() ? s.channels : options_.channels;
    }
    void generator();
    void acceptor();
    void serve(int fd, std::size_t connection);

    Date start_;
    std::vector<Quake> quakes_;
    Options options_;
    std::function<void(const std::string&)> log_;

    mutable std::mutex mutex_;
    std::condition_variable more_;
    std::deque<Packet> ring_;
    std::uint64_t nextSerial_ = 1;
    std::vector<Date> next_;                 // per station and channel: the next sample's time
    std::vector<std::uint32_t> sequence_;    // per station
    std::vector<std::string> received_;
    std::vector<std::string> refused_;       // "NET.STA"

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> cut_{0}, garble_{0}, stepBack_{0}, lie_{0};
    std::atomic<bool> silent_{false};
    std::thread generatorThread_, acceptThread_;
    std::mutex clientsMutex_;
    std::vector<std::thread> clients_;
};

} // namespace demo
