// The march of the energy balance on SIMD registers, written once and compiled
// by Highway for every instruction set it targets (foreach_target.h); one
// dispatch table (HWY_EXPORT) holds the marches of every target.
//
// Every target gives the same bits, for a time step marched alone or in a
// lane beside others: all the math is built from IEEE additions,
// subtractions, multiplications, divisions, square roots and conversions to
// single precision, in one order, without fused multiply-adds, so that a
// register of any width and a single number round alike.
//
// - tanh is the C library's own algorithm (fdlibm's, through expm1) with
//   every multiplication and addition rounded on its own. glibc fuses some of
//   them on processors with FMA; its tanh differs in the last bits for about
//   6 of 10^4 arguments, and a wave number then by a few units in the last
//   place. Carrying out the fused ones in basic operations would give glibc's
//   tanh nearly always, at about a tenth of a march's time.
// - The breaking bracket comes from piecewise polynomial fits (bracket.h).
//   Its single-precision rounding is always the one of the bracket formed
//   from erf and exp rounded to nearest at the reference's R: where a fit lies
//   too close to a boundary for its tolerance, or for the move of R that a
//   wave number a few units off could make, the point's wave number is found
//   again with tanh rounded as glibc's, and the bracket is formed from the
//   nearest erf and exp in double-double (exact_math.h), a few times in a
//   million points. The C library's erf and exp round to nearest nearly
//   always.
// - The toe direction takes the reference's wave numbers at the two ends,
//   found again as above; sinh (first point), sin and asin (toe direction)
//   come from exact_math.h.
//
// A march is a chain of dependent divisions and square roots, point after
// point, which leaves most of the processor idle. The wave numbers of the
// points ahead (independent of each other) are computed in that idle time: in
// stages placed between the points of the chain, so that the processor's
// window of instructions always holds work of both. Registers of independent
// work (the groups of a lane march, two rows of them) go side by side,
// operation by operation (Pack), so that the processor has one to work on
// while another waits.
//
// The parts, each compiled once per target with this file:
//   march_packs-inl.h        registers side by side, products with their errors
//   march_tanh-inl.h         expm1, tanh and sinh
//   march_wave_number-inl.h  depths, wave numbers, the toe direction
//   march_bracket-inl.h      the breaking bracket's fits, settling, and in lanes
//   march_bracket_one-inl.h  the breaking bracket alone: from R, and from R^2
//   march_point-inl.h        the quantities of a point, in stages; the first point
//   march_one-inl.h          one time step, point after point
//   march_lanes-inl.h        time steps side by side, one per lane
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "physics/roller_march.cpp"
// Before Highway's headers, which read the instruction sets left out.
#include "physics/march_targets.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "physics/march_kernel.h"

// The single march first, then the lanes.
#include "physics/march_one-inl.h"

#include "physics/march_lanes-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// This target's path and what its marches cost, in ns per grid point of a
// step alone and per row of one and of two registers of lanes, on the 1000 m
// profile at 1:100 of bench/ (1668 levels), by the MarchCost cases of
// bench/bench_roller.cpp. The plan of a run (model/march_plan.cpp) splits
// steps over the paths by these costs; other processors of the same
// instruction set take the same split.
#if HWY_TARGET == HWY_AVX3
// x86-64 paths: measured on an AMD EPYC (Zen 5) with AVX-512, 2 virtual cores.
constexpr MarchPath ThisPath = MarchPath::Avx512;
constexpr MarchCost ThisCost{30.0, {149.0, 283.0}};
#elif HWY_TARGET == HWY_AVX2
constexpr MarchPath ThisPath = MarchPath::Avx2;
constexpr MarchCost ThisCost{34.0, {107.0, 193.0}};
#elif HWY_TARGET == HWY_SSE4
constexpr MarchPath ThisPath = MarchPath::Sse4;
constexpr MarchCost ThisCost{57.0, {104.0, 203.0}};
#elif HWY_TARGET == HWY_NEON
// Not measured on an Arm processor. Taken as 100 ns a point alone, and lanes
// dearer than the same steps alone (a register of two lanes as three steps,
// two registers as 5.6), so that every step marches alone: the choice that
// cannot be far off where SSE4's registers of two lanes gain little.
constexpr MarchPath ThisPath = MarchPath::Neon;
constexpr MarchCost ThisCost{100.0, {300.0, 560.0}};
#elif HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
// One register holds one lane: row[0] is a step alone.
constexpr MarchPath ThisPath = MarchPath::Baseline;
constexpr MarchCost ThisCost{107.0, {107.0, 197.0}};
#else
#error "a target the marches have no path for"
#endif

const detail::MarchKernels* MarchKernelsOf() {
    static const detail::MarchKernels kernels{HWY_TARGET,         ThisPath,  ThisCost,
                                              2 * hn::Lanes(D()), &MarchOne, &MarchLanesAny};
    return &kernels;
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qav::detail {

HWY_EXPORT(MarchKernelsOf);

namespace {

// The marches compiled for target, or nullptr when this build has none for it
// or the processor does not run it.
const MarchKernels* KernelsFor(std::int64_t target) {
    if ((hwy::SupportedTargets() & target) == 0) return nullptr;
    constexpr std::size_t entries =
        sizeof(HWY_DISPATCH_TABLE(MarchKernelsOf)) / sizeof(HWY_DISPATCH_TABLE(MarchKernelsOf)[0]);
    std::size_t index = 0;
    if constexpr (entries > 1) {
        // The entry HWY_DYNAMIC_DISPATCH would take if target were the best.
        const std::int64_t shifted = HWY_CHOSEN_TARGET_SHIFT(target);
        index = shifted != 0 ? hwy::Num0BitsBelowLS1Bit_Nonzero64(static_cast<std::uint64_t>(shifted))
                             : HWY_MAX_DYNAMIC_TARGETS + 1;
    }
    const auto entry = HWY_DISPATCH_TABLE(MarchKernelsOf)[index];
    if (entry == nullptr) return nullptr;
    const MarchKernels* kernels = entry();
    return kernels->target == target ? kernels : nullptr;
}

}  // namespace

const MarchKernels& BestKernels() {
    static const MarchKernels* best = HWY_DYNAMIC_DISPATCH(MarchKernelsOf)();
    return *best;
}

const MarchKernels* const* SupportedKernels(std::size_t& count) {
    static const std::vector<const MarchKernels*> all = [] {
        std::vector<const MarchKernels*> list;
        // Lower bits are better targets.
        for (std::int64_t targets = hwy::SupportedTargets(); targets != 0; targets &= targets - 1) {
            if (const MarchKernels* k = KernelsFor(targets & -targets)) list.push_back(k);
        }
        return list;
    }();
    count = all.size();
    return all.data();
}

}  // namespace qav::detail
#endif  // HWY_ONCE
