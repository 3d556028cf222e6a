// groundsway-sac: the seismogram object's operations on SAC files, in batch.
//
//   groundsway-sac IN.sac [OPERATION...] [-o OUT.sac]      (--help for the operations)
//
// Operations run in the order given. OUT.sac is little-endian SAC with NPTS, DELTA, B, E and the
// extrema brought up to date; --rms prints "rms VALUE" at that point.
#include "components/sac/SacHeader.h"
#include "components/sac/SacObject.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A SAC file's samples are 4-byte words counted by NPTS (twice that for an unevenly spaced or
// spectral file), and a version 7 file ends with a footer; more than that beyond the header is
// no SAC file, whatever it holds. Nothing larger than this is read at all.
constexpr std::uintmax_t kMaxInputBytes = std::uintmax_t{2} << 30;
constexpr std::uintmax_t kSlackBytes = 64 * 1024;

const char* const kUsage =
    "Usage: groundsway-sac IN.sac [OPERATION...] [-o OUT.sac]\n"
    "Runs Groundsway's processing operations on a SAC file (either byte order), in the order\n"
    "given, and writes the result as little-endian SAC.\n"
    "\n"
    "Operations:\n"
    "  --rtrend               remove the linear trend\n"
    "  --rmean                remove the mean\n"
    "  --taper W              a Hanning taper over the fraction W (above 0, at most 0.5) of the\n"
    "                         trace at each end\n"
    "  --lowpass FC NP NPASS  Butterworth low-pass: corner FC in Hz (above 0 and below the\n"
    "                         Nyquist frequency), NP poles (1 to 10), NPASS passes (1, or 2 for\n"
    "                         zero phase)\n"
    "  --highpass FC NP NPASS Butterworth high-pass, the same way\n"
    "  --instrument 1|2       the WWSSN long-period (1) or short-period (2) seismograph\n"
    "  --decimate N           keep every N-th sample (2 to 1000) after an anti-alias filter\n"
    "  --integrate            trapezoidal integration\n"
    "  --scale F              multiply every sample by F\n"
    "  --rms                  print \"rms VALUE\", the root mean square at that point, in the\n"
    "                         file's amplitude units\n"
    "\n"
    "Options:\n"
    "  -o OUT.sac             write the result to OUT.sac\n"
    "  -h, --help             show this help and exit\n"
    "  -v, --version          show the version and exit\n"
    "\n"
    "Exit status: 0 on success; 1 when IN.sac cannot be read or is no SAC file, or OUT.sac\n"
    "cannot be written; 2 for a mistake on the command line or a value that makes no sense for\n"
    "this file (a corner at or above its Nyquist frequency, a result that is not a finite\n"
    "number, an input that is not a regular file or is larger than its header accounts for).\n";

// A mistake of the command line or of the values for this file: said, exit 2.
int refuse(const std::string& why) {
    std::fprintf(stderr, "groundsway-sac: %s\nTry 'groundsway-sac --help'.\n", why.c_str());
    return 2;
}

// The work could not be done: said, exit 1.
int fail(const std::string& why) {
    std::fprintf(stderr, "groundsway-sac: %s\n", why.c_str());
    return 1;
}

template <class T> std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if constexpr (std::is_floating_point_v<T>)
        if (!std::isfinite(value))
            return std::nullopt;
    return value;
}

// Six significant digits and no trailing zeros, never localised.
std::string decimal(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string inQuotes(std::string_view s) {
    return "'" + std::string(s) + "'";
}

const char* kindOf(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory:
        return "a directory";
    case fs::file_type::fifo:
        return "a pipe";
    case fs::file_type::socket:
        return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
        return "a device";
    default:
        return "not a regular file";
    }
}

// What reading the input came to.
struct Input {
    std::vector<std::byte> bytes;
    int exitCode = 0; // 0: read; else refused (2) or failed (1)
    std::string why;
};

// The header first, then only the bytes it accounts for: a huge or endless file is refused by
// its size, a FIFO or a directory before anything is read.
Input readInput(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st))
        return {{}, 1, "cannot read " + path + ": " + (ec ? ec.message() : "no such file")};
    if (!fs::is_regular_file(st))
        return {{}, 2, path + " is " + kindOf(st.type()) + ", not a SAC file"};
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        return {{}, 1, "cannot read " + path + ": " + ec.message()};
    if (size > kMaxInputBytes)
        return {{},
                2,
                path + " holds " + std::to_string(size) +
                    " bytes, more than the 2 GiB a SAC file can hold"};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {{}, 1, "cannot read " + path + ": " + std::strerror(errno)};
    std::vector<std::byte> bytes(
        static_cast<std::size_t>(std::min<std::uintmax_t>(size, sac::kHeaderBytes)));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        return {{}, 1, "cannot read " + path + ": read error"};
    const auto header = sac::SacHeader::decode(bytes);
    if (!header)
        return {{}, 1, path + " is not a SAC file (no valid header)"};
    const auto npts = static_cast<std::uintmax_t>(std::max(0, header->getInt(sac::word::NPTS)));
    const std::uintmax_t most = sac::kHeaderBytes + 8 * npts + sac::kFooterBytesV7 + kSlackBytes;
    if (size > most)
        return {{},
                2,
                path + " holds " + std::to_string(size) + " bytes, far more than the " +
                    std::to_string(npts) + " samples its header declares; it is not read"};
    bytes.resize(static_cast<std::size_t>(size));
    if (size > sac::kHeaderBytes &&
        !in.read(reinterpret_cast<char*>(bytes.data() + sac::kHeaderBytes),
                 static_cast<std::streamsize>(size - sac::kHeaderBytes)))
        return {{}, 1, "cannot read " + path + ": read error"};
    return {std::move(bytes), 0, {}};
}

struct Step {
    std::string what; // as typed, for messages
    std::function<void(SacObject&)> run;
    double lowPassCorner = 0, highPassCorner = 0; // checked against the file's Nyquist frequency
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (const std::string_view a : args) {
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "-v" || a == "--version") {
            std::printf("groundsway-sac %s\n", GROUNDSWAY_VERSION);
            return 0;
        }
    }
    if (args.empty())
        return refuse("an input file is needed");
    if (args[0].starts_with('-'))
        return refuse("Unknown option " + inQuotes(args[0]) +
                      (args[0] == "-o" || args[0].starts_with("--")
                           ? " before the input file; it comes first"
                           : ""));
    const std::string input(args[0]);
    std::optional<std::string> output;
    std::vector<Step> steps;

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view a = args[i];
        // The values after an option; nothing when fewer follow.
        auto take = [&](std::size_t count) -> std::optional<std::vector<std::string_view>> {
            if (i + count >= args.size())
                return std::nullopt;
            std::vector<std::string_view> values(args.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                                 args.begin() +
                                                     static_cast<std::ptrdiff_t>(i + 1 + count));
            i += count;
            return values;
        };
        auto bad = [&](const std::string& what) { return refuse(inQuotes(a) + " " + what); };
        std::string typed(a);
        if (a == "--rtrend") {
            steps.push_back({typed, [](SacObject& s) { s.SubtractLinearTrend(); }});
        } else if (a == "--rmean") {
            steps.push_back({typed, [](SacObject& s) { s.RemoveMean(); }});
        } else if (a == "--integrate") {
            steps.push_back({typed, [](SacObject& s) { s.Integrate(); }});
        } else if (a == "--rms") {
            steps.push_back(
                {typed, [](SacObject& s) { std::printf("rms %.9g\n", s.simpleRMS()); }});
        } else if (a == "--taper") {
            const auto v = take(1);
            const auto w = v ? number<float>((*v)[0]) : std::nullopt;
            if (!w || !(*w > 0) || *w > 0.5f)
                return bad("needs the fraction of the trace tapered at each end, above 0 and at "
                           "most 0.5" +
                           (v ? ", not " + inQuotes((*v)[0]) : std::string()));
            steps.push_back(
                {typed + " " + std::string((*v)[0]), [w = *w](SacObject& s) { s.Taper(w); }});
        } else if (a == "--scale") {
            const auto v = take(1);
            const auto f = v ? number<float>((*v)[0]) : std::nullopt;
            if (!f)
                return bad("needs a finite number" +
                           (v ? ", not " + inQuotes((*v)[0]) : std::string()));
            steps.push_back({typed + " " + std::string((*v)[0]),
                             [f = *f](SacObject& s) { s.ScaleAmplitudes(f); }});
        } else if (a == "--lowpass" || a == "--highpass") {
            const auto v = take(3);
            const auto fc = v ? number<float>((*v)[0]) : std::nullopt;
            const auto poles = v ? number<int>((*v)[1]) : std::nullopt;
            const auto passes = v ? number<int>((*v)[2]) : std::nullopt;
            if (!fc || !poles || !passes)
                return bad("needs a corner in Hz, a number of poles and a number of passes");
            if (!(*fc > 0))
                return bad("needs a corner above 0 Hz, not " + inQuotes((*v)[0]));
            if (*poles < 1 || *poles > 10)
                return bad("needs 1 to 10 poles, not " + inQuotes((*v)[1]));
            if (*passes != 1 && *passes != 2)
                return bad("needs 1 pass, or 2 for zero phase, not " + inQuotes((*v)[2]));
            Step step{typed + " " + std::string((*v)[0]) + " " + std::string((*v)[1]) + " " +
                          std::string((*v)[2]),
                      {}};
            if (a == "--lowpass") {
                step.run = [=](SacObject& s) { s.LPBUfilter(*fc, *passes, *poles); };
                step.lowPassCorner = *fc;
            } else {
                step.run = [=](SacObject& s) { s.HPBUfilter(*fc, *passes, *poles); };
                step.highPassCorner = *fc;
            }
            steps.push_back(std::move(step));
        } else if (a == "--instrument" || a == "--decimate") {
            const auto v = take(1);
            // 0 where there is no whole number: refused below like any other value out of range.
            const int n = v ? number<int>((*v)[0]).value_or(0) : 0;
            const std::string not_ = v ? ", not " + inQuotes((*v)[0]) : std::string();
            if (a == "--instrument") {
                if (n != 1 && n != 2)
                    return bad("needs 1 (WWSSN long period) or 2 (WWSSN short period)" + not_);
                steps.push_back({typed + " " + std::string((*v)[0]),
                                 [n](SacObject& s) { s.ConvolveInstrument(n); }});
            } else {
                if (n < 2 || n > 1000)
                    return bad("needs a whole factor from 2 to 1000" + not_);
                steps.push_back(
                    {typed + " " + std::string((*v)[0]), [n](SacObject& s) { s.Decimate(n); }});
            }
        } else if (a == "-o") {
            const auto v = take(1);
            if (!v || (*v)[0].empty())
                return bad("needs a file name");
            output = std::string((*v)[0]);
        } else if (a.starts_with('-')) {
            return refuse("Unknown option " + inQuotes(a));
        } else {
            return refuse("Unexpected argument " + inQuotes(a) + " (one input file, first)");
        }
    }

    Input in = readInput(input);
    if (in.exitCode == 2)
        return refuse(in.why);
    if (in.exitCode != 0)
        return fail(in.why);
    SacObject s;
    if (!s.initWithNSData(in.bytes, input) || !s.isSacFile())
        return fail(input + " is not a SAC file (no valid header, or fewer samples than it "
                            "declares)");
    in.bytes = {};
    s.ComputeExtrema();
    const auto finite = [&s] {
        const auto x = s.samples();
        return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
    };
    if (!finite())
        return refuse(input + " holds samples that are not finite numbers");
    for (const Step& step : steps) {
        // A corner is checked against the sample rate at its own step (a decimation before it
        // lowers the Nyquist frequency).
        const double nyquist = s.delta() > 0 ? 0.5 / s.delta() : 0;
        for (const double corner : {step.lowPassCorner, step.highPassCorner})
            if (corner > 0 && !(corner < nyquist))
                return refuse(inQuotes(step.what) +
                              " asks for a corner at or above the Nyquist "
                              "frequency of " +
                              input + " there (" + decimal(nyquist) + " Hz)");
        step.run(s);
        if (!finite())
            return refuse(inQuotes(step.what) + " made samples that are not finite numbers; "
                                                "nothing is written");
    }
    if (output) {
        const auto out = s.encode(std::endian::little);
        std::ofstream file(*output, std::ios::binary | std::ios::trunc);
        if (!file.write(reinterpret_cast<const char*>(out.data()),
                        static_cast<std::streamsize>(out.size())) ||
            !file.flush())
            return fail("cannot write " + *output + ": " + std::strerror(errno));
    }
    return 0;
}
