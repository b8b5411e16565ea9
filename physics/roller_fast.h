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
// Avx512 (AVX3) on x86-64, Neon on aarch64. (Sve, Sve2, Sve256 and Sve2_128
// name Highway's scalable Arm targets, which the marches leave out: Arm
// processors with SVE take Neon.) They compute the per-point quantities a
// register of points at a time and give the same bits on every path,
// processor and lane width.
enum class MarchPath : std::uint8_t { Reference, Baseline, Sse4, Avx2, Avx512, Neon, Sve, Sve2, Sve256, Sve2_128 };

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

// Time steps one call of RunRollerModelLanes marches at once: 1 for the
// reference, else two SIMD registers of lanes (2 for the baseline, 4 for
// SSE4 and NEON, 8 for AVX2, 16 for AVX-512).
[[nodiscard]] int LaneCount(MarchPath path);

// Kept for callers that hold one per thread; the fast marches need no work
// arrays of the grid's length any more.
struct MarchWorkspace {
    std::vector<double> store;
    double* Reserve(std::size_t count);
};

// RunRollerModel on another path. Every fast path gives the same bits; the toe
// height agrees with the reference to within 1e-13.
[[nodiscard]] ToeWaves RunRollerModelOn(MarchPath path, double Tp, double TransmittedHm0, double Alpha,
                                        double Fc, double Wlev, double DikeNormal, double IncomingWaveAngle,
                                        double gridStep, std::span<const double> bottomLevel,
                                        const Constants& c, MarchWorkspace& work);

// One time step in a lane of RunRollerModelLanes.
struct LaneStep {
    double Tp;
    double TransmittedHm0;
    double Wlev;
    double IncomingWaveAngle;
    double gridStep;
    std::size_t points;  // P >= 1 bottom levels
};

// Marches up to LaneCount(path) time steps at once, one per lane. The bottom
// level of point i of lane l is levels[i * LaneCount(path) + l]; every lane
// reads up to the longest lane's points (a lane's own last level repeated
// past its end). toe[l] receives what RunRollerModelOn gives for lane l alone,
// bit for bit. A single step takes the single-step march.
void RunRollerModelLanes(MarchPath path, double Alpha, double Fc, double DikeNormal,
                         std::span<const LaneStep> steps, const double* levels, const Constants& c,
                         std::span<ToeWaves> toe, MarchWorkspace& work);

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

// RunRollerModelOn over points levels from source: a fast path holds one block
// of them at a time, whatever the grid's length (the reference gathers them
// all first).
[[nodiscard]] ToeWaves RunRollerModelOn(MarchPath path, double Tp, double TransmittedHm0, double Alpha,
                                        double Fc, double Wlev, double DikeNormal, double IncomingWaveAngle,
                                        double gridStep, std::size_t points, LevelSource levels,
                                        const Constants& c);

// RunRollerModelLanes over rows of levels from source, up to the longest
// lane's points; lanes from steps.size() on hold some finite level.
void RunRollerModelLanes(MarchPath path, double Alpha, double Fc, double DikeNormal,
                         std::span<const LaneStep> steps, LevelSource rows, const Constants& c,
                         std::span<ToeWaves> toe);

} // namespace qav
