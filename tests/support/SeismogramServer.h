#pragma once

#include "TestServer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

// A test server that speaks the three protocols the application uses. The time-series query
// answers by station code:
//   FAIL404  an HTML "404 Not Found" page      EMPTY  an empty 200 body
//   TRUNC    a SAC body cut short               STALL  half a body, then silence
//   DRIP     two bytes a second, for ever       HUGE   ten times the samples the window holds
//   NANS     one sample not a number            FARB   B = 1e30    WIDE   DELTA = 1e30
//   anything else: SAC samples for the window, sample interval by band, component = channel.
// The event and station queries answer with eventBody / stationChannelBody / stationSiteBody
// and their status codes.
class SeismogramServer : public TestServer {
public:
    SeismogramServer();
    ~SeismogramServer();

    std::string eventBody;
    int eventStatus = 200;
    std::atomic<int> eventDelayMs{0}; // before the event answer is sent
    std::string stationChannelBody;
    std::string stationSiteBody;
    int stationStatus = 200;

    // Requests whose path is the time-series query, in order.
    std::vector<std::string> seismogramTargets() const;
    // And the dataselect query, which answers Steim-2 miniSEED by station code:
    //   NODATA  204      FAIL404  404      ERROR  a 500 error page
    //   GAPPY   the middle third of the records left out (one gap)
    //   MIXED   records of BHN and LHZ between the channel's own
    //   TRUNC   the last record cut short   SPOIL  the second record's header is garbage
    //   anything else: the window's samples (tweakAnswer applies as for the time series).
    std::vector<std::string> dataselectTargets() const;

    // How long each time-series answer waits before it is sent, in milliseconds, by station
    // code (set before start()); nothing: no wait.
    std::function<int(const std::string& station)> answerDelay;
    // Changes one time-series answer before it is made, by station code and the number of the
    // request for that station (1 for the first): the sample interval, a shift of the first
    // sample after the requested start (a gap), or a 404 instead of data. Set before start().
    struct Answer {
        double delta;
        double shiftSeconds = 0;
        bool fail = false;
    };
    std::function<void(const std::string& station, int number, Answer& answer)> tweakAnswer;
    // Time-series answers being prepared now, and the most there ever were at once.
    int inFlight() const { return inFlight_; }
    int maxInFlight() const { return maxInFlight_; }
    // DRIP answers begun, and those still being sent (one ends when its client goes away).
    int dripsStarted() const { return dripsStarted_; }
    int dripsOpen() const { return dripsOpen_; }

private:
    std::atomic<bool> stopping_{false};
    std::atomic<int> inFlight_{0}, maxInFlight_{0};
    std::atomic<int> dripsStarted_{0}, dripsOpen_{0};
    std::mutex countsMutex_;
    std::map<std::string, int> requestsPerStation_;
};

// A catalogue in the FDSN event text format with the given lines after the header.
std::string eventText(std::initializer_list<std::string> lines);
