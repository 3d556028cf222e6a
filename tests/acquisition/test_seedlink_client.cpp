// The demo's SeedLink server as other clients meet it. A short client here behaves like the
// widely used Python one: commands end with a bare CR, it asks INFO CAPABILITIES first, reads
// INFO packets, asks for a time window with an end and reads the stream to its END. And the
// demo's switches for other developers: one lost record per channel, hundreds of channels.
#include "DemoSeedLink.h"

#include <gtest/gtest.h>
#include <libmseed.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono;
using Date = system_clock::time_point;

// A SeedLink client on a plain socket, reading with a time limit of its own.
class PlainClient {
public:
    explicit PlainClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~PlainClient() { ::close(fd_); }
    PlainClient(const PlainClient&) = delete;
    PlainClient& operator=(const PlainClient&) = delete;

    bool connected() const { return connected_; }
    void send(const std::string& command) { // a bare CR, as that client ends its commands
        const std::string text = command + "\r";
        ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(text.size()));
    }
    std::optional<std::string> line() {
        while (buffer_.find("\r\n") == std::string::npos)
            if (!more())
                return std::nullopt;
        const auto end = buffer_.find("\r\n");
        std::string l = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return l;
    }
    std::optional<std::string> bytes(std::size_t n) {
        while (buffer_.size() < n)
            if (!more())
                return std::nullopt;
        std::string b = buffer_.substr(0, n);
        buffer_.erase(0, n);
        return b;
    }
    // The next three bytes are END: the stream is over.
    bool atEnd() {
        while (buffer_.size() < 3)
            if (!more())
                return false;
        return buffer_.compare(0, 3, "END") == 0;
    }
    // The INFO packets of one answer, their text joined.
    std::optional<std::string> info() {
        std::string text;
        for (bool more = true; more;) {
            const auto header = bytes(8);
            const auto record = bytes(512);
            if (!header || !record || header->compare(0, 6, "SLINFO") != 0)
                return std::nullopt;
            more = (*header)[7] == '*';
            std::string copy = *record;
            MSRecord* msr = nullptr;
            if (msr_unpack(copy.data(), 512, &msr, 1, 0) != MS_NOERROR || msr->sampletype != 'a') {
                msr_free(&msr);
                return std::nullopt;
            }
            text.append(static_cast<const char*>(msr->datasamples),
                        static_cast<std::size_t>(msr->numsamples));
            msr_free(&msr);
        }
        return text;
    }
    bool closedByServer() {
        char c;
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 5000) > 0 && ::recv(fd_, &c, 1, 0) == 0;
    }

private:
    bool more() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    int fd_ = -1;
    bool connected_ = false;
    std::string buffer_;
};

struct Record {
    std::string id;
    Date start, end; // end: where the next record would start
    double rate = 0;
    std::int64_t samples = 0;
};

// Data packets until END; nothing when the stream breaks off first.
std::optional<std::vector<Record>> readToEnd(PlainClient& c) {
    std::vector<Record> out;
    while (!c.atEnd()) {
        const auto header = c.bytes(8);
        const auto record = c.bytes(512);
        if (!header || !record || header->compare(0, 2, "SL") != 0)
            return std::nullopt;
        std::string copy = *record;
        MSRecord* msr = nullptr;
        if (msr_unpack(copy.data(), 512, &msr, 0, 0) != MS_NOERROR)
            return std::nullopt;
        Record r;
        r.id = std::string(msr->network) + "." + msr->station + "." + msr->location + "." +
               msr->channel;
        r.rate = msr->samprate;
        r.samples = msr->samplecnt;
        r.start = Date{} + microseconds(msr->starttime);
        r.end = r.start + duration_cast<system_clock::duration>(duration<double>(
                              static_cast<double>(msr->samplecnt) / msr->samprate));
        msr_free(&msr);
        out.push_back(r);
    }
    c.bytes(3);
    return out;
}

std::string timeArgument(Date t) {
    const auto s = floor<seconds>(t);
    const auto d = floor<days>(s);
    const year_month_day ymd(d);
    const hh_mm_ss hms(s - d);
    return std::to_string(int(ymd.year())) + "," + std::to_string(unsigned(ymd.month())) + "," +
           std::to_string(unsigned(ymd.day())) + "," + std::to_string(hms.hours().count()) + "," +
           std::to_string(hms.minutes().count()) + "," + std::to_string(hms.seconds().count());
}

// Records of one channel by start; the stretches between them longer than a sample.
std::vector<std::pair<Date, Date>> gapsOf(std::vector<Record> records, double rate) {
    std::sort(records.begin(), records.end(),
              [](const Record& a, const Record& b) { return a.start < b.start; });
    std::vector<std::pair<Date, Date>> gaps;
    for (std::size_t i = 1; i < records.size(); ++i)
        if (duration<double>(records[i].start - records[i - 1].end).count() > 0.5 / rate)
            gaps.emplace_back(records[i - 1].end, records[i].start);
    return gaps;
}

demo::SeedLinkServer::Options options(double recordSeconds, int backlogSeconds) {
    demo::SeedLinkServer::Options o;
    o.recordSeconds = recordSeconds;
    o.backlog = seconds(backlogSeconds);
    return o;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(SeedLinkDemoAsClientsMeetIt, AClientEndingCommandsWithCRAsksInfoThenReadsATimeWindowToItsEnd) {
    demo::SeedLinkServer server(system_clock::now(), {}, options(0.5, 60));
    ASSERT_TRUE(server.start(0));
    PlainClient c(server.port());
    ASSERT_TRUE(c.connected());
    c.send("HELLO");
    const auto hello = c.line();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->rfind("SeedLink v3.1", 0), 0u) << *hello;
    EXPECT_TRUE(c.line());
    c.send("INFO CAPABILITIES");
    const auto caps = c.info();
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->rfind("<?xml", 0), 0u);
    for (const char* cap : {"multistation", "window-extraction", "dialup", "info:streams"})
        EXPECT_NE(caps->find(std::string("<capability name=\"") + cap + "\"/>"), std::string::npos)
            << cap;
    // The other levels clients ask for.
    c.send("INFO ID");
    const auto id = c.info();
    ASSERT_TRUE(id);
    EXPECT_NE(id->find("<seedlink software=\"SeedLink v3.1"), std::string::npos);
    c.send("INFO STATIONS");
    const auto stations = c.info();
    ASSERT_TRUE(stations);
    EXPECT_NE(stations->find("<station name=\"ANMO\" network=\"IU\""), std::string::npos);
    EXPECT_EQ(occurrences(*stations, "<station "), demo::stations().size());
    c.send("INFO STREAMS");
    const auto streams = c.info();
    ASSERT_TRUE(streams);
    EXPECT_GT(streams->size(), 512u); // more than one INFO packet
    EXPECT_NE(streams->find("<stream location=\"00\" seedname=\"BHZ\" type=\"D\""),
              std::string::npos);
    c.send("INFO GAPS");
    EXPECT_EQ(c.line(), "ERROR");

    // A window from the past into the near future: its records, then END once it has passed.
    const Date begin = system_clock::now() - seconds(30), end = system_clock::now() + seconds(2);
    for (const std::string& command :
         std::vector<std::string>{"STATION ANMO IU", "SELECT 00BHZ.D", "SELECT 00LHZ.D",
                                  "TIME " + timeArgument(begin) + " " + timeArgument(end)}) {
        c.send(command);
        EXPECT_EQ(c.line(), "OK") << command;
    }
    c.send("END");
    const auto records = readToEnd(c);
    ASSERT_TRUE(records);
    std::map<std::string, std::vector<Record>> byChannel;
    for (const Record& r : *records)
        byChannel[r.id].push_back(r);
    ASSERT_EQ(byChannel.size(), 2u);
    for (const auto& [channel, list] : byChannel) {
        SCOPED_TRACE(channel);
        const double rate = list.front().rate;
        EXPECT_TRUE(gapsOf(list, rate).empty());
        EXPECT_LE(list.front().start, floor<seconds>(begin) + milliseconds(600));
        EXPECT_GE(list.back().end, floor<seconds>(end) - milliseconds(600) - milliseconds(1000));
        for (const Record& r : list) {
            EXPECT_LE(r.start, floor<seconds>(end) + seconds(1));
            EXPECT_GE(r.end, floor<seconds>(begin));
        }
    }
    c.send("BYE");
    EXPECT_TRUE(c.closedByServer());
}

TEST(SeedLinkDemoAsClientsMeetIt, DropAfterLosesExactlyOneRecordPerChannel) {
    auto o = options(0.5, 10);
    o.dropAfter = 1.5;
    demo::SeedLinkServer server(system_clock::now(), {}, o);
    const Date started = system_clock::now();
    ASSERT_TRUE(server.start(0));
    PlainClient c(server.port());
    c.send("STATION ANMO IU");
    c.send("SELECT 00BH?.D");
    c.send("TIME " + timeArgument(started - seconds(5)) + " " + timeArgument(started + seconds(4)));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c.line(), "OK");
    c.send("END");
    const auto records = readToEnd(c);
    ASSERT_TRUE(records);
    std::map<std::string, std::vector<Record>> byChannel;
    for (const Record& r : *records)
        byChannel[r.id].push_back(r);
    ASSERT_EQ(byChannel.size(), 3u);
    for (const auto& [channel, list] : byChannel) {
        SCOPED_TRACE(channel);
        const auto gaps = gapsOf(list, 20);
        ASSERT_EQ(gaps.size(), 1u);
        EXPECT_NEAR(duration<double>(gaps[0].second - gaps[0].first).count(), 0.5, 0.06);
        // In the middle of the window: made 1.5 s or more into the server's life.
        EXPECT_GT(gaps[0].first, started);
        EXPECT_LT(gaps[0].second, started + seconds(4));
    }
}

TEST(SeedLinkDemoAsClientsMeetIt, ServesHundredsOfChannelsAtTheRateAsked) {
    auto o = options(4, 20);
    o.channelCount = 500;
    o.rate = 100;
    demo::SeedLinkServer server(system_clock::now(), {}, o);
    ASSERT_TRUE(server.start(0));
    PlainClient c(server.port());
    c.send("INFO STREAMS");
    const auto streams = c.info();
    ASSERT_TRUE(streams);
    EXPECT_EQ(occurrences(*streams, "<stream "), 500u);
    const std::size_t anmo = streams->find("<station name=\"ANMO\"");
    ASSERT_NE(anmo, std::string::npos);
    EXPECT_EQ(
        occurrences(streams->substr(anmo, streams->find("</station>", anmo) - anmo), "<stream "),
        50u);
    for (const char* code : {"HHZ", "HHN", "HHE", "H00"})
        EXPECT_NE(streams->find(std::string("seedname=\"") + code + "\""), std::string::npos)
            << code;
    c.send("STATION ANMO IU");
    c.send("SELECT 00HHZ.D");
    const Date now = system_clock::now();
    c.send("TIME " + timeArgument(now - seconds(15)) + " " + timeArgument(now - seconds(5)));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c.line(), "OK");
    c.send("END");
    const auto records = readToEnd(c);
    ASSERT_TRUE(records);
    ASSERT_GE(records->size(), 2u);
    for (const Record& r : *records) {
        EXPECT_EQ(r.id, "IU.ANMO.00.HHZ");
        EXPECT_DOUBLE_EQ(r.rate, 100.0);
        EXPECT_EQ(r.samples, 400); // 4 s a record
    }
    EXPECT_TRUE(gapsOf(*records, 100).empty());
}
