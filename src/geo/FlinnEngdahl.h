#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace geo {

// A Flinn-Engdahl geographic region (1995 revision: Young, Presgrave, Aichele, Wiens and Flinn,
// SRL 67(1), 1996): its number, 1 to 757, and its name as the table writes it, in capitals.
struct Region {
    int number = 0;
    std::string name;
};

// The region of a point (degrees; longitude -180 to 180, or 0 to 360). Nothing for coordinates
// out of range or not numbers.
std::optional<Region> flinnEngdahlRegion(double latitude, double longitude);

// A region name for reading: "NEAR EAST COAST OF HONSHU, JAPAN" becomes "Near East Coast of
// Honshu, Japan" (small joining words stay small, except first).
std::string titleCase(std::string_view capitals);

} // namespace geo
