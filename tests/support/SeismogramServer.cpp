#include "SeismogramServer.h"

#include "DemoSeedLink.h"
#include "SacBytes.h"
#include "base/Time.h"
#include "base/DateText.h"
#include "components/sac/SacObject.h"

#include <QString>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace {

double bandInterval(const std::string& cha) {
    switch (cha.empty() ? ' ' : cha[0]) {
    case 'L':
        return 1.0;
    case 'U':
        return 10.0;
    case 'B':
        return 0.05;
    case 'S':
        return 0.025;
    default:
        return 1.0;
    }
}

std::optional<SacObject::Date> urlTime(const std::string& text) {
    return datetext::parseRequestTime(QString::fromStdString(text + ".0000Z"));
}

} // namespace

SeismogramServer::SeismogramServer() {
    server().Get("/fdsnws/dataselect/1/query", [this](const httplib::Request& req,
                                                      httplib::Response& res) {
        const std::string net = req.get_param_value("net"), sta = req.get_param_value("sta");
        const std::string loc = req.get_param_value("loc"), cha = req.get_param_value("cha");
        if (sta == "NODATA") {
            res.status = 204;
            return;
        }
        if (sta == "FAIL404") {
            res.status = 404;
            return;
        }
        if (sta == "ERROR") {
            res.status = 500;
            res.set_content("Error 500: Internal Server Error", "text/plain");
            return;
        }
        auto start = urlTime(req.get_param_value("starttime"));
        const auto end = urlTime(req.get_param_value("endtime"));
        if (!start || !end || !(*start < *end)) {
            res.status = 400;
            return;
        }
        Answer answer{bandInterval(cha)};
        if (tweakAnswer) {
            int number;
            {
                std::lock_guard lock(countsMutex_);
                number = ++requestsPerStation_[sta];
            }
            tweakAnswer(sta, number, answer);
        }
        if (answer.fail) {
            res.status = 404;
            return;
        }
        start = civil::addSeconds(*start, answer.shiftSeconds);
        const double delta = answer.delta;
        const auto n = static_cast<std::size_t>(
                           std::max(0.0, civil::secondsBetween(*start, *end) / delta + 1e-9)) +
                       1;
        const double first = civil::secondsBetween(civil::dateOf(2012, 6, 15, 10, 0, 0), *start);
        std::vector<float> x(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double t = first + static_cast<double>(i) * delta;
            x[i] = std::round(static_cast<float>(1000.0 * std::sin(0.7 * t) + 0.01 * t / delta));
        }
        const std::string location = loc == "--" ? std::string() : loc;
        const auto records = demo::packRecords(net, sta, location, cha, *start, delta, x, 11);
        std::string body;
        for (std::size_t i = 0; i < records.size(); ++i) {
            // GAPPY loses the records of the middle third; MIXED has records of two other
            // channels between its own.
            if (sta == "GAPPY" && 3 * i >= records.size() && 3 * i < 2 * records.size())
                continue;
            body.append(records[i].data(), records[i].size());
            if (sta == "MIXED") {
                for (const char* other : {"BHN", "LHZ"}) {
                    auto foreign = demo::packRecords(net, sta, location, other, *start, delta,
                                                     {x.begin(), x.begin() + 10}, 11);
                    body.append(foreign.front().data(), foreign.front().size());
                }
            }
        }
        if (sta == "TRUNC")
            body.resize(body.size() - 100);
        if (sta == "SPOIL" && body.size() > 512) // a record whose header is garbage
            std::memset(body.data() + 512, 0x5a, 64);
        res.set_content(body, "application/vnd.fdsn.mseed");
    });
    server().Get("/irisws/timeseries/1/query", [this](const httplib::Request& req,
                                                      httplib::Response& res) {
        const std::string sta = req.get_param_value("sta");
        const std::string cha = req.get_param_value("cha");
        const int now = ++inFlight_;
        for (int seen = maxInFlight_; now > seen && !maxInFlight_.compare_exchange_weak(seen, now);) {
        }
        struct Leave {
            std::atomic<int>& n;
            ~Leave() { --n; }
        } leave{inFlight_};
        if (answerDelay) {
            const auto until = std::chrono::steady_clock::now() +
                               std::chrono::milliseconds(answerDelay(sta));
            while (!stopping_ && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (sta == "FAIL404") {
            res.status = 404;
            res.set_content(
                "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>",
                "text/html");
            return;
        }
        if (sta == "EMPTY") {
            res.status = 200;
            return;
        }
        auto start = urlTime(req.get_param_value("start"));
        const auto end = urlTime(req.get_param_value("end"));
        Answer answer{bandInterval(cha)};
        if (tweakAnswer) {
            int number;
            {
                std::lock_guard lock(countsMutex_);
                number = ++requestsPerStation_[sta];
            }
            tweakAnswer(sta, number, answer);
        }
        if (answer.fail) {
            res.status = 404;
            return;
        }
        if (start)
            start = civil::addSeconds(*start, answer.shiftSeconds);
        const double delta = answer.delta;
        const double seconds = start && end ? civil::secondsBetween(*start, *end) : 60.0;
        const auto n = static_cast<std::size_t>(std::max(2.0, std::min(seconds / delta, 2e6))) + 1;
        std::vector<float> x(n);
        const double amplitude = 1.0 + static_cast<double>(sta.size());
        // A function of absolute time, like real data: overlapping requests agree sample for
        // sample.
        const double first =
            start ? civil::secondsBetween(civil::dateOf(2012, 6, 15, 10, 0, 0), *start) : 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = first + static_cast<double>(i) * delta;
            x[i] = static_cast<float>(amplitude * std::sin(0.7 * t) + 0.01 * t / delta);
        }
        if (sta == "HUGE") // ten times the samples the window calls for
            x.resize(10 * n, 1.0f);
        if (sta == "NANS")
            x[n / 2] = std::numeric_limits<float>::quiet_NaN();
        QByteArray body = sacBytes(x, delta, start.value_or(SacObject::Date{}), cha);
        if (sta == "TRUNC")
            body.chop(100);
        // A header whose B (word 5) or DELTA (word 0) is absurd.
        const float absurd = 1e30f;
        if (sta == "FARB")
            std::memcpy(body.data() + 20, &absurd, 4);
        if (sta == "WIDE")
            std::memcpy(body.data(), &absurd, 4);
        if (sta == "DRIP") { // two bytes a second, for ever
            const std::string whole = body.toStdString();
            ++dripsStarted_;
            ++dripsOpen_;
            res.set_chunked_content_provider(
                "application/octet-stream",
                [this, whole](std::size_t offset, httplib::DataSink& sink) {
                    if (stopping_ || offset >= whole.size() || !sink.write(whole.data() + offset, 2))
                        return false;
                    for (int i = 0; i < 20 && !stopping_; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    return true;
                },
                [this](bool) { --dripsOpen_; });
            return;
        }
        if (sta == "STALL") {
            const std::string half = body.left(body.size() / 2).toStdString();
            res.set_chunked_content_provider(
                "application/octet-stream",
                [this, half](std::size_t offset, httplib::DataSink& sink) {
                    if (offset == 0) {
                        sink.write(half.data(), half.size());
                        return true;
                    }
                    for (int i = 0; i < 80 && !stopping_; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    sink.done();
                    return true;
                });
            return;
        }
        res.set_content(body.toStdString(), "application/octet-stream");
    });
    server().Get("/fdsnws/event/1/query", [this](const httplib::Request&, httplib::Response& res) {
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(eventDelayMs.load());
        while (!stopping_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        res.status = eventStatus;
        if (eventStatus != 204)
            res.set_content(eventBody, "text/plain");
    });
    server().Get("/fdsnws/station/1/query",
                 [this](const httplib::Request& req, httplib::Response& res) {
                     res.status = stationStatus;
                     if (stationStatus == 204)
                         return;
                     res.set_content(req.get_param_value("level") == "station" ? stationSiteBody
                                                                               : stationChannelBody,
                                     "text/plain");
                 });
}

SeismogramServer::~SeismogramServer() {
    stopping_ = true;
    stop();
}

std::vector<std::string> SeismogramServer::seismogramTargets() const {
    std::vector<std::string> out;
    for (const Request& r : requests())
        if (r.path == "/irisws/timeseries/1/query")
            out.push_back(r.target);
    return out;
}

std::vector<std::string> SeismogramServer::dataselectTargets() const {
    std::vector<std::string> out;
    for (const Request& r : requests())
        if (r.path == "/fdsnws/dataselect/1/query")
            out.push_back(r.target);
    return out;
}

std::string eventText(std::initializer_list<std::string> lines) {
    std::string text =
        "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|"
        "MagType|Magnitude|MagAuthor|EventLocationName\n";
    for (const std::string& l : lines)
        text += l + "\n";
    return text;
}
