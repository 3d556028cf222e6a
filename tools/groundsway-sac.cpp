// groundsway-sac: the seismogram object's operations on SAC files, in batch.
//
//   groundsway-sac IN.sac [--rtrend] [--rmean] [--taper W] [--lowpass FC NP NPASS]
//                  [--highpass FC NP NPASS] [--instrument 1|2] [--decimate N] [--integrate]
//                  [--scale F] [--rms] [-o OUT.sac]
//
// Operations run in the order given. OUT.sac is little-endian SAC with NPTS, DELTA, B, E and the
// extrema brought up to date; --rms prints the RMS of the trace at that point.
#include "components/sac/SacObject.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr std::uintmax_t kMaxInputBytes = std::uintmax_t{2} << 30;

const char* const kUsage =
    "usage: groundsway-sac IN.sac [--rtrend] [--rmean] [--taper W] [--lowpass FC NP NPASS]\n"
    "                      [--highpass FC NP NPASS] [--instrument 1|2] [--decimate N] "
    "[--integrate]\n"
    "                      [--scale F] [--rms] [-o OUT.sac]\n"
    "       groundsway-sac --help | --version\n";

int fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "groundsway-sac: %s\n", message.c_str());
    return code;
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

std::optional<std::vector<std::byte>> readFile(const std::string& path, std::string& why) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        why = std::strerror(errno);
        return std::nullopt;
    }
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uintmax_t>(size) > kMaxInputBytes) {
        why = size < 0 ? "not a regular file" : "larger than 2 GiB";
        return std::nullopt;
    }
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        why = "read error";
        return std::nullopt;
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
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
        return fail(std::string("no input file\n") + kUsage, 2);
    if (args[0].starts_with('-'))
        return fail("unknown option " + std::string(args[0]) + " (the input file comes first)\n" +
                        kUsage,
                    2);
    const std::string input(args[0]);
    std::string output;
    std::vector<std::function<void(SacObject&)>> steps;

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view a = args[i];
        auto take = [&](std::size_t count) -> std::optional<std::vector<std::string_view>> {
            if (i + count >= args.size())
                return std::nullopt;
            std::vector<std::string_view> values(args.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                                 args.begin() +
                                                     static_cast<std::ptrdiff_t>(i + 1 + count));
            i += count;
            return values;
        };
        auto bad = [&](const char* what) {
            return fail(std::string(a) + " " + what + "\n" + kUsage, 2);
        };
        if (a == "--rtrend") {
            steps.emplace_back([](SacObject& s) { s.SubtractLinearTrend(); });
        } else if (a == "--rmean") {
            steps.emplace_back([](SacObject& s) { s.RemoveMean(); });
        } else if (a == "--integrate") {
            steps.emplace_back([](SacObject& s) { s.Integrate(); });
        } else if (a == "--rms") {
            steps.emplace_back([](SacObject& s) { std::printf("%.9g\n", s.simpleRMS()); });
        } else if (a == "--taper" || a == "--scale") {
            const auto v = take(1);
            const auto x = v ? number<float>((*v)[0]) : std::nullopt;
            if (!x)
                return bad("needs a number");
            if (a == "--taper")
                steps.emplace_back([w = *x](SacObject& s) { s.Taper(w); });
            else
                steps.emplace_back([f = *x](SacObject& s) { s.ScaleAmplitudes(f); });
        } else if (a == "--lowpass" || a == "--highpass") {
            const auto v = take(3);
            const auto fc = v ? number<float>((*v)[0]) : std::nullopt;
            const auto poles = v ? number<int>((*v)[1]) : std::nullopt;
            const auto passes = v ? number<int>((*v)[2]) : std::nullopt;
            if (!fc || !poles || !passes)
                return bad("needs a corner in Hz, a number of poles and a number of passes");
            if (a == "--lowpass")
                steps.emplace_back([=](SacObject& s) { s.LPBUfilter(*fc, *passes, *poles); });
            else
                steps.emplace_back([=](SacObject& s) { s.HPBUfilter(*fc, *passes, *poles); });
        } else if (a == "--instrument" || a == "--decimate") {
            const auto v = take(1);
            const auto n = v ? number<int>((*v)[0]) : std::nullopt;
            if (!n || (a == "--instrument" && *n != 1 && *n != 2))
                return bad(a == "--instrument"
                               ? "needs 1 (WWSSN long period) or 2 (WWSSN short period)"
                               : "needs a whole number");
            if (a == "--instrument")
                steps.emplace_back([c = *n](SacObject& s) { s.ConvolveInstrument(c); });
            else
                steps.emplace_back([q = *n](SacObject& s) { s.Decimate(q); });
        } else if (a == "-o") {
            const auto v = take(1);
            if (!v)
                return bad("needs a file name");
            output = std::string((*v)[0]);
        } else {
            return fail("unknown option " + std::string(a) + "\n" + kUsage, 2);
        }
    }

    std::string why;
    const auto bytes = readFile(input, why);
    if (!bytes)
        return fail("cannot read " + input + ": " + why);
    SacObject s;
    if (!s.initWithNSData(*bytes, input) || !s.isSacFile())
        return fail(input +
                    " is not a SAC file (no valid header, or fewer samples than it declares)");
    s.ComputeExtrema();
    for (const auto& step : steps)
        step(s);
    if (!output.empty()) {
        const auto out = s.encode(std::endian::little);
        std::ofstream file(output, std::ios::binary | std::ios::trunc);
        if (!file.write(reinterpret_cast<const char*>(out.data()),
                        static_cast<std::streamsize>(out.size())) ||
            !file.flush())
            return fail("cannot write " + output + ": " + std::strerror(errno));
    }
    return 0;
}
