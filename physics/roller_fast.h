#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "physics/physics.h"

namespace qav {

// The ways the energy balance can be marched. Reference is RunRollerModel,
// formula after formula, one point after another; the others compute the
// per-point quantities a few points at a time with SIMD instructions of the
// named instruction set and its vector math library.
enum class MarchPath : std::uint8_t { Reference, Baseline, Avx2, Avx512 };

// True when the processor runs the path (Reference and Baseline always).
[[nodiscard]] bool IsMarchPathSupported(MarchPath path);
// The path the library takes: the one the environment variable
// QAV_MARCH_PATH names ("reference", "baseline", "avx2", "avx512") if the
// processor runs it, else AVX2, AVX-512 and baseline in that order.
[[nodiscard]] MarchPath BestMarchPath();
// Every path this processor runs, Reference first.
[[nodiscard]] std::vector<MarchPath> SupportedMarchPaths();
[[nodiscard]] std::string_view MarchPathName(MarchPath path);
// The march the calling thread's time steps take: BestMarchPath() unless
// set for the thread (tests and benchmarks hold the paths side by side).
[[nodiscard]] MarchPath ThreadMarchPath();
void SetThreadMarchPath(MarchPath path);
void ResetThreadMarchPath();

// Time steps one call of RunRollerModelLanes marches at once: 1, 4, 8 or 16
// (two SIMD registers of lanes).
[[nodiscard]] int LaneCount(MarchPath path);

// Work arrays of one calling thread for the fast paths: O(P) doubles, grown
// only when a grid is larger than any before.
struct MarchWorkspace {
    std::vector<double> store;
    double* Reserve(std::size_t count);
};

// RunRollerModel on another path. Toe height and direction agree with the
// reference to within a few units in the last place.
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
// reads up to the longest lane's points. toe[l] receives what RunRollerModelOn
// gives for lane l alone.
void RunRollerModelLanes(MarchPath path, double Alpha, double Fc, double DikeNormal,
                         std::span<const LaneStep> steps, const double* levels, const Constants& c,
                         std::span<ToeWaves> toe, MarchWorkspace& work);

} // namespace qav
