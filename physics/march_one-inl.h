// One time step of the march (roller_march.cpp), marched point after point.

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "physics/march_kernel.h"
#include "physics/physics.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_ONE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_ONE_INL_H_
#undef QAV_PHYSICS_MARCH_ONE_INL_H_
#else
#define QAV_PHYSICS_MARCH_ONE_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_point-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// Reads the levels of a march a register of points at a time; past the last
// point the last level.
class PointReader {
public:
    PointReader(detail::LevelBlocks source, std::size_t points) : source_(source), points_(points) {}
    // The levels of points first .. first + Lanes(d) - 1; first grows from
    // call to call in steps of Lanes(d).
    template <class DD>
    hn::Vec<DD> Group(DD d, std::size_t first) {
        const std::size_t N = hn::Lanes(d);
        if (first >= blockFirst_ + blockCount_) {
            blockFirst_ = first;
            blockCount_ = std::min(detail::BlockValues, points_ - first);
            block_ = source_.read(source_.context, first, blockCount_, buffer_);
        }
        const std::size_t at = first - blockFirst_;
        if (at + N <= blockCount_) return hn::LoadU(d, block_ + at);
        // Blocks start at multiples of N: only the last group is cut short.
        HWY_ALIGN double tail[MaxLanes];
        for (std::size_t l = 0; l < N; ++l) tail[l] = block_[std::min(at + l, blockCount_ - 1)];
        return hn::Load(d, tail);
    }

private:
    detail::LevelBlocks source_;
    std::size_t points_;
    std::size_t blockFirst_ = 0;
    std::size_t blockCount_ = 0;
    const double* block_ = nullptr;
    HWY_ALIGN double buffer_[detail::BlockValues];
};

// The single step's registers hold at most four points: a wider register
// would only make the chain wait longer for the divisions of its wave
// numbers.
using DOne = hn::CappedTag<double, 4>;

// One time step, marched point after point. The quantities of the points come
// from a ring of 16 points. The stages of the wave numbers of register G
// (points G N .. G N + N - 1) run after points G N - 8, G N - 6 and G N - 4 of
// the chain: each stage well after the one before has finished, the last
// four points before the register's first point is marched. (Of the timings
// tried, this one left the chain the most room.)
ToeWaves MarchOne(const detail::SingleStep& s, detail::LevelBlocks levels, const Constants& c) {
    const std::size_t P = s.points;
    if (P == 0) return {std::nan(""), std::nan("")};
    constexpr DOne d;
    using POne = Pack<DOne, 1>;
    constexpr std::size_t N = hn::MaxLanes(d);
    const double f = 1.0 / s.Tp;
    const double omega = f * TwoPi;
    const double omega2 = omega * omega;
    const double A = s.Alpha * ThreeSqrtPiOver16 * c.rho * c.g * f;
    const double friction = c.rho * TwoOverThreePi * s.Fc;
    const double gRho = c.g * c.rho;
    const double gRhoEighth = gRho * 0.125;
    const double quotientFormBelow = QuotientFormBelow(gRho);
    const double inverseG = 1.0 / c.g;

    constexpr std::size_t RingPoints = 16;
    constexpr std::size_t Lead = 8;
    constexpr std::size_t SecondAfter = 2;
    constexpr std::size_t ThirdAfter = 4;
    static_assert(RingPoints >= Lead + 1 + 4 && Lead >= ThirdAfter + 3, "ring and stages");
    QuantityRing<RingPoints> ring;
    constexpr std::size_t StageEntries = 16;
    StageValues<1> stages[StageEntries];  // register G's in stages[G % StageEntries]
    PointReader reader(levels, P);
    const POne vWlev = Constant<1>(d, s.Wlev);
    const Periods<DOne, 1> periods{Constant<1>(d, omega), Constant<1>(d, omega2), Constant<1>(d, s.Tp)};
    const auto levelsOf = [&](std::size_t g) HWY_ATTR QAV_INLINE_LAMBDA {
        POne bottom;
        bottom.v[0] = reader.Group(d, g * N);
        return bottom;
    };
    const std::size_t groups = (P + N - 1) / N;
    // Registers whose first stage would come before the march: all at once.
    const std::size_t early = std::min(groups, (Lead + N) / N);
    for (std::size_t g = 0; g < early; ++g) FirstStage(d, levelsOf(g), vWlev, periods, inverseG, stages[g]);
    for (std::size_t g = 0; g < early; ++g) SecondStage(d, stages[g]);
    for (std::size_t g = 0; g < early; ++g) ThirdStage(d, stages[g], periods, c, ring, g * N, 0);

    const double hFirst = ring.h[0];
    // What the chain carries from point to point.
    const Start start = FirstPoint(s.Tp, s.TransmittedHm0, s.Fc, omega, omega2, A, ring.h[0], ring.k[0], c);
    double E = start.E;
    double H = start.H;
    double cgBehind = start.cg;
    double D = start.D;
    PieceGuess piece = start.piece;
    bool clamped = false;
    const double significant = ClampedEnergyShare * E;
    // Point i of the chain.
    const auto march = [&](std::size_t i) HWY_ATTR QAV_INLINE_LAMBDA {
        const std::size_t at = i & (RingPoints - 1);
        const double cgNext = ring.cg[at];
        // First-order upwind; a negative or NaN energy becomes 0.
        const double flux = cgBehind * E - D * s.gridStep;
        const double v = flux / cgNext;
        clamped = clamped || (v < 0.0 && E > significant && ring.h[at] > MinimumWaterDepth);
        E = v > 0.0 ? v : 0.0;
        cgBehind = cgNext;
        if (HWY_LIKELY(E > EnergyThreshold)) {
            if (HWY_LIKELY(E < quotientFormBelow)) {
                H = std::sqrt(E / gRhoEighth);
            } else {
                H = std::sqrt(E * 8.0 / gRho);
            }
            // R = h gamma / H with H^2 = E / (g rho / 8) and E = flux / cg:
            // R^2 = (h gamma)^2 cg (g rho / 8) / flux, a division after the
            // flux where R takes three and a square root.
            const double hGamma = ring.hGamma[at];
            const double Q =
                RoundedBracketOfSquare(hGamma * hGamma * cgNext * gRhoEighth / flux, hGamma, H, piece,
                                       [&] { return ReferenceHGamma(ring.h[at], omega, inverseG) / H; });
            const double Db = Q * (H * H * H * A) / ring.h[at];
            const double u = ring.sech[at] * (H * Pi) / ring.tTp[at];
            D = Db + u * u * u * friction;
        } else {
            H = 0.0;
            D = 0.0;
        }
    };
    // The stages due after point i, which lies at place j of its register.
    const auto stagesAfter = [&](std::size_t i, std::size_t j) HWY_ATTR QAV_INLINE_LAMBDA {
        const std::size_t lead = i + Lead;
        if (((j + Lead) & (N - 1)) == 0 && lead / N < groups) {
            const std::size_t g = lead / N;
            FirstStage(d, levelsOf(g), vWlev, periods, inverseG, stages[g % StageEntries]);
        }
        if (((j + Lead - SecondAfter) & (N - 1)) == 0) {
            const std::size_t g = (lead - SecondAfter) / N;
            if (g >= early && g < groups) SecondStage(d, stages[g % StageEntries]);
        }
        if (((j + Lead - ThirdAfter) & (N - 1)) == 0) {
            const std::size_t g = (lead - ThirdAfter) / N;
            if (g >= early && g < groups) {
                ThirdStage(d, stages[g % StageEntries], periods, c, ring, (g * N) & (RingPoints - 1), 0);
            }
        }
    };
    // A register's points at a time, so that which stages follow a point is
    // known from its place in the register (N is a power of two). One copy
    // of the loop: the first point and those past the last cost a test.
    for (std::size_t first = 0; first < P; first += N) {
        for (std::size_t j = 0; j < N; ++j) {
            if (j == 0 && first == 0) continue;
            if (first + j >= P) break;
            march(first + j);
            stagesAfter(first + j, j);
        }
    }
    return {H * HrmsToHm0,
            ToeDirection(s.DikeNormal, s.IncomingWaveAngle, omega, inverseG, hFirst,
                         ring.h[(P - 1) & (RingPoints - 1)]),
            clamped};
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_ONE_INL_H_
