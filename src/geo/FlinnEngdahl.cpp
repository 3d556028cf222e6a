#include "geo/FlinnEngdahl.h"

#include "geo/EmbeddedData.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace geo {

namespace {

std::vector<int> integers(std::string_view text) {
    std::vector<int> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i])) && text[i] != '-')
            ++i;
        const std::size_t j = i;
        if (i < text.size() && text[i] == '-')
            ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
        if (i > j && !(i == j + 1 && text[j] == '-'))
            out.push_back(std::atoi(std::string(text.substr(j, i - j)).c_str()));
    }
    return out;
}

struct Table {
    // Per quadrant and whole-degree latitude: (start longitude, region) pairs.
    std::array<std::array<std::vector<std::pair<int, int>>, 91>, 4> rows;
    std::vector<std::string> names; // index = region number - 1
    bool ok = false;
};

const Table& table() {
    static const Table t = [] {
        Table out;
        const std::vector<int> counts = integers(embedded::feQuadrantIndex());
        if (counts.size() != 4 * 91)
            return out;
        for (int q = 0; q < 4; ++q) {
            const std::vector<int> pairs = integers(embedded::feSections(q));
            std::size_t at = 0;
            for (int lat = 0; lat <= 90; ++lat) {
                const int n = counts[static_cast<std::size_t>(q * 91 + lat)];
                for (int k = 0; k < n; ++k, at += 2) {
                    if (at + 1 >= pairs.size())
                        return out;
                    out.rows[static_cast<std::size_t>(q)][static_cast<std::size_t>(lat)].emplace_back(pairs[at], pairs[at + 1]);
                }
            }
        }
        const std::string_view names = embedded::feNames();
        std::size_t start = 0;
        while (start < names.size()) {
            std::size_t end = names.find('\n', start);
            if (end == std::string_view::npos)
                end = names.size();
            std::string line(names.substr(start, end - start));
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            if (!line.empty())
                out.names.push_back(line);
            start = end + 1;
        }
        out.ok = out.names.size() == 757;
        return out;
    }();
    return t;
}

} // namespace

std::optional<Region> flinnEngdahlRegion(double latitude, double longitude) {
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::abs(latitude) > 90 ||
        std::abs(longitude) > 360)
        return std::nullopt;
    const Table& t = table();
    if (!t.ok)
        return std::nullopt;
    double lon = std::fmod(longitude, 360.0);
    if (lon >= 180)
        lon -= 360;
    if (lon < -180)
        lon += 360;
    if (lon == -180)
        lon = 180; // -180 is read as +180
    const bool north = latitude >= 0, east = lon >= 0;
    const int quadrant = north ? (east ? 0 : 1) : (east ? 2 : 3);
    const auto latRow = static_cast<std::size_t>(std::min(90.0, std::floor(std::abs(latitude))));
    const int lonDegree = static_cast<int>(std::floor(std::abs(lon)));
    const auto& row = t.rows[static_cast<std::size_t>(quadrant)][latRow];
    int region = 0;
    for (const auto& [start, number] : row)
        if (start <= lonDegree)
            region = number;
    if (region < 1 || region > 757)
        return std::nullopt;
    return Region{region, t.names[static_cast<std::size_t>(region - 1)]};
}

std::string titleCase(std::string_view capitals) {
    static const std::array<std::string_view, 9> small = {"of", "the", "and", "in", "on",
                                                          "at", "to", "by", "for"};
    std::string out;
    out.reserve(capitals.size());
    std::size_t i = 0;
    bool first = true;
    while (i < capitals.size()) {
        if (!std::isalpha(static_cast<unsigned char>(capitals[i]))) {
            out += capitals[i++];
            continue;
        }
        std::size_t j = i;
        while (j < capitals.size() && std::isalpha(static_cast<unsigned char>(capitals[j])))
            ++j;
        std::string word;
        for (std::size_t k = i; k < j; ++k)
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(capitals[k])));
        const bool joining = !first && std::find(small.begin(), small.end(), word) != small.end();
        if (!joining)
            word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        out += word;
        first = false;
        i = j;
    }
    return out;
}

} // namespace geo
