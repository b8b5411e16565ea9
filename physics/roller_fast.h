#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "physics/physics.h"

namespace qav {

// The ways the energy balance can be marched. Reference is RunRollerModel,
// formula after formula with the C library's functions, one point after
// another. The others are one march compiled for an instruction set each
// (Highway's targets): Baseline without SIMD instructions, Sse4, Avx2 and
// Avx512 (AVX3) on x86-64, Neon on aarch64 (Arm processors with SVE take
// Neon too). They compute the per-point quantities a register of points at a
// time and give the same bits on every path, processor and lane width.
enum class MarchPath : std::uint8_t { Reference, Baseline, Sse4, Avx2, Avx512, Neon };

// True when this build has the path and the processor runs it (Reference and
// Baseline always).
[[nodiscard]] bool IsMarchPathSupported(MarchPath path);
// The path the library takes: the one the environment variable
// QAV_MARCH_PATH names (a name of MarchPathName in any case, e.g.
// "reference", "baseline", "avx2", "avx512", "neon") if the processor runs
// it, else the best instruction set the processor runs.
[[nodiscard]] MarchPath BestMarchPath();
// The text of QAV_MARCH_PATH when it is set but names no path the processor
// runs, and BestMarchPath therefore goes by the processor; else empty.
[[nodiscard]] std::string IgnoredMarchPathRequest();
// Every path this processor runs: Reference, Baseline, then the instruction
// sets from the oldest up.
[[nodiscard]] std::vector<MarchPath> SupportedMarchPaths();
[[nodiscard]] std::string_view MarchPathName(MarchPath path);
// The march the calling thread's time steps take: BestMarchPath() unless
// set for the thread (tests and benchmarks hold the paths side by side).
[[nodiscard]] MarchPath ThreadMarchPath();
void SetThreadMarchPath(MarchPath path);
void ResetThreadMarchPath();
// True when the calling thread's path was picked, by SetThreadMarchPath or by
// QAV_MARCH_PATH, rather than taken as the processor's best.
[[nodiscard]] bool MarchPathPicked();

// What a path's marches cost, in ns: per grid point of a time step marched
// alone, and per row of lanes (a grid point of every lane) with one register
// of lanes (row[0]) and with two (row[1]).
struct MarchCost {
    double alone;
    double row[2];
};
// The costs measured for the path's marches (physics/roller_march.cpp); for
// the reference, which has no lanes, and for a path this build or processor
// does not run, every cost is infinite.
[[nodiscard]] MarchCost MarchPathCost(MarchPath path);

// Time steps one call of RunRollerModelLanes marches at once: 1 for the
// reference, else two SIMD registers of lanes (2 for the baseline, 4 for
// SSE4 and NEON, 8 for AVX2, 16 for AVX-512).
[[nodiscard]] int LaneCount(MarchPath path);

// One time step in a lane of RunRollerModelLanes.
struct LaneStep {
    double Tp;
    double TransmittedHm0;
    double Wlev;
    double IncomingWaveAngle;
    double gridStep;
    std::size_t points;  // P >= 1 bottom levels
};

// Bottom levels handed to a march a block at a time, from the first point
// on: read(context, first, count, buffer) gives the levels of points first ..
// first + count - 1 (for lanes: rows of LaneCount(path) levels, lane l at
// position l of a row), where they already lie or written into buffer, which
// has room for count points (rows). The march asks for each block once, in
// order, and for no point (row) past the last.
struct LevelSource {
    const double* (*read)(void* context, std::size_t first, std::size_t count, double* buffer);
    void* context;
};

// RunRollerModel on another path, over points levels from source: a fast
// path holds one block of them at a time, whatever the grid's length (the
// reference gathers them all first). Every fast path gives the same bits; the
// toe height agrees with the reference to within 1e-13.
[[nodiscard]] ToeWaves RunRollerModelOn(MarchPath path, double Tp, double TransmittedHm0, double Alpha,
                                        double Fc, double Wlev, double DikeNormal, double IncomingWaveAngle,
                                        double gridStep, std::size_t points, LevelSource levels,
                                        const Constants& c);

// Marches up to LaneCount(path) time steps at once, one per lane, over rows
// of levels from source: the level of point i of lane l is at l in row i.
// Every lane reads up to the longest lane's points (a lane's own last level
// repeated past its end); lanes from steps.size() on hold some finite level.
// toe[l] receives what RunRollerModelOn gives for lane l alone, bit for bit.
// A single step takes the single-step march.
void RunRollerModelLanes(MarchPath path, double Alpha, double Fc, double DikeNormal,
                         std::span<const LaneStep> steps, LevelSource rows, const Constants& c,
                         std::span<ToeWaves> toe);

} // namespace qav
