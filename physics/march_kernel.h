#pragma once

// The interface between the choice of a march (roller_dispatch.cpp) and the
// marches compiled once per instruction set (roller_march.cpp).

#include <cstddef>
#include <cstdint>

#include "physics/physics.h"
#include "physics/roller_fast.h"

namespace qav::detail {

// Bottom levels handed to a march a block at a time: read(context, first,
// count, buffer) returns the levels of points (or rows of lanes) first ..
// first + count - 1, from storage of the source or written into buffer, which
// holds count points (rows of the march's stride).
struct LevelBlocks {
    const double* (*read)(void* context, std::size_t first, std::size_t count, double* buffer);
    void* context;
};

// The levels a march asks for at once at most (points, or rows times stride);
// its buffer holds that many.
inline constexpr std::size_t BlockValues = 4096;

struct SingleStep {
    double Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep;
    std::size_t points;  // P >= 1
};

// The marches of one instruction set.
struct MarchKernels {
    std::int64_t target;  // Highway's target bit
    MarchPath path;       // the path they march (named by MarchPathName)
    MarchCost cost;       // as measured on a processor of the target
    // Time steps the lane march takes at once (two registers of lanes).
    std::size_t lanes;
    // One time step; its first point alone when points is 1.
    ToeWaves (*one)(const SingleStep& step, LevelBlocks levels, const Constants& c);
    // count <= lanes time steps, one per lane. A row holds stride >= lanes
    // levels, lane l at position l; rows past a lane's last point repeat it,
    // and lanes from count on hold some finite level.
    void (*lanes_march)(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                        LevelBlocks rows, std::size_t stride, const Constants& c, ToeWaves* toe);
};

// The marches of the best target this processor runs.
const MarchKernels& BestKernels();
// Every target of this build that this processor runs, best first.
const MarchKernels* const* SupportedKernels(std::size_t& count);

} // namespace qav::detail
