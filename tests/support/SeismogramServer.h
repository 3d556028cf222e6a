#pragma once

#include "TestServer.h"

#include <atomic>
#include <chrono>
#include <string>

// A test server that speaks the three protocols the application uses. The time-series query
// answers by station code:
//   FAIL404  an HTML "404 Not Found" page      EMPTY  an empty 200 body
//   TRUNC    a SAC body cut short               STALL  half a body, then silence
//   anything else: SAC samples for the window, sample interval by band, component = channel.
// The event and station queries answer with eventBody / stationChannelBody / stationSiteBody
// and their status codes.
class SeismogramServer : public TestServer {
public:
    SeismogramServer();
    ~SeismogramServer();

    std::string eventBody;
    int eventStatus = 200;
    std::string stationChannelBody;
    std::string stationSiteBody;
    int stationStatus = 200;

    // Requests whose path is the time-series query, in order.
    std::vector<std::string> seismogramTargets() const;

private:
    std::atomic<bool> stopping_{false};
};

// A catalogue in the FDSN event text format with the given lines after the header.
std::string eventText(std::initializer_list<std::string> lines);
