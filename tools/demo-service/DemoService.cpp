#include "DemoService.h"

#include "DemoSeedLink.h"

#include "base/Time.h"

#include <httplib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <thread>

namespace demo {

namespace {

constexpr std::size_t kMaxSamples = 4'000'000; // beyond this, "413 too much data"

void error(httplib::Response& res, int status, const std::string& title, const std::string& detail,
           const httplib::Request& req) {
    // The FDSN error body.
    res.status = status;
    res.set_content("Error " + std::to_string(status) + ": " + title + "\n\n" + detail +
                        "\n\nUsage details are available from /irisws/timeseries/1/\n\nRequest:\n" +
                        req.target + "\n\nService version:\ndemo 1.0\n",
                    "text/plain");
}

std::string timeText(Date t, bool fraction) {
    const civil::Fields f = civil::fieldsOf(t);
    char buf[64];
    if (fraction)
        std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d.%03lld",
                      static_cast<long long>(f.year), f.month, f.day, f.hour, f.minute, f.second,
                      static_cast<long long>(f.nanosecond / 1'000'000));
    else
        std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d",
                      static_cast<long long>(f.year), f.month, f.day, f.hour, f.minute, f.second);
    return buf;
}

std::string param(const httplib::Request& req, const char* name, const char* alias = nullptr) {
    if (req.has_param(name))
        return req.get_param_value(name);
    return alias && req.has_param(alias) ? req.get_param_value(alias) : std::string();
}

// "--" and blanks mean the empty location code.
std::string location(const std::string& loc) {
    return loc == "--" || loc == "  " ? std::string() : loc;
}

// IRIS virtual networks: only the one the demo's finder default names.
bool networkMatches(const std::string& pattern, const std::string& network) {
    if (pattern == "_US-TA" || pattern == "_US-ALL")
        return network == "TA";
    return matches(pattern, network);
}

std::optional<double> decimal(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double v;
    if (!(in >> v) || !in.eof() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

void timeSeries(const httplib::Request& req, httplib::Response& res,
                const std::vector<Quake>& quakes) {
    const std::string net = param(req, "net", "network"), sta = param(req, "sta", "station");
    const std::string loc = location(param(req, "loc", "location")),
                      cha = param(req, "cha", "channel");
    const std::string output = param(req, "output", "format");
    if (net.empty() || sta.empty() || cha.empty() ||
        !(req.has_param("loc") || req.has_param("location")))
        return error(res, 400, "Bad Request", "net, sta, loc and cha are all required.", req);
    if (output != "sacbl")
        return error(res, 400, "Bad Request", "This demo speaks output=sacbl only.", req);
    const auto start = parseServiceTime(param(req, "start", "starttime"));
    auto end = parseServiceTime(param(req, "end", "endtime"));
    if (!start || !end)
        return error(res, 400, "Bad Request",
                     "start and end must be times like 2012-06-15T10:00:00.", req);
    if (!(*start < *end))
        return error(res, 400, "Bad Request", "The end time must be after the start time.", req);
    // Nothing has been recorded yet after this moment.
    end = std::min(*end, std::chrono::system_clock::now());
    for (const Station& s : stations()) {
        if (s.network != net || s.station != sta || s.location != loc)
            continue;
        if (std::find(s.channels.begin(), s.channels.end(), cha) == s.channels.end() ||
            !(*start < *end))
            break;
        double delta = *sampleInterval(cha);
        if (req.has_param("deci")) {
            const auto rate = decimal(req.get_param_value("deci"));
            if (!rate || *rate <= 0 || 1.0 / *rate < delta)
                return error(res, 400, "Bad Request",
                             "deci must be a sample rate below the channel's.", req);
            delta = 1.0 / *rate;
        }
        if (civil::secondsBetween(*start, *end) / delta > static_cast<double>(kMaxSamples))
            return error(res, 413, "Request Entity Too Large", "Ask for a shorter window.", req);
        const auto bytes = sacFile(s, cha, *start, *end, delta, quakes);
        res.set_content(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        "application/octet-stream");
        return;
    }
    res.status = 204; // no data, the FDSN default
}

// The FDSN dataselect query: Steim-2 miniSEED records of 512 bytes, the window's samples on the
// same grid as the time-series answer's, so both sources draw the same trace.
void dataselect(const httplib::Request& req, httplib::Response& res,
                const std::vector<Quake>& quakes) {
    const std::string net = param(req, "net", "network"), sta = param(req, "sta", "station");
    const std::string loc = location(param(req, "loc", "location")),
                      cha = param(req, "cha", "channel");
    if (net.empty() || sta.empty() || cha.empty())
        return error(res, 400, "Bad Request", "net, sta and cha are all required.", req);
    if (const std::string format = param(req, "format"); !format.empty() && format != "miniseed")
        return error(res, 400, "Bad Request", "This demo speaks format=miniseed only.", req);
    const auto start = parseServiceTime(param(req, "starttime", "start"));
    auto end = parseServiceTime(param(req, "endtime", "end"));
    if (!start || !end)
        return error(res, 400, "Bad Request",
                     "starttime and endtime must be times like 2012-06-15T10:00:00.", req);
    if (!(*start < *end))
        return error(res, 400, "Bad Request", "The end time must be after the start time.", req);
    end = std::min(*end, std::chrono::system_clock::now());
    for (const Station& s : stations()) {
        if (s.network != net || s.station != sta || s.location != loc)
            continue;
        if (std::find(s.channels.begin(), s.channels.end(), cha) == s.channels.end() ||
            !(*start < *end))
            break;
        const double delta = *sampleInterval(cha);
        const double span = civil::secondsBetween(*start, *end);
        if (span / delta > static_cast<double>(kMaxSamples))
            return error(res, 413, "Request Entity Too Large", "Ask for a shorter window.", req);
        const auto count = static_cast<std::size_t>(std::floor(span / delta + 1e-9)) + 1;
        const auto records =
            packRecords(s.network, s.station, s.location, cha, *start, delta,
                        seismogram(s, cha, *start, count, delta, quakes), 11 /* DE_STEIM2 */);
        std::string body;
        body.reserve(records.size() * 512);
        for (const auto& r : records)
            body.append(r.data(), r.size());
        res.set_content(body, "application/vnd.fdsn.mseed");
        return;
    }
    res.status = 204;
}

// The hostile stations' answers; false for any other station.
bool hostileAnswer(const httplib::Request& req, httplib::Response& res,
                   const std::vector<Quake>& quakes) {
    const std::string sta = param(req, "sta", "station");
    static const std::vector<std::string> names = {"DRIP", "STALL", "HUGE", "NANS",
                                                   "FARB", "WIDE",  "JUNK"};
    if (std::find(names.begin(), names.end(), sta) == names.end())
        return false;
    const auto start = parseServiceTime(param(req, "start", "starttime"));
    const auto end = parseServiceTime(param(req, "end", "endtime"));
    if (!start || !end || !(*start < *end)) {
        error(res, 400, "Bad Request", "start and end must be times.", req);
        return true;
    }
    const Station& like = stations().front();
    const double delta = 0.05;
    const Date stretchedEnd =
        sta == "HUGE" ? civil::addSeconds(*start, 10 * civil::secondsBetween(*start, *end)) : *end;
    std::vector<std::byte> bytes = sacFile(like, "BHZ", *start, stretchedEnd, delta, quakes);
    const float absurd = 1e30f;
    const float notANumber = std::numeric_limits<float>::quiet_NaN();
    if (sta == "FARB")
        std::memcpy(bytes.data() + 20, &absurd, 4);
    if (sta == "WIDE")
        std::memcpy(bytes.data(), &absurd, 4);
    if (sta == "NANS" && bytes.size() > 640)
        std::memcpy(bytes.data() + 636, &notANumber, 4);
    if (sta == "JUNK")
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::byte>((i * 2654435761u) >> 13);
    std::string body(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (sta == "DRIP" || sta == "STALL") {
        const bool drip = sta == "DRIP";
        res.set_chunked_content_provider(
            "application/octet-stream",
            [body = std::move(body), drip](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= body.size())
                    return false;
                const std::size_t n = drip ? 2 : body.size() / 2;
                if (!sink.write(body.data() + offset, std::min(n, body.size() - offset)))
                    return false;
                // A second between drops; a minute of silence after half a body.
                for (int i = 0; i < (drip ? 10 : 600) && sink.is_writable(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                return sink.is_writable() && drip;
            });
        return true;
    }
    res.set_content(body, "application/octet-stream");
    return true;
}

void events(const httplib::Request& req, httplib::Response& res, const std::vector<Quake>& quakes) {
    if (param(req, "format") != "text")
        return error(res, 400, "Bad Request", "This demo speaks format=text only.", req);
    double minimum = -10;
    if (const std::string m = param(req, "minmagnitude", "minmag"); !m.empty()) {
        const auto v = decimal(m);
        if (!v)
            return error(res, 400, "Bad Request", "minmagnitude must be a number.", req);
        minimum = *v;
    }
    std::optional<Date> since;
    if (const std::string t = param(req, "starttime", "start"); !t.empty()) {
        since = parseServiceTime(t);
        if (!since)
            return error(res, 400, "Bad Request",
                         "starttime must be a time like 2012-06-15T10:00:00.", req);
    }
    std::string body =
        "#EventID|Time|Latitude|Longitude|Depth/km|Author|Catalog|Contributor|ContributorID|"
        "MagType|Magnitude|MagAuthor|EventLocationName\n";
    char line[512];
    for (const Quake& q : quakes) {
        if (q.magnitude < minimum || (since && q.origin < *since))
            continue;
        std::snprintf(line, sizeof line, "%s|%s|%.4f|%.4f|%.1f|demo|demo|demo|%s|%s|%.1f|demo|%s\n",
                      q.id.c_str(), timeText(q.origin, true).c_str(), q.latitude, q.longitude,
                      q.depthKm, q.id.c_str(), q.magnitudeType.c_str(), q.magnitude,
                      q.region.c_str());
        body += line;
    }
    // Like the USGS service: a header alone when nothing matches.
    res.set_content(body, "text/plain");
}

void inventory(const httplib::Request& req, httplib::Response& res) {
    const std::string level = param(req, "level").empty() ? "station" : param(req, "level");
    if (param(req, "format") != "text" || (level != "station" && level != "channel"))
        return error(res, 400, "Bad Request",
                     "This demo speaks format=text at level=station or channel.", req);
    const std::string net = param(req, "net", "network"), sta = param(req, "sta", "station");
    const std::string loc = param(req, "loc", "location"), cha = param(req, "cha", "channel");
    std::string body =
        level == "station"
            ? "#Network|Station|Latitude|Longitude|Elevation|SiteName|StartTime|EndTime\n"
            : "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
              "SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n";
    bool any = false;
    char line[512];
    for (const Station& s : stations()) {
        if (!networkMatches(net, s.network) || !matches(sta, s.station))
            continue;
        if (level == "station") {
            std::snprintf(line, sizeof line, "%s|%s|%.4f|%.4f|%.1f|%s|2000-01-01T00:00:00|\n",
                          s.network.c_str(), s.station.c_str(), s.latitude, s.longitude,
                          s.elevation, s.siteName.c_str());
            body += line;
            any = true;
            continue;
        }
        // A blank location is asked for as "--".
        const std::string shownLoc = s.location.empty() ? "--" : s.location;
        if (!matches(loc, shownLoc))
            continue;
        for (const std::string& c : s.channels) {
            if (!matches(cha, c))
                continue;
            const double rate = 1.0 / *sampleInterval(c);
            std::snprintf(line, sizeof line,
                          "%s|%s|%s|%s|%.4f|%.4f|%.1f|0.0|%.1f|%.1f|Demo broadband "
                          "seismometer|1.0E9|1.0|M/S|%g|"
                          "2000-01-01T00:00:00|\n",
                          s.network.c_str(), s.station.c_str(), s.location.c_str(), c.c_str(),
                          s.latitude, s.longitude, s.elevation, c.back() == 'E' ? 90.0 : 0.0,
                          c.back() == 'Z' ? -90.0 : 0.0, rate);
            body += line;
            any = true;
        }
    }
    if (!any) {
        res.status = 204;
        return;
    }
    res.set_content(body, "text/plain");
}

// The arrival number of the request this thread is answering.
thread_local std::uint64_t arrival = 0;

} // namespace

DemoService::DemoService(Date start, std::function<void(const std::string&)> log)
    : server_(std::make_unique<httplib::Server>()), quakes_(catalogue(start)) {
    httplib::Server& s = *server_;
    s.Get("/irisws/timeseries/1/query",
          [this](const httplib::Request& req, httplib::Response& res) {
              if (const int ms = latencyMs_.load(); ms > 0)
                  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
              if (!(hostile_ && hostileAnswer(req, res, quakes_)))
                  timeSeries(req, res, quakes_);
          });
    s.Get("/fdsnws/dataselect/1/query",
          [this](const httplib::Request& req, httplib::Response& res) {
              if (const int ms = latencyMs_.load(); ms > 0)
                  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
              dataselect(req, res, quakes_);
          });
    s.Get("/fdsnws/event/1/query", [this](const httplib::Request& req, httplib::Response& res) {
        events(req, res, quakes_);
    });
    s.Get("/fdsnws/station/1/query",
          [](const httplib::Request& req, httplib::Response& res) { inventory(req, res); });
    s.Get(R"(/earthquakes/eventpage/([A-Za-z0-9]+))", [this](const httplib::Request& req,
                                                             httplib::Response& res) {
        for (const Quake& q : quakes_) {
            if (q.id != req.matches[1])
                continue;
            char page[1024];
            std::snprintf(
                page, sizeof page,
                "<html><head><title>M %.1f - %s</title></head><body><h1>M %.1f - %s</h1>"
                "<p>%s UTC, %.3f&deg; %.3f&deg;, depth %.1f km</p><p>A made-up earthquake of the "
                "Groundsway demo service.</p></body></html>",
                q.magnitude, q.region.c_str(), q.magnitude, q.region.c_str(),
                timeText(q.origin, false).c_str(), q.latitude, q.longitude, q.depthKm);
            res.set_content(page, "text/html");
            return;
        }
        res.status = 404;
        res.set_content("<html><body>No such event.</body></html>", "text/html");
    });
    s.Get("/tamsy/Check", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(
            "<html><body><h1>Demo service</h1><p>All services are running.</p></body></html>",
            "text/html");
    });
    if (log) {
        // Requests are answered on several threads and logged once answered, so a line can
        // overtake an earlier request's; each carries the number of its arrival.
        s.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
            arrival = ++arrivals_;
            return httplib::Server::HandlerResponse::Unhandled;
        });
        s.set_logger([log](const httplib::Request& req, const httplib::Response& res) {
            // Appended piece by piece: GCC 12 sees a false overlap (-Wrestrict) in a chain of +.
            std::string line = "#";
            line.append(std::to_string(arrival)).append(" ").append(std::to_string(res.status));
            line.append(" ").append(req.target).append(" \"");
            line.append(req.get_header_value("User-Agent")).append("\"");
            log(line);
        });
    }
}

DemoService::~DemoService() = default;

std::optional<Date> parseServiceTime(const std::string& text) {
    int y, mo, d, h = 0, mi = 0, s = 0;
    char rest[64] = {};
    const int n =
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%63s", &y, &mo, &d, &h, &mi, &s, rest);
    if (n == 3 && text.size() == 10) {
        h = mi = s = 0;
    } else if (n < 6) {
        return std::nullopt;
    }
    std::int64_t nanos = 0;
    std::string r(rest);
    if (!r.empty()) {
        if (r == "Z")
            r.clear();
        else if (r[0] == '.') {
            std::int64_t scale = 100'000'000;
            std::size_t k = 1;
            for (; k < r.size() && std::isdigit(static_cast<unsigned char>(r[k])); ++k, scale /= 10)
                nanos += (r[k] - '0') * scale;
            if (k == 1 || (k < r.size() && !(k + 1 == r.size() && r[k] == 'Z')))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (mo < 1 || mo > 12 || d < 1 || d > civil::daysInMonth(y, mo) || h > 23 || mi > 59 ||
        s > 59 || y < 1900 || y > 2200)
        return std::nullopt;
    return civil::dateOf(y, mo, d, h, mi, s, nanos);
}

} // namespace demo
