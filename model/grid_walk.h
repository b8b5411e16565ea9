#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qav {

// Number of grid X coordinates CreateRegularGrid lays over the profile with
// GridStep (M + 1), or -1 when it would lay none.
[[nodiscard]] std::int64_t RegularGridPointCount(std::span<const double> ProfileX, double GridStep);

// The bottom levels of the regular grid with GridStep, found in one walk along
// the profile segments instead of a search per grid point. Writes count levels
// to out[0], out[stride], ... followed by one more that repeats the last, the
// level the march ends on. count comes from RegularGridPointCount and is at
// least 1. Bit for bit the levels of CreateRegularGrid followed by
// InterpolateBottomLevels, with the same end tolerances and end segments.
void WalkGridBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                          double GridStep, std::int64_t count, double* out, std::size_t stride);

// As above into levels, sized once to count + 1. Returns false, levels empty,
// when the profile gets no grid.
bool BuildGridBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                           double GridStep, std::vector<double>& levels);

}  // namespace qav
