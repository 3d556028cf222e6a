// groundsway-demo-service: a stand-in for the public services on 127.0.0.1, so Groundsway shows
// real-looking work on a machine without a network.
//
//   groundsway-demo-service [--port N] [--latency MS] [--seedlink-...]   (--help for more)
//
// The first line on standard output names the address; then one line per request.
#include "DemoSeedLink.h"
#include "DemoService.h"

#include <httplib.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

const char* const kUsage =
    "Usage: groundsway-demo-service [--port N] [--seedlink-port N] [--latency MS] [--hostile]\n"
    "                               [--seedlink-drop-after SECONDS]\n"
    "                               [--seedlink-channels N] [--seedlink-rate R]\n"
    "                               [--seedlink-stations NET.STA,...]\n"
    "                               [--seedlink-channel-list FILE]\n"
    "Serves made-up seismograms, earthquakes and stations on 127.0.0.1, the way the public\n"
    "services Groundsway uses answer, and streams the same seismograms by SeedLink, so it can\n"
    "run without a network.\n\n"
    "Options:\n"
    "  --port N        the port to listen on; 0 picks a free one (default 8765)\n"
    "  --seedlink-port N\n"
    "                  the SeedLink port; 0 picks a free one (default 18000)\n"
    "  --latency MS    wait this long before each seismogram answer (default 0)\n"
    "  --hostile       stations DRIP, STALL, HUGE, NANS, FARB, WIDE and JUNK answer like a\n"
    "                  broken or hostile service\n"
    "  --seedlink-drop-after SECONDS\n"
    "                  each SeedLink channel loses exactly one record: the first one made\n"
    "                  SECONDS or more after the service started (a gap per channel)\n"
    "  --seedlink-channels N\n"
    "                  stream N channels (1 to 10000) in all, spread over the stations in\n"
    "                  turn (HHZ, HHN, HHE, then made-up codes of band H), in records of\n"
    "                  about 4 s, two minutes of them held for TIME requests; the\n"
    "                  time-series service does not know these channels\n"
    "  --seedlink-rate R\n"
    "                  every SeedLink channel at R samples per second (0.1 to 1000)\n"
    "  --seedlink-stations NET.STA,...\n"
    "                  the SeedLink server carries these stations only (two services can\n"
    "                  then stand for two servers, each with part of a list)\n"
    "  --seedlink-channel-list FILE\n"
    "                  write the channels the SeedLink server streams to FILE as a channel\n"
    "                  list Groundsway opens (with --seedlink-channels: all N of them)\n"
    "  -h, --help      show this help and exit\n"
    "  -v, --version   show the version and exit\n"
    "\n"
    "Exit status: 0 when stopped by SIGTERM or SIGINT, 1 when a port cannot be bound, 2 for a\n"
    "mistake on the command line.\n";

// A whole number in [low, high], or nothing.
std::optional<long> number(const char* text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < low || v > high)
        return std::nullopt;
    return v;
}

// A finite decimal number, or nothing.
std::optional<double> decimal(const char* text) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v))
        return std::nullopt;
    return v;
}

int usageError(const std::string& why) {
    std::fprintf(stderr, "groundsway-demo-service: %s\nTry 'groundsway-demo-service --help'.\n",
                 why.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int port = 8765;
    int seedLinkPort = 18000;
    long latencyMs = 0;
    bool hostile = false;
    std::string channelListFile;
    demo::SeedLinkServer::Options seedLinkOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-v") {
            std::printf("groundsway-demo-service %s\n", GROUNDSWAY_VERSION);
            return 0;
        }
        if (arg == "--hostile") {
            hostile = true;
            continue;
        }
        if (arg == "--port" || arg == "--seedlink-port" || arg == "--latency") {
            if (i + 1 >= argc)
                return usageError("Missing value after '" + arg + "'.");
            const bool isPort = arg != "--latency";
            const std::string value = argv[++i];
            const auto v =
                isPort ? number(value.c_str(), 0, 65535) : number(value.c_str(), 0, 600000);
            if (!v)
                return usageError(
                    "'" + arg + "' needs " +
                    (isPort ? "a port from 0 to 65535" : "milliseconds from 0 to 600000") +
                    ", not '" + value + "'.");
            if (arg == "--port")
                port = static_cast<int>(*v);
            else if (arg == "--seedlink-port")
                seedLinkPort = static_cast<int>(*v);
            else
                latencyMs = *v;
            continue;
        }
        if (arg == "--seedlink-channel-list") {
            if (i + 1 >= argc)
                return usageError("Missing value after '" + arg + "'.");
            channelListFile = argv[++i];
            continue;
        }
        if (arg == "--seedlink-stations") {
            if (i + 1 >= argc)
                return usageError("Missing value after '" + arg + "'.");
            const std::string list = argv[++i];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                if (comma > at)
                    seedLinkOptions.only.push_back(list.substr(at, comma - at));
                at = comma + 1;
            }
            if (seedLinkOptions.only.empty())
                return usageError(
                    "'--seedlink-stations' needs stations like IU.ANMO,IU.COLA, not '" + list +
                    "'.");
            continue;
        }
        if (arg == "--seedlink-drop-after" || arg == "--seedlink-channels" ||
            arg == "--seedlink-rate") {
            if (i + 1 >= argc)
                return usageError("Missing value after '" + arg + "'.");
            const std::string value = argv[++i];
            const std::optional<double> v = decimal(value.c_str());
            const std::string typed = ", not '" + value + "'.";
            if (arg == "--seedlink-drop-after") {
                if (!v || *v < 0 || *v > 86400)
                    return usageError("'--seedlink-drop-after' needs seconds from 0 to 86400" +
                                      typed);
                seedLinkOptions.dropAfter = *v;
            } else if (arg == "--seedlink-channels") {
                if (!v || *v < 1 || *v > 10000 || *v != std::floor(*v))
                    return usageError("'--seedlink-channels' needs a whole number from 1 to 10000" +
                                      typed);
                seedLinkOptions.channelCount = static_cast<int>(*v);
                seedLinkOptions.recordSeconds = 4;
                seedLinkOptions.backlog =
                    std::chrono::seconds(120); // starts in seconds, not minutes
            } else {
                if (!v || *v < 0.1 || *v > 1000)
                    return usageError(
                        "'--seedlink-rate' needs samples per second from 0.1 to 1000" + typed);
                seedLinkOptions.rate = *v;
            }
            continue;
        }
        return usageError((arg.starts_with('-') ? "Unknown option '" : "Unexpected argument '") +
                          arg + "'.");
    }

    // Signals are taken by one thread that stops the server; the others never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::mutex out;
    demo::DemoService service(std::chrono::system_clock::now(), [&out](const std::string& line) {
        std::lock_guard lock(out);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    service.setLatency(std::chrono::milliseconds(latencyMs));
    service.setHostile(hostile);
    httplib::Server& server = service.server();
    const bool bound = port == 0 ? (port = server.bind_to_any_port("127.0.0.1")) > 0
                                 : server.bind_to_port("127.0.0.1", port);
    if (!bound) {
        std::fprintf(stderr, "groundsway-demo-service: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    demo::SeedLinkServer seedLink(std::chrono::system_clock::now(), service.quakes(),
                                  seedLinkOptions, [&out](const std::string& line) {
                                      std::lock_guard lock(out);
                                      std::printf("%s\n", line.c_str());
                                      std::fflush(stdout);
                                  });
    if (!channelListFile.empty()) {
        std::ofstream list(channelListFile);
        list << seedLink.channelList("Demo SeedLink channels");
        if (!list) {
            std::fprintf(stderr, "groundsway-demo-service: cannot write %s\n",
                         channelListFile.c_str());
            return 1;
        }
    }
    if (!seedLink.start(seedLinkPort)) {
        std::fprintf(stderr, "groundsway-demo-service: cannot listen on 127.0.0.1:%d\n",
                     seedLinkPort);
        return 1;
    }
    {
        std::lock_guard lock(out);
        std::printf("Groundsway demo service listening on http://127.0.0.1:%d\n", port);
        std::printf("SeedLink on 127.0.0.1:%d\n", seedLink.port());
        std::fflush(stdout);
    }
    std::thread stopper([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server.stop();
    });
    server.listen_after_bind();
    stopper.join();
    return 0;
}
