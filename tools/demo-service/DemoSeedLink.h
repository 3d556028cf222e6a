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
// It speaks as clients expect: commands ended by CR, LF or CR LF; HELLO, STATION, SELECT,
// DATA, FETCH, TIME (with an end time the stream closes with END), END, BYE; INFO ID,
// CAPABILITIES, STATIONS and STREAMS answered with XML in INFO packets. The tests use it too,
// so it can also misbehave on request.
namespace demo {

// Samples packed as 512-byte miniSEED records, big-endian unless `bigEndian` is false:
// "encoding" is libmseed's DE_STEIM1, DE_STEIM2, DE_INT32 or DE_FLOAT32 (the samples are
// rounded to integers except for floats).
std::vector<std::array<char, 512>>
packRecords(const std::string& network, const std::string& station, const std::string& location,
            const std::string& channel, Date start, double delta, const std::vector<float>& samples,
            int encoding, bool bigEndian = true);

// Text as 512-byte miniSEED log records (ASCII), the way INFO answers travel.
std::vector<std::array<char, 512>> packText(const std::string& text);

class SeedLinkServer {
public:
    struct Options {
        double recordSeconds = 2.0;            // samples per record, in time
        std::chrono::seconds backlog{10 * 60}; // how far back a TIME request can reach
        int encoding = 11;                     // DE_STEIM2
        // When not empty, every station streams these channels instead of its own.
        std::vector<std::string> channels;
        std::uint32_t firstSequence = 1; // the number of each station's first packet
        // "NET.STA" of the stations this server carries; empty: all of them.
        std::vector<std::string> only{};
        // Each station also streams its channels at two other locations (of "", "00" and "10",
        // the "10" ones at twice the rate), and selectors are read without their location, as
        // some servers do.
        bool otherLocations = false;
        // More than 0: this many channels in all, spread over the stations in turn, instead of
        // their own ("HHZ", "HHN", "HHE", then made-up codes of band H).
        int channelCount = 0;
        double rate = 0; // more than 0: samples per second of every channel
        // Each channel loses one record: the first one made this many seconds or more after
        // start(), so a client sees one gap per channel.
        std::optional<double> dropAfter{};
        // When set, every channel's samples are this function of their time instead of the
        // made-up seismogram (a waveform whose every sample is known).
        std::function<float(Date)> signal{};
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
    void cutNextPacket();           // half a packet, then the connection closes
    void garbleNextPacket();        // bytes that are not a SeedLink packet
    void stepBackNextPacket();      // a sequence number below the last one sent
    void lieInNextRecord();         // a record that claims to be 4096 bytes long
    void zeroSamplesInNextRecord(); // a legal record with no samples
    void undecodableNextRecord();   // a record in an encoding clients rarely read (SRO)
    void repeatNextPacket();        // the packet twice, with the same sequence number
    void htmlAfterNextEnd();        // an HTML line right after the next handshake's END
    // As after a restart: every connection closes and each station's packets are numbered
    // anew, 1000 below where they were.
    void restartNumbering();
    void setSilent(bool silent); // connections stay open and nothing is sent
    // Each connection is closed after this many packets (0: never).
    void setPacketsPerConnection(int packets);
    // Connections are reset (RST) as soon as they are accepted.
    void setResetOnAccept(bool reset);
    void refuseStation(const std::string& network, const std::string& station);
    // SELECT with exactly this selector, for that station, is answered ERROR.
    void refuseSelect(const std::string& network, const std::string& station,
                      const std::string& selector);
    // What each connection sent, one string per connection, oldest first.
    std::vector<std::string> received() const;
    // The channels streamed, as a channel list file the application reads ("Title;..." and then
    // NET;STA;CHA;LOC;label lines, "--" for a blank location).
    std::string channelList(const std::string& title) const;
    int connections() const { return connections_.load(); }

private:
    struct Feed {
        std::size_t station = 0; // into stations()
        std::string location, channel;
        double delta = 1.0;
        Date next{}; // the next sample's time
        bool dropped = false;
    };
    struct Packet {
        std::uint64_t serial = 0;
        std::uint32_t sequence = 0;
        std::size_t station = 0;
        std::string location, channel;
        Date start{}, end{};
        std::array<char, 512> record{};
    };
    struct Session;
    void generate(Date until);
    void generator();
    void acceptor();
    void serve(int fd, std::size_t connection);
    bool command(Session& s, const std::string& line);
    bool sendDue(Session& s);
    bool sendInfo(Session& s, const std::string& level);
    std::optional<std::string> infoDocument(const std::string& level) const;
    bool carries(const std::string& network, const std::string& station) const;

    Date start_;
    std::vector<Quake> quakes_;
    Options options_;
    std::function<void(const std::string&)> log_;
    std::vector<Feed> feeds_;
    std::vector<std::size_t> carried_; // stations() this server carries
    Date started_{};                   // when start() was called

    mutable std::mutex mutex_;
    std::condition_variable more_;
    std::deque<Packet> ring_;
    std::uint64_t nextSerial_ = 1;
    Date frontier_{};                     // records are made up to here
    std::vector<std::uint32_t> sequence_; // per station: the last number given
    std::vector<std::string> received_;
    std::vector<std::string> refused_;        // "NET.STA"
    std::vector<std::string> refusedSelects_; // "NET.STA SELECTOR"
    int packetsPerConnection_ = 0;

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> cut_{0}, garble_{0}, stepBack_{0}, lie_{0}, zero_{0}, undecodable_{0},
        repeat_{0}, html_{0};
    std::atomic<int> generation_{0}; // a restart closes every connection of an older one
    std::atomic<bool> silent_{false}, resetOnAccept_{false};
    std::thread generatorThread_, acceptThread_;
    std::mutex clientsMutex_;
    std::vector<std::thread> clients_;
};

} // namespace demo
