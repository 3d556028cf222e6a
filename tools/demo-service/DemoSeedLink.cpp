#include "DemoSeedLink.h"

#include "base/Time.h"

#include <libmseed.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

namespace demo {

namespace {

using namespace std::chrono;

constexpr std::size_t kRecordLength = 512;
constexpr std::uint32_t kSequenceModulus = 0x1000000;
constexpr std::size_t kMaxCommandLine = 4096;
constexpr int kSendTimeoutSeconds = 10; // a client that stops reading is let go after this

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

Date plus(Date t, double seconds) {
    return t + duration_cast<system_clock::duration>(duration<double>(seconds));
}

void collect(char* record, int length, void* handlerData) {
    auto* out = static_cast<std::vector<std::array<char, kRecordLength>>*>(handlerData);
    if (length != static_cast<int>(kRecordLength))
        return;
    std::array<char, kRecordLength> r{};
    std::memcpy(r.data(), record, kRecordLength);
    out->push_back(r);
}

void quietLibrary() {
    static std::once_flag quiet;
    std::call_once(quiet, [] { ms_loginit([](char*) {}, nullptr, [](char*) {}, nullptr); });
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

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "?" matches one character, "-" a blank; a selector without its two location characters (or
// any selector, when locations are ignored) matches any location.
bool selects(const std::string& selector, const std::string& location, const std::string& channel,
             bool anyLocation) {
    std::string s = selector;
    if (const auto dot = s.find('.'); dot != std::string::npos) {
        if (s.substr(dot + 1) != "D")
            return false;
        s.resize(dot);
    }
    if (anyLocation && s.size() == 5)
        s.erase(0, 2);
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

std::string infoTime(Date t) {
    const civil::Fields f = civil::fieldsOf(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02d:%02d:%02d",
                  static_cast<long long>(f.year), f.month, f.day, f.hour, f.minute, f.second);
    return buf;
}

std::string hex6(std::uint32_t n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06X", n % kSequenceModulus);
    return buf;
}

std::string xmlEscaped(const std::string& s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Channel codes for a made-up set: the three components first, then codes of band H.
std::vector<std::string> madeUpChannels(std::size_t count) {
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::vector<std::string> out = {"HHZ", "HHN", "HHE"};
    std::set<std::string> used(out.begin(), out.end());
    for (int k = 0; out.size() < count && k < 36 * 36; ++k) {
        const std::string code = std::string("H") + digits[k / 36] + digits[k % 36];
        if (used.insert(code).second)
            out.push_back(code);
    }
    out.resize(std::min(out.size(), count));
    return out;
}

} // namespace

std::vector<std::array<char, 512>>
packRecords(const std::string& network, const std::string& station, const std::string& location,
            const std::string& channel, Date start, double delta, const std::vector<float>& samples,
            int encoding, bool bigEndian) {
    std::vector<std::array<char, kRecordLength>> out;
    if (samples.empty() || !(delta > 0))
        return out;
    quietLibrary();
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
    msr->byteorder = bigEndian ? 1 : 0;
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

std::vector<std::array<char, 512>> packText(const std::string& text) {
    std::vector<std::array<char, kRecordLength>> out;
    if (text.empty())
        return out;
    quietLibrary();
    std::string copy = text;
    MSRecord* msr = msr_init(nullptr);
    std::snprintf(msr->network, sizeof msr->network, "%s", "SL");
    std::snprintf(msr->station, sizeof msr->station, "%s", "INFO");
    std::snprintf(msr->channel, sizeof msr->channel, "%s", "LOG");
    msr->dataquality = 'D';
    msr->starttime = microsecondsOf(system_clock::now());
    msr->samprate = 0;
    msr->reclen = static_cast<int32_t>(kRecordLength);
    msr->byteorder = 1;
    msr->encoding = DE_ASCII;
    msr->sampletype = 'a';
    msr->datasamples = copy.data();
    msr->numsamples = static_cast<int64_t>(copy.size());
    int64_t packed = 0;
    msr_pack(msr, collect, &out, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    return out;
}

// What one client has asked for, and how far its stream has got.
struct SeedLinkServer::Session {
    struct Selection {
        std::size_t station = 0;
        std::vector<std::string> selectors;
        enum class From { Live, Sequence, Time } from = From::Live;
        std::uint32_t sequence = 0;
        std::optional<Date> begin, end;
        bool dialUp = false;
        std::uint64_t after = 0;          // serials up to this one are not sent
        std::uint64_t until = UINT64_MAX; // nor those after this one (dial-up)
    };
    int fd = -1;
    std::size_t connection = 0;
    int generation = 0;
    std::string input;
    std::vector<Selection> selections;
    int current = -1; // the selection the last STATION opened, -1 when it was refused
    bool streaming = false, ended = false;
    std::uint64_t position = 0; // the serial of the newest packet looked at
    std::uint32_t lastSent = 0;
    bool sentAny = false;
    int sent = 0;
};

SeedLinkServer::SeedLinkServer(Date start, std::vector<Quake> quakes, Options options,
                               std::function<void(const std::string&)> log)
    : start_(start), quakes_(std::move(quakes)), options_(std::move(options)),
      log_(std::move(log)) {
    const auto& list = stations();
    for (std::size_t s = 0; s < list.size(); ++s)
        if (options_.only.empty() ||
            std::find(options_.only.begin(), options_.only.end(),
                      list[s].network + "." + list[s].station) != options_.only.end())
            carried_.push_back(s);
    const auto intervalOf = [this](const std::string& channel) {
        return options_.rate > 0 ? 1.0 / options_.rate : sampleInterval(channel).value_or(1.0);
    };
    if (options_.channelCount > 0 && !carried_.empty()) {
        const auto count = static_cast<std::size_t>(options_.channelCount);
        const auto codes = madeUpChannels((count + carried_.size() - 1) / carried_.size());
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t s = carried_[k % carried_.size()];
            const std::string& code = codes[std::min(codes.size() - 1, k / carried_.size())];
            feeds_.push_back({s, list[s].location, code, intervalOf(code), {}, false});
        }
    } else {
        for (const std::size_t s : carried_)
            for (const std::string& ch :
                 options_.channels.empty() ? list[s].channels : options_.channels) {
                feeds_.push_back({s, list[s].location, ch, intervalOf(ch), {}, false});
                if (!options_.otherLocations)
                    continue;
                for (const std::string loc : {"", "00", "10"})
                    if (loc != list[s].location)
                        feeds_.push_back(
                            {s, loc, ch, intervalOf(ch) / (loc == "10" ? 2.0 : 1.0), {}, false});
            }
    }
    // Each channel's records end at another moment, as a real server's do, not all at once.
    for (std::size_t k = 0; k < feeds_.size(); ++k) {
        const double offset = options_.recordSeconds * static_cast<double>(k) /
                              static_cast<double>(std::max<std::size_t>(1, feeds_.size()));
        feeds_[k].next = onGrid(plus(start_ - options_.backlog, offset), feeds_[k].delta);
    }
    sequence_.assign(list.size(),
                     (options_.firstSequence + kSequenceModulus - 1) % kSequenceModulus);
}

std::string SeedLinkServer::channelList(const std::string& title) const {
    std::string out = "Title;" + title + "\n";
    for (const Feed& f : feeds_) {
        const Station& st = stations()[f.station];
        out += st.network + ";" + st.station + ";" + f.channel + ";" +
               (f.location.empty() ? "--" : f.location) + ";" + st.siteName + "\n";
    }
    return out;
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
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    started_ = system_clock::now();
    generate(started_); // the backlog, before anyone can ask for it
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

void SeedLinkServer::cutNextPacket() {
    ++cut_;
}
void SeedLinkServer::garbleNextPacket() {
    ++garble_;
}
void SeedLinkServer::stepBackNextPacket() {
    ++stepBack_;
}
void SeedLinkServer::lieInNextRecord() {
    ++lie_;
}
void SeedLinkServer::zeroSamplesInNextRecord() {
    ++zero_;
}
void SeedLinkServer::undecodableNextRecord() {
    ++undecodable_;
}
void SeedLinkServer::repeatNextPacket() {
    ++repeat_;
}
void SeedLinkServer::htmlAfterNextEnd() {
    ++html_;
}
void SeedLinkServer::setSilent(bool silent) {
    silent_ = silent;
    more_.notify_all();
}
void SeedLinkServer::setResetOnAccept(bool reset) {
    resetOnAccept_ = reset;
}

void SeedLinkServer::setPacketsPerConnection(int packets) {
    std::lock_guard lock(mutex_);
    packetsPerConnection_ = packets;
}

void SeedLinkServer::restartNumbering() {
    {
        std::lock_guard lock(mutex_);
        for (std::uint32_t& s : sequence_)
            s = (s + kSequenceModulus - 1000) % kSequenceModulus;
        for (Packet& p : ring_)
            p.sequence = (p.sequence + kSequenceModulus - 1000) % kSequenceModulus;
        ++generation_;
    }
    more_.notify_all();
}

void SeedLinkServer::refuseStation(const std::string& network, const std::string& station) {
    std::lock_guard lock(mutex_);
    refused_.push_back(network + "." + station);
}

void SeedLinkServer::refuseSelect(const std::string& network, const std::string& station,
                                  const std::string& selector) {
    std::lock_guard lock(mutex_);
    refusedSelects_.push_back(network + "." + station + " " + selector);
}

std::vector<std::string> SeedLinkServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool SeedLinkServer::carries(const std::string& network, const std::string& station) const {
    return std::any_of(carried_.begin(), carried_.end(), [&](std::size_t s) {
        return stations()[s].network == network && stations()[s].station == station;
    });
}

void SeedLinkServer::generate(Date until) {
    const bool dropNow =
        options_.dropAfter && duration<double>(until - started_).count() >= *options_.dropAfter;
    // Records are made outside the lock; only the ring is touched under it.
    std::vector<Packet> made;
    const auto& list = stations();
    for (Feed& feed : feeds_) {
        const Station& st = list[feed.station];
        const double delta = feed.delta;
        const auto perRecord =
            static_cast<std::size_t>(std::max(1.0, std::round(options_.recordSeconds / delta)));
        // Whole records up to `until`, their samples made in one go.
        const double span = duration<double>(until - feed.next).count();
        const auto records =
            span < 0
                ? std::size_t{0}
                : static_cast<std::size_t>((span / delta + 1) / static_cast<double>(perRecord));
        if (records == 0)
            continue;
        std::vector<float> samples;
        if (options_.signal) {
            samples.resize(records * perRecord);
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] = options_.signal(plus(feed.next, static_cast<double>(i) * delta));
        } else {
            samples = seismogram(st, feed.channel, feed.next, records * perRecord, delta, quakes_);
        }
        for (std::size_t r = 0; r < records; ++r) {
            const Date first = plus(feed.next, static_cast<double>(r * perRecord) * delta);
            const std::vector<float> part(
                samples.begin() + static_cast<std::ptrdiff_t>(r * perRecord),
                samples.begin() + static_cast<std::ptrdiff_t>((r + 1) * perRecord));
            for (const auto& record :
                 packRecords(st.network, st.station, feed.location, feed.channel, first, delta,
                             part, options_.encoding)) {
                if (dropNow && !feed.dropped) {
                    feed.dropped = true; // this one never existed
                    continue;
                }
                Packet p;
                p.station = feed.station;
                p.location = feed.location;
                p.channel = feed.channel;
                p.start = first;
                p.end = plus(first, static_cast<double>(perRecord - 1) * delta);
                p.record = record;
                made.push_back(std::move(p));
            }
        }
        feed.next = onGrid(plus(feed.next, static_cast<double>(records * perRecord) * delta) -
                               microseconds(1),
                           delta);
    }
    {
        std::lock_guard lock(mutex_);
        for (Packet& p : made) {
            std::uint32_t& seq = sequence_[p.station];
            seq = (seq + 1) % kSequenceModulus;
            p.sequence = seq;
            p.serial = nextSerial_++;
            ring_.push_back(std::move(p));
        }
        frontier_ = until;
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
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        if (resetOnAccept_) {
            const linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::close(fd);
            continue;
        }
        const timeval patience{kSendTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
        std::size_t connection = 0;
        {
            std::lock_guard lock(mutex_);
            received_.emplace_back();
            connection = received_.size() - 1;
        }
        std::lock_guard lock(clientsMutex_);
        clients_.emplace_back([this, fd, connection] { serve(fd, connection); });
    }
}

std::optional<std::string> SeedLinkServer::infoDocument(const std::string& level) const {
    const std::string head = "<?xml version=\"1.0\"?>\n<seedlink software=\"SeedLink v3.1 "
                             "(Groundsway demo)\" organization=\"Groundsway demo SeedLink server\" "
                             "started=\"" +
                             infoTime(started_) + "\"";
    if (level == "ID")
        return head + "/>\n";
    std::string doc = head + ">\n";
    if (level == "CAPABILITIES") {
        for (const char* cap : {"dialup", "multistation", "window-extraction", "info:id",
                                "info:capabilities", "info:stations", "info:streams"})
            doc += std::string("  <capability name=\"") + cap + "\"/>\n";
        return doc + "</seedlink>\n";
    }
    if (level != "STATIONS" && level != "STREAMS")
        return std::nullopt;
    // What the ring holds, per station and per stream.
    struct Span {
        std::uint32_t first = 0, last = 0;
        Date begin{}, end{};
        bool any = false;
    };
    std::lock_guard lock(mutex_);
    std::vector<Span> byStation(stations().size());
    std::vector<Span> byFeed(feeds_.size());
    for (const Packet& p : ring_) {
        Span& s = byStation[p.station];
        s.last = p.sequence;
        if (!s.any)
            s.first = p.sequence;
        s.any = true;
        for (std::size_t k = 0; k < feeds_.size(); ++k)
            if (feeds_[k].station == p.station && feeds_[k].location == p.location &&
                feeds_[k].channel == p.channel) {
                Span& f = byFeed[k];
                if (!f.any)
                    f.begin = p.start;
                f.end = p.end;
                f.any = true;
                break;
            }
    }
    for (const std::size_t s : carried_) {
        const Station& st = stations()[s];
        doc += "  <station name=\"" + st.station + "\" network=\"" + st.network +
               "\" description=\"" + xmlEscaped(st.siteName) + "\" begin_seq=\"" +
               hex6(byStation[s].first) + "\" end_seq=\"" + hex6(byStation[s].last) +
               "\" stream_check=\"enabled\"";
        if (level == "STATIONS") {
            doc += "/>\n";
            continue;
        }
        doc += ">\n";
        for (std::size_t k = 0; k < feeds_.size(); ++k)
            if (feeds_[k].station == s && byFeed[k].any)
                doc += "    <stream location=\"" + feeds_[k].location + "\" seedname=\"" +
                       feeds_[k].channel + "\" type=\"D\" begin_time=\"" +
                       infoTime(byFeed[k].begin) + "\" end_time=\"" + infoTime(byFeed[k].end) +
                       "\"/>\n";
        doc += "  </station>\n";
    }
    return doc + "</seedlink>\n";
}

bool SeedLinkServer::sendInfo(Session& s, const std::string& level) {
    const auto doc = infoDocument(level);
    if (!doc)
        return s.streaming || sendLine(s.fd, "ERROR");
    const auto records = packText(*doc);
    for (std::size_t r = 0; r < records.size(); ++r) {
        // "SLINFO *" while more follow, "SLINFO  " on the last.
        const char* header = r + 1 < records.size() ? "SLINFO *" : "SLINFO  ";
        if (!sendAll(s.fd, header, 8) || !sendAll(s.fd, records[r].data(), kRecordLength))
            return false;
    }
    return true;
}

bool SeedLinkServer::command(Session& s, const std::string& line) {
    std::istringstream words(line);
    std::string verb, a, b, c;
    words >> verb >> a >> b >> c;
    verb = upper(verb);
    if (verb.empty())
        return true;
    if (verb == "BYE")
        return false;
    if (verb == "INFO")
        return sendInfo(s, upper(a));
    if (s.streaming)
        return true; // once data flows, nothing else is heard
    using Selection = Session::Selection;
    bool ok = true;
    if (verb == "HELLO") {
        return sendLine(s.fd, "SeedLink v3.1 (Groundsway demo) :: SLPROTO:3.1") &&
               sendLine(s.fd, "Groundsway demo SeedLink server");
    } else if (verb == "STATION") {
        std::lock_guard lock(mutex_);
        const std::string network =
            b.empty() && !carried_.empty() ? stations()[carried_[0]].network : b;
        ok = carries(network, a) &&
             std::find(refused_.begin(), refused_.end(), network + "." + a) == refused_.end();
        s.current = -1;
        if (ok) {
            const auto& list = stations();
            const auto at = std::find_if(list.begin(), list.end(), [&](const Station& x) {
                return x.network == network && x.station == a;
            });
            Selection sel;
            sel.station = static_cast<std::size_t>(at - list.begin());
            s.selections.push_back(sel);
            s.current = static_cast<int>(s.selections.size()) - 1;
        }
    } else if (verb == "SELECT") {
        ok = s.current >= 0;
        if (ok) {
            Selection& sel = s.selections[static_cast<std::size_t>(s.current)];
            const Station& st = stations()[sel.station];
            std::lock_guard lock(mutex_);
            ok = std::find(refusedSelects_.begin(), refusedSelects_.end(),
                           st.network + "." + st.station + " " + a) == refusedSelects_.end();
            if (ok && a.empty())
                sel.selectors.clear();
            else if (ok)
                sel.selectors.push_back(a);
        }
    } else if (verb == "DATA" || verb == "FETCH" || verb == "TIME") {
        ok = s.current >= 0;
        if (ok) {
            Selection& sel = s.selections[static_cast<std::size_t>(s.current)];
            sel.dialUp = verb == "FETCH";
            std::string begin = b, end = c;
            if (verb == "TIME") {
                begin = a;
                end = b;
            } else if (!a.empty() && a != "-1") {
                char* stop = nullptr;
                const unsigned long seq = std::strtoul(a.c_str(), &stop, 16);
                ok = stop != a.c_str() && *stop == '\0';
                sel.from = Selection::From::Sequence;
                sel.sequence = static_cast<std::uint32_t>(seq % kSequenceModulus);
            }
            if (ok && !begin.empty()) {
                sel.begin = parseTimeArgument(begin);
                ok = sel.begin.has_value();
                if (verb == "TIME")
                    sel.from = Selection::From::Time;
            } else if (verb == "TIME") {
                ok = false;
            }
            if (ok && !end.empty()) {
                sel.end = parseTimeArgument(end);
                ok = sel.end.has_value();
            }
        }
    } else if (verb == "END") {
        s.streaming = true;
        std::lock_guard lock(mutex_);
        const std::uint64_t live = ring_.empty() ? nextSerial_ - 1 : ring_.back().serial;
        s.position = live;
        for (Selection& sel : s.selections) {
            sel.after = live;
            if (sel.from == Selection::From::Time)
                sel.after = 0;
            else if (sel.from == Selection::From::Sequence) {
                // From that packet on while the ring holds it; a number it does not know means
                // the newest data, as after a restart.
                for (const Packet& p : ring_)
                    if (p.station == sel.station && p.sequence == sel.sequence) {
                        sel.after = p.serial - 1;
                        break;
                    }
            }
            if (sel.dialUp)
                sel.until = live;
            s.position = std::min(s.position, sel.after);
        }
        return true;
    } else {
        ok = false;
    }
    return sendLine(s.fd, ok ? "OK" : "ERROR");
}

bool SeedLinkServer::sendDue(Session& s) {
    using Selection = Session::Selection;
    std::vector<Packet> due;
    bool finished = false;
    int perConnection = 0;
    {
        std::lock_guard lock(mutex_);
        perConnection = packetsPerConnection_;
        auto it = std::upper_bound(
            ring_.begin(), ring_.end(), s.position,
            [](std::uint64_t serial, const Packet& p) { return serial < p.serial; });
        for (; it != ring_.end(); ++it) {
            const Packet& p = *it;
            s.position = p.serial;
            for (const Selection& sel : s.selections) {
                if (sel.station != p.station)
                    continue;
                const bool wanted =
                    p.serial > sel.after && p.serial <= sel.until &&
                    !(sel.begin && p.end < *sel.begin) && !(sel.end && p.start > *sel.end) &&
                    (sel.selectors.empty() ||
                     std::any_of(
                         sel.selectors.begin(), sel.selectors.end(), [&](const std::string& x) {
                             return selects(x, p.location, p.channel, options_.otherLocations);
                         }));
                if (wanted)
                    due.push_back(p);
                break;
            }
        }
        // A stream with an end (a time window, or dial-up) ends once nothing more can come.
        double longest = options_.recordSeconds;
        for (const Feed& f : feeds_)
            longest = std::max(longest, 2 * f.delta + options_.recordSeconds);
        finished = !s.selections.empty() &&
                   std::all_of(s.selections.begin(), s.selections.end(), [&](const Selection& sel) {
                       if (sel.dialUp)
                           return s.position >= sel.until;
                       return sel.end && frontier_ > plus(*sel.end, longest);
                   });
    }
    for (Packet& packet : due) {
        char header[9];
        std::uint32_t seq = packet.sequence;
        if (stepBack_ > 0 && s.sentAny) {
            --stepBack_;
            seq = (s.lastSent + kSequenceModulus - 1) % kSequenceModulus;
        }
        std::snprintf(header, sizeof header, "SL%06X", seq);
        if (lie_ > 0) {
            --lie_;
            // Blockette 1000 at offset 48: its record length exponent is byte 6 of it.
            packet.record[48 + 6] = 12;
        }
        if (zero_ > 0) {
            --zero_;
            packet.record[30] = packet.record[31] = 0; // the sample count, big-endian
        }
        if (undecodable_ > 0) {
            --undecodable_;
            packet.record[48 + 4] = 30; // the encoding: SRO
        }
        if (garble_ > 0) {
            --garble_;
            const char junk[] = "<html>not SeedLink</html>";
            if (!sendAll(s.fd, junk, sizeof junk - 1))
                return false;
        }
        if (cut_ > 0) {
            --cut_;
            sendAll(s.fd, header, 8);
            sendAll(s.fd, packet.record.data(), 300);
            return false;
        }
        const int times = repeat_ > 0 && repeat_-- > 0 ? 2 : 1;
        for (int t = 0; t < times; ++t)
            if (!sendAll(s.fd, header, 8) ||
                !sendAll(s.fd, packet.record.data(), packet.record.size()))
                return false;
        s.lastSent = seq;
        s.sentAny = true;
        if (perConnection > 0 && ++s.sent >= perConnection)
            return false;
    }
    if (finished) {
        s.ended = true;
        return sendAll(s.fd, "END", 3);
    }
    return true;
}

void SeedLinkServer::serve(int fd, std::size_t connection) {
    if (log_)
        log_("SeedLink #" + std::to_string(connection + 1) + " connected");
    Session s;
    s.fd = fd;
    s.connection = connection;
    s.generation = generation_;
    Date endedAt{};
    // Reads what the client sent and acts on each complete line; false: the connection ends.
    const auto hear = [&](int waitMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return true;
        char chunk[512];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0)
            return false;
        if (n < 0)
            return true;
        {
            std::lock_guard lock(mutex_);
            received_[connection].append(chunk, static_cast<std::size_t>(n));
        }
        s.input.append(chunk, static_cast<std::size_t>(n));
        // A command ends at CR, LF or CR LF (an empty line between is no command).
        std::size_t eol;
        while ((eol = s.input.find_first_of("\r\n")) != std::string::npos) {
            const std::string line = s.input.substr(0, eol);
            s.input.erase(0, eol + 1);
            const bool wasStreaming = s.streaming;
            if (!command(s, line))
                return false;
            if (!wasStreaming && s.streaming && html_ > 0) {
                --html_;
                if (!sendLine(fd,
                              "<html><head><title>503 Service Unavailable</title></head></html>"))
                    return false;
            }
        }
        return s.input.size() <= kMaxCommandLine;
    };
    while (!stopping_ && generation_ == s.generation) {
        if (!s.streaming) {
            if (!hear(100))
                break;
            continue;
        }
        {
            std::unique_lock lock(mutex_);
            more_.wait_for(lock, milliseconds(100));
        }
        if (!hear(0))
            break;
        if (s.ended) {
            // Dial-up manners: the client closes; one that does not is let go after a while.
            if (endedAt == Date{})
                endedAt = system_clock::now();
            if (system_clock::now() - endedAt > seconds(60))
                break;
            continue;
        }
        if (silent_ || generation_ != s.generation)
            continue;
        if (!sendDue(s))
            break;
    }
    ::close(fd);
    if (log_)
        log_("SeedLink #" + std::to_string(connection + 1) + " closed");
}

} // namespace demo
