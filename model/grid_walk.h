#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qav {

// Number of grid X coordinates CreateRegularGrid lays over the profile with
// GridStep (M + 1), or -1 when it would lay none.
[[nodiscard]] std::int64_t RegularGridPointCount(std::span<const double> ProfileX, double GridStep);

// A profile the regular grids of a run are walked along: in non-decreasing
// order of X the segment of a grid point is found by walking on from the one
// before; in any other order by the search of LocateSegment.
struct WalkProfile {
    std::span<const double> X;
    std::span<const double> Z;
    bool walkable;
    WalkProfile(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel);
};

// The bottom levels of the regular grid with GridStep over a profile of two
// points or more, handed out a block at a time in grid order: count levels
// (count from RegularGridPointCount, at least 1), then the last one again for
// every point asked for past them (the first of those is the level the march
// ends on). Bit for bit the levels of CreateRegularGrid followed by
// InterpolateBottomLevels, with the same end tolerances and end segments,
// whatever the blocks.
class GridWalk {
public:
    GridWalk() = default;
    GridWalk(const WalkProfile& profile, double GridStep, std::int64_t count);
    // Writes the levels of the next n points to out[0], out[stride], ...
    void Next(double* out, std::size_t n, std::size_t stride);

private:
    const WalkProfile* profile_ = nullptr;
    double step_ = 0.0;
    std::int64_t count_ = 0;
    std::int64_t next_ = 0;  // index of the next grid point
    int below_ = 0;          // profile points with X <= the last grid point's x
    double last_ = 0.0;      // the level of the last point handed out
};

// The whole grid at once: count levels to out[0], out[stride], ... followed
// by the one more that repeats the last.
void WalkGridBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                          double GridStep, std::int64_t count, double* out, std::size_t stride);

// As above into levels, sized once to count + 1. Returns false, levels empty,
// when the profile gets no grid.
bool BuildGridBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                           double GridStep, std::vector<double>& levels);

}  // namespace qav
