#pragma once

#include "DemoWorld.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace demo {

// The demo service's HTTP side: the time-series and FDSN dataselect (Steim-2 miniSEED) queries,
// the FDSN event and station text queries, and small event and status pages, answered as the
// public services answer them.
class DemoService {
public:
    // `log` receives one line per request once answered: "#" and the request's arrival number,
    // the status, the target, and the User-Agent in quotes.
    explicit DemoService(Date start, std::function<void(const std::string&)> log = {});
    ~DemoService();
    DemoService(const DemoService&) = delete;
    DemoService& operator=(const DemoService&) = delete;

    httplib::Server& server() { return *server_; }
    // Station codes DRIP, STALL, HUGE, NANS, FARB, WIDE and JUNK answer like a broken or hostile
    // service: two bytes a second, half a body then silence, ten times the samples asked for, a
    // sample that is not a number, an absurd B or DELTA, bytes that are no SAC. For soak tests.
    void setHostile(bool on) { hostile_ = on; }
    // Every time-series answer waits this long first, like a far or busy service.
    void setLatency(std::chrono::milliseconds latency) {
        latencyMs_ = static_cast<int>(latency.count());
    }
    const std::vector<Quake>& quakes() const { return quakes_; }

private:
    std::unique_ptr<httplib::Server> server_;
    std::vector<Quake> quakes_;
    std::atomic<std::uint64_t> arrivals_{0};
    std::atomic<int> latencyMs_{0};
    std::atomic<bool> hostile_{false};
};

// "yyyy-MM-ddTHH:mm:ss" with an optional fraction (any length) and optional "Z"; or
// "yyyy-MM-dd". Nothing for anything else.
std::optional<Date> parseServiceTime(const std::string& text);

} // namespace demo
