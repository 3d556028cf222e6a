#include "DemoSeedLink.h"

#include <libmseed.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace demo {

namespace {

using namespace std::chrono;

constexpr std::size_t kRecordLength = 512;
constexpr std::uint32_t kSequenceModulus = 0x1000000;

std::int64_t microsecondsOf(Date t) {
    return duration_cast<microseconds>(t.time_since_epoch()).count();
}

// The first sample time at or after t on the grid of whole multiples of delta since 1970, so
// that the stream and the HTTP answers (which start on whole seconds) share one grid.
Date onGrid(Date t, double delta) {
    const double s = duration<double>(t.time_since_epoch()).count();
    const double k = std::ceil(s / delta - 1e-9);
    return Date{} + duration_cast<system_clock::duration>(duration<double>(k * delta));
}

void collect(char* record, int length, void* handlerData) {
    auto* out = static_cast<std::vector<std::array<char, kRecordLength>>*>(handlerData);
    if (length != static_cast<int>(kRecordLength))
        return;
    std::array<char, kRecordLength> r{};
    std::memcpy(r.data(), record, kRecordLength);
    out->push_back(r);
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool sendLine(int fd, const std::string& line) {
    const std::string text = line + "\r\n";
    return sendAll(fd, text.data(), text.size());
}

// "?" matches one character; a selector without its two location characters matches any.
bool selects(const std::string& selector, const std::string& location, const std::string& channel) {
    std::string s = selector;
    if (const auto dot = s.find('.'); dot != std::string::npos) {
        if (s.substr(dot + 1) != "D")
            return false;
        s.resize(dot);
    }
    std::string want = s.size() == 5 ? location + channel : channel;
    if (s.size() == 5 && location.empty())
        want = "  " + channel;
    if (s.size() != want.size())
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] != '?' && s[i] != want[i] && !(s[i] == '-' && want[i] == ' '))
            return false;
    return true;
}

std::optional<Date> parseTimeArgument(const std::string& text) {
    int f[6] = {0, 1, 1, 0, 0, 0};
    int n = 0;
    std::stringstream in(text);
    std::string part;
    while (n < 6 && std::getline(in, part, ',')) {
        char* end = nullptr;
        const long v = std::strtol(part.c_str(), &end, 10);
        if (end == part.c_str() || *end != '\0')
            return std::nullopt;
        f[n++] = static_cast<int>(v);
    }
    if (n < 3 || f[0] < 1970 || f[0] > 2200 || f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > 31)
        return std::nullopt;
    const auto date = sys_days(year_month_day{year(f[0]), month(static_cast<unsigned>(f[1])),
                                              day(static_cast<unsigned>(f[2]))});
    return Date{date} + hours(f[3]) + minutes(f[4]) + seconds(f[5]);
}

} // namespace

std::vector<std::array<char, 512>> packRecords(const std::string& network,
                                               const std::string& station,
                                               const std::string& location,
                                               const std::string& channel, Date start,
                                               double delta, const std::vector<float>& samples,
                                               int encoding) {
    std::vector<std::array<char, kRecordLength>> out;
    if (samples.empty() || !(delta > 0))
        return out;
    static std::once_flag quiet;
    std::call_once(quiet, [] { ms_loginit([](char*) {}, nullptr, [](char*) {}, nullptr); });
    std::vector<std::int32_t> whole;
    std::vector<float> floats;
    MSRecord* msr = msr_init(nullptr);
    std::snprintf(msr->network, sizeof msr->network, "%s", network.c_str());
    std::snprintf(msr->station, sizeof msr->station, "%s", station.c_str());
    std::snprintf(msr->location, sizeof msr->location, "%s", location.c_str());
    std::snprintf(msr->channel, sizeof msr->channel, "%s", channel.c_str());
    msr->dataquality = 'D';
    msr->starttime = microsecondsOf(start);
    msr->samprate = 1.0 / delta;
    msr->reclen = static_cast<int32_t>(kRecordLength);
    msr->byteorder = 1;
    msr->encoding = static_cast<int8_t>(encoding);
    if (encoding == DE_FLOAT32) {
        floats = samples;
        msr->datasamples = floats.data();
        msr->sampletype = 'f';
    } else {
        whole.reserve(samples.size());
        for (const float v : samples)
            whole.push_back(static_cast<std::int32_t>(std::lround(std::clamp(v, -1e9f, 1e9f))));
        msr->datasamples = whole.data();
        msr->sampletype = 'i';
    }
    msr->numsamples = static_cast<int64_t>(samples.size());
    int64_t packed = 0;
    msr_pack(msr, collect, &out, &packed, 1, 0);
    msr->datasamples = nullptr; // ours, not libmseed's to free
    msr_free(&msr);
    return out;
}

SeedLinkServer::SeedLinkServer(Date start, std::vector<Quake> quakes, Options options,
                               std::function<void(const std::string&)> log)
    : start_(start), quakes_(std::move(quakes)), options_(options), log_(std::move(log)) {
    std::size_t count = 0;
    for (const Station& s : stations())
        count += channelsOf(s).size();
    // Each channel's records end at another moment, as a real server's do, not all at once.
    std::size_t k = 0;
    for (const Station& s : stations()) {
        sequence_.push_back(0);
        for (const std::string& ch : channelsOf(s)) {
            const double offset = options_.recordSeconds * static_cast<double>(k++) /
                                  static_cast<double>(std::max<std::size_t>(1, count));
            next_.push_back(onGrid(start_ - options_.backlog +
                                       duration_cast<system_clock::duration>(duration<double>(offset)),
                                   sampleInterval(ch).value_or(1.0)));
        }
    }
}

SeedLinkServer::~SeedLinkServer() {
    stop();
}

bool SeedLinkServer::start(int port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return false;
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    generate(system_clock::now()); // the backlog, before anyone can ask for it
    generatorThread_ = std::thread([this] { generator(); });
    acceptThread_ = std::thread([this] { acceptor(); });
    return true;
}

void SeedLinkServer::stop() {
    if (stopping_.exchange(true))
        return;
    more_.notify_all();
    if (acceptThread_.joinable())
        acceptThread_.join();
    if (generatorThread_.joinable())
        generatorThread_.join();
    std::lock_guard lock(clientsMutex_);
    for (std::thread& t : clients_)
        if (t.joinable())
            t.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void SeedLinkServer::cutNextPacket() { ++cut_; }
void SeedLinkServer::garbleNextPacket() { ++garble_; }
void SeedLinkServer::stepBackNextPacket() { ++stepBack_; }
void SeedLinkServer::lieInNextRecord() { ++lie_; }
void SeedLinkServer::setSilent(bool silent) {
    silent_ = silent;
    more_.notify_all();
}

void SeedLinkServer::refuseStation(const std::string& network, const std::string& station) {
    std::lock_guard lock(mutex_);
    refused_.push_back(network + "." + station);
}

std::vector<std::string> SeedLinkServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void SeedLinkServer::generate(Date until) {
    // Records are made outside the lock; only the ring is touched under it.
    std::vector<Packet> made;
    std::size_t k = 0;
    const auto& list = stations();
    for (std::size_t s = 0; s < list.size(); ++s) {
        for (const std::string& ch : channelsOf(list[s])) {
            const double delta = sampleInterval(ch).value_or(1.0);
            const auto perRecord =
                static_cast<std::size_t>(std::max(1.0, std::round(options_.recordSeconds / delta)));
            Date& next = next_[k++];
            // Whole records up to `until`, their samples made in one go.
            const double span = duration<double>(until - next).count();
            const auto records = span < 0 ? std::size_t{0}
                                           : static_cast<std::size_t>(
                                                 (span / delta + 1) / static_cast<double>(perRecord));
            if (records == 0)
                continue;
            const auto samples =
                seismogram(list[s], ch, next, records * perRecord, delta, quakes_);
            for (std::size_t r = 0; r < records; ++r) {
                const Date first = next + duration_cast<system_clock::duration>(
                                              duration<double>(static_cast<double>(r * perRecord) * delta));
                const std::vector<float> part(samples.begin() + static_cast<std::ptrdiff_t>(r * perRecord),
                                              samples.begin() + static_cast<std::ptrdiff_t>((r + 1) * perRecord));
                for (const auto& record : packRecords(list[s].network, list[s].station,
                                                      list[s].location, ch, first, delta, part,
                                                      options_.encoding)) {
                    Packet p;
                    p.network = list[s].network;
                    p.station = list[s].station;
                    p.location = list[s].location;
                    p.channel = ch;
                    p.start = first;
                    p.end = first + duration_cast<system_clock::duration>(
                                        duration<double>(static_cast<double>(perRecord - 1) * delta));
                    p.record = record;
                    p.sequence = static_cast<std::uint32_t>(s); // the station, numbered below
                    made.push_back(std::move(p));
                }
            }
            next = onGrid(next + duration_cast<system_clock::duration>(duration<double>(
                                     static_cast<double>(records * perRecord) * delta)) -
                              microseconds(1),
                          delta);
        }
    }
    if (made.empty())
        return;
    {
        std::lock_guard lock(mutex_);
        for (Packet& p : made) {
            std::uint32_t& seq = sequence_[p.sequence];
            seq = (seq + 1) % kSequenceModulus;
            p.sequence = seq;
            p.serial = nextSerial_++;
            ring_.push_back(std::move(p));
        }
        const Date oldest = until - options_.backlog - minutes(5);
        while (!ring_.empty() && ring_.front().end < oldest)
            ring_.pop_front();
    }
    more_.notify_all();
}

void SeedLinkServer::generator() {
    while (!stopping_) {
        std::this_thread::sleep_for(milliseconds(100));
        generate(system_clock::now());
    }
}

void SeedLinkServer::acceptor() {
    std::size_t connection = 0;
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(mutex_);
            received_.emplace_back();
            connection = received_.size() - 1;
        }
        ++connections_;
        std::lock_guard lock(clientsMutex_);
        clients_.emplace_back([this, fd, connection] { serve(fd, connection); });
    }
}

void SeedLinkServer::serve(int fd, std::size_t connection) {
    if (log_)
        log_("SeedLink #" + std::to_string(connection + 1) + " connected");
    struct Selection {
        std::string network, station;
        std::vector<std::string> selectors;
        std::optional<std::uint32_t> fromSequence;
        std::optional<Date> fromTime;
    };
    std::vector<Selection> selections;
    std::string buffer;
    bool streaming = false;
    std::uint64_t position = 0; // the serial of the newest packet looked at
    std::uint64_t live = 0;     // packets after this one are new since END
    std::uint32_t lastSent = 0;
    auto fail = [&] {
        ::close(fd);
        if (log_)
            log_("SeedLink #" + std::to_string(connection + 1) + " closed");
    };
    // The handshake: a line at a time, until END.
    while (!stopping_ && !streaming) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char chunk[512];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return fail();
        {
            std::lock_guard lock(mutex_);
            received_[connection].append(chunk, static_cast<std::size_t>(n));
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
        if (buffer.size() > 4096)
            return fail();
        std::size_t eol;
        while (!streaming && (eol = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, eol);
            buffer.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::istringstream words(line);
            std::string verb, a, b;
            words >> verb >> a >> b;
            bool ok = true;
            if (verb == "HELLO") {
                if (!sendLine(fd, "SeedLink v3.1 (Groundsway demo) :: SLPROTO:3.1 CAP") ||
                    !sendLine(fd, "Groundsway demo SeedLink server"))
                    return fail();
                continue;
            }
            if (verb == "STATION") {
                std::lock_guard lock(mutex_);
                const bool known = std::any_of(stations().begin(), stations().end(), [&](const Station& s) {
                    return s.station == a && s.network == b;
                });
                ok = known && std::find(refused_.begin(), refused_.end(), b + "." + a) == refused_.end();
                if (ok)
                    selections.push_back({b, a, {}, std::nullopt, std::nullopt});
            } else if (verb == "SELECT") {
                ok = !selections.empty() && !a.empty();
                if (ok)
                    selections.back().selectors.push_back(a);
            } else if (verb == "DATA" || verb == "FETCH") {
                ok = !selections.empty();
                if (ok && !a.empty()) {
                    char* end = nullptr;
                    const unsigned long seq = std::strtoul(a.c_str(), &end, 16);
                    ok = end != a.c_str() && *end == '\0';
                    selections.back().fromSequence = static_cast<std::uint32_t>(seq);
                }
            } else if (verb == "TIME") {
                const auto t = parseTimeArgument(a);
                ok = !selections.empty() && t.has_value();
                if (ok)
                    selections.back().fromTime = t;
            } else if (verb == "END") {
                streaming = true;
                std::lock_guard lock(mutex_);
                position = live = ring_.empty() ? 0 : ring_.back().serial;
                // Selections with a start reach back into the ring.
                for (const Selection& s : selections)
                    if (s.fromSequence || s.fromTime)
                        position = ring_.empty() ? 0 : ring_.front().serial - 1;
                break;
            } else if (verb == "BYE") {
                return fail();
            } else {
                ok = false;
            }
            if (!sendLine(fd, ok ? "OK" : "ERROR"))
                return fail();
        }
    }
    // The data phase: every packet of the ring the selections ask for, as it is made.
    while (!stopping_) {
        std::vector<Packet> due;
        {
            std::unique_lock lock(mutex_);
            more_.wait_for(lock, milliseconds(100));
            if (silent_)
                continue;
            for (const Packet& p : ring_) {
                if (p.serial <= position)
                    continue;
                position = p.serial;
                for (const Selection& s : selections) {
                    if (s.network != p.network || s.station != p.station)
                        continue;
                    if (s.fromSequence &&
                        (p.sequence + kSequenceModulus - *s.fromSequence) % kSequenceModulus >
                            kSequenceModulus / 2)
                        continue;
                    if (!s.fromSequence && s.fromTime && p.end < *s.fromTime)
                        continue;
                    if (!s.fromSequence && !s.fromTime && p.serial <= live)
                        continue;
                    const bool wanted =
                        s.selectors.empty() ||
                        std::any_of(s.selectors.begin(), s.selectors.end(), [&](const std::string& sel) {
                            return selects(sel, p.location, p.channel);
                        });
                    if (wanted)
                        due.push_back(p);
                    break;
                }
            }
        }
        // A client that stops reading must not hold the others up: it is let go.
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            char chunk[256];
            if (::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT) == 0)
                return fail();
        }
        for (Packet& packet : due) {
            char header[9];
            std::uint32_t seq = packet.sequence;
            if (stepBack_ > 0 && lastSent > 0) {
                --stepBack_;
                seq = (lastSent + kSequenceModulus - 1) % kSequenceModulus;
            }
            std::snprintf(header, sizeof header, "SL%06X", seq);
            if (lie_ > 0) {
                --lie_;
                // Blockette 1000 at offset 48: its record length exponent is byte 6 of it.
                packet.record[48 + 6] = 12;
            }
            if (garble_ > 0) {
                --garble_;
                const char junk[] = "<html>not SeedLink</html>";
                if (!sendAll(fd, junk, sizeof junk - 1))
                    return fail();
            }
            if (cut_ > 0) {
                --cut_;
                sendAll(fd, header, 8);
                sendAll(fd, packet.record.data(), 300);
                return fail();
            }
            if (!sendAll(fd, header, 8) || !sendAll(fd, packet.record.data(), packet.record.size()))
                return fail();
            lastSent = seq;
        }
    }
    fail();
}

} // namespace demo
