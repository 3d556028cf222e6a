#pragma once

#include <string_view>

// Reference data compiled into the program (data/ in the source tree; see data/README.md for
// where each comes from).
namespace geo::embedded {

std::string_view iasp91Tvel();
std::string_view ak135Tvel();
// The Flinn-Engdahl regionalisation, 1995 revision.
std::string_view feNames();
std::string_view feQuadrantIndex();
std::string_view feSections(int quadrant); // 0 NE, 1 NW, 2 SE, 3 SW

} // namespace geo::embedded
