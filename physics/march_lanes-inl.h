// Time steps of the march (roller_march.cpp) marched side by side, one per
// lane of one or two registers.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "physics/march_kernel.h"
#include "physics/physics.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_LANES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_LANES_INL_H_
#undef QAV_PHYSICS_MARCH_LANES_INL_H_
#else
#define QAV_PHYSICS_MARCH_LANES_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_point-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// Rows of lanes read a block at a time.
class RowReader {
public:
    RowReader(detail::LevelBlocks source, std::size_t rows, std::size_t stride)
        : source_(source), rows_(rows), stride_(stride), perBlock_(detail::BlockValues / stride) {}
    // Row i, which must follow the rows asked for before.
    const double* Row(std::size_t i) {
        if (i >= blockFirst_ + blockCount_) {
            blockFirst_ = i;
            blockCount_ = std::min(perBlock_, rows_ - i);
            block_ = source_.read(source_.context, i, blockCount_, buffer_);
        }
        return block_ + (i - blockFirst_) * stride_;
    }

private:
    detail::LevelBlocks source_;
    std::size_t rows_;
    std::size_t stride_;
    std::size_t perBlock_;
    std::size_t blockFirst_ = 0;
    std::size_t blockCount_ = 0;
    const double* block_ = nullptr;
    HWY_ALIGN double buffer_[detail::BlockValues];
};

// Up to Groups registers of time steps, one per lane, marched together to the
// longest one's last point; a lane stops changing after its own last point.
// The groups' chains go side by side, and the stages of the wave numbers of
// row R (all groups side by side) run after rows R - 5 (first), R - 4
// (second) and R - 2 (third) of the chains.
template <std::size_t Groups>
void MarchLanes(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                detail::LevelBlocks rows, std::size_t stride, const Constants& c, ToeWaves* toe) {
    using P = Pack<D, Groups>;
    using MP = MaskPack<D, Groups>;
    const D d;
    const std::size_t N = hn::Lanes(d);
    const std::size_t L = Groups * N;
    const double inverseG = 1.0 / c.g;
    const auto C = [d](double v) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<Groups>(d, v); };
    // Lane l of every per-lane value at l: register j at j N.
    HWY_ALIGN double tp[Groups * MaxLanes], wlev[Groups * MaxLanes], dx[Groups * MaxLanes],
        points[Groups * MaxLanes];
    std::size_t longest = 0;
    for (std::size_t l = 0; l < L; ++l) {
        // Lanes without a step march a copy of the first one.
        const LaneStep& s = steps[l < count ? l : 0];
        tp[l] = s.Tp;
        wlev[l] = s.Wlev;
        dx[l] = s.gridStep;
        points[l] = l < count ? static_cast<double>(s.points) : 0.0;
        longest = std::max(longest, s.points);
    }
    const P vTp = LoadPack<Groups>(d, tp, N);
    const P f = Div(C(1.0), vTp);
    const P omega = Mul(f, C(TwoPi));
    const Periods<D, Groups> periods{omega, Mul(omega, omega), vTp};
    const P vWlev = LoadPack<Groups>(d, wlev, N);
    const P vDx = LoadPack<Groups>(d, dx, N);
    const P vPoints = LoadPack<Groups>(d, points, N);
    const P lastRow = Sub(vPoints, C(1.0));
    const P A = Mul(C(Alpha * ThreeSqrtPiOver16 * c.rho * c.g), f);
    RowReader reader(rows, longest, stride);

    // The wave numbers go two rows at a time: the registers of rows R and
    // R + 1 (R even) side by side. Their stages run after rows R - 6
    // (first), R - 5 (second) and R - 2 (third) of the chains, into a ring of
    // eight rows (row i at slot(i), rows R and R + 1 next to each other).
    constexpr std::size_t Pair = 2 * Groups;
    constexpr std::size_t RingRows = 8;
    constexpr std::size_t FirstLead = 6;
    constexpr std::size_t SecondLead = 5;
    constexpr std::size_t ThirdLead = 2;
    constexpr std::size_t Early = 8;  // rows computed before the march
    QuantityRing<RingRows * Groups * MaxLanes> ring;
    StageValues<Pair> stages[4];  // rows R, R + 1's in stages[R / 2 % 4]
    const auto slot = [N](std::size_t row) { return (row % RingRows) * Groups * N; };
    Pack<D, Pair> pairWlev;
    Periods<D, Pair> pairPeriods;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < Pair; ++j) {
        pairWlev.v[j] = vWlev.v[j % Groups];
        pairPeriods.omega.v[j] = periods.omega.v[j % Groups];
        pairPeriods.omega2.v[j] = periods.omega2.v[j % Groups];
        pairPeriods.Tp.v[j] = periods.Tp.v[j % Groups];
    }
    const auto first = [&](std::size_t row) HWY_ATTR QAV_INLINE_LAMBDA {
        // A lane's rows past its end repeat its last level; row + 1 past the
        // longest lane repeats row.
        Pack<D, Pair> bottom;
        const double* levels = reader.Row(row);
        QAV_EACH_REGISTER for (std::size_t j = 0; j < Groups; ++j) bottom.v[j] = hn::LoadU(d, levels + j * N);
        if (row + 1 < longest) levels = reader.Row(row + 1);
        QAV_EACH_REGISTER for (std::size_t j = 0; j < Groups; ++j) bottom.v[Groups + j] =
            hn::LoadU(d, levels + j * N);
        FirstStage(d, bottom, pairWlev, pairPeriods, inverseG, stages[row / 2 % 4]);
    };
    const auto second = [&](std::size_t row)
                            HWY_ATTR QAV_INLINE_LAMBDA { SecondStage(d, stages[row / 2 % 4]); };
    const auto third = [&](std::size_t row) HWY_ATTR QAV_INLINE_LAMBDA {
        ThirdStage(d, stages[row / 2 % 4], pairPeriods, c, ring, slot(row), N);
    };
    // Rows whose first stage would come before the march: all at once.
    for (std::size_t row = 0; row < Early && row < longest; row += 2) first(row);
    for (std::size_t row = 0; row < Early && row < longest; row += 2) second(row);
    for (std::size_t row = 0; row < Early && row < longest; row += 2) third(row);

    // The first point of every lane, as the single-step march has it.
    HWY_ALIGN double omegas[Groups * MaxLanes], omega2s[Groups * MaxLanes], As[Groups * MaxLanes];
    HWY_ALIGN double h0[Groups * MaxLanes], e0[Groups * MaxLanes], hrms0[Groups * MaxLanes],
        cg0[Groups * MaxLanes], d0[Groups * MaxLanes], significant[Groups * MaxLanes];
    StorePack(d, omega, omegas, N);
    StorePack(d, periods.omega2, omega2s, N);
    StorePack(d, A, As, N);
    for (std::size_t l = 0; l < L; ++l) {
        const LaneStep& s = steps[l < count ? l : 0];
        h0[l] = ring.h[slot(0) + l];
        const Start start = FirstPoint(tp[l], s.TransmittedHm0, Fc, omegas[l], omega2s[l], As[l], h0[l],
                                       ring.k[slot(0) + l], c);
        e0[l] = start.E;
        hrms0[l] = start.H;
        cg0[l] = start.cg;
        d0[l] = start.D;
        significant[l] = ClampedEnergyShare * start.E;
    }

    const P vSignificant = LoadPack<Groups>(d, significant, N);
    const P gRho = C(c.g * c.rho);
    const P gRhoEighth = C(c.g * c.rho * 0.125);
    const P quotientFormBelow = C(QuotientFormBelow(c.g * c.rho));
    const P friction = C(c.rho * TwoOverThreePi * Fc);
    const P zero = C(0.0);
    P E = LoadPack<Groups>(d, e0, N);
    P H = LoadPack<Groups>(d, hrms0, N);
    P cg = LoadPack<Groups>(d, cg0, N);
    P Dis = LoadPack<Groups>(d, d0, N);
    P hLast = LoadPack<Groups>(d, h0, N);
    MP clamped = Lt(zero, zero);
    LanePieceGuess<Groups> guess;
    for (std::size_t j = 0; j < Groups; ++j) guess.piece[j] = hn::Zero(hn::RebindToSigned<D>());
    guess.R = zero;
    guess.onePolynomial = false;
    guess.allWhole = false;
    for (std::size_t row = 1; row < longest; ++row) {
        const std::size_t at = slot(row);
        const P index = C(static_cast<double>(row));
        const MP active = Gt(vPoints, index);
        const P cgNext = LoadPack<Groups>(d, ring.cg + at, N);
        const P h = LoadPack<Groups>(d, ring.h + at, N);
        const P v = Div(Sub(Mul(cg, E), Mul(Dis, vDx)), cgNext);
        clamped =
            Or(clamped, And(And(active, Lt(v, zero)), And(Gt(E, vSignificant), Gt(h, C(MinimumWaterDepth)))));
        const P energy = IfThenElseZero(Gt(v, zero), v);
        const MP wet = Gt(energy, C(EnergyThreshold));
        P height = Sqrt(Div(energy, gRhoEighth));
        bool quotientForm = true;
        for (std::size_t j = 0; j < Groups; ++j)
            quotientForm = quotientForm && hn::AllTrue(d, hn::Lt(energy.v[j], quotientFormBelow.v[j]));
        if (HWY_UNLIKELY(!quotientForm)) height = Sqrt(Div(Mul(energy, C(8.0)), gRho));
        const P Q = RoundedBracket(Div(LoadPack<Groups>(d, ring.hGamma + at, N), height), height, h, omega,
                                   inverseG, And(active, wet), guess);
        const P Db = Div(Mul(Q, Mul(Mul(Mul(height, height), height), A)), h);
        const P u = Div(Mul(LoadPack<Groups>(d, ring.sech + at, N), Mul(height, C(Pi))),
                        LoadPack<Groups>(d, ring.tTp + at, N));
        const P Df = Mul(Mul(Mul(u, u), u), friction);
        E = IfThenElse(active, energy, E);
        cg = IfThenElse(active, cgNext, cg);
        Dis = IfThenElse(active, IfThenElseZero(wet, Add(Db, Df)), Dis);
        H = IfThenElse(active, IfThenElseZero(wet, height), H);
        // The depth of the lane's last point, for the toe direction.
        hLast = IfThenElse(Eq(index, lastRow), h, hLast);

        // Even rows: the first stage and the one of divisions; odd rows the
        // second.
        if (row % 2 == 0) {
            if (row + FirstLead < longest) first(row + FirstLead);
            if (row + ThirdLead >= Early && row + ThirdLead < longest) third(row + ThirdLead);
        } else if (row + SecondLead >= Early && row + SecondLead < longest) {
            second(row + SecondLead);
        }
    }

    HWY_ALIGN double heights[Groups * MaxLanes], hEnd[Groups * MaxLanes];
    std::uint8_t clampedBits[Groups][(MaxLanes + 7) / 8] = {};
    StorePack(d, H, heights, N);
    StorePack(d, hLast, hEnd, N);
    for (std::size_t j = 0; j < Groups; ++j) hn::StoreMaskBits(d, clamped.m[j], clampedBits[j]);
    for (std::size_t l = 0; l < count; ++l) {
        const std::size_t lane = l % N;
        toe[l] = {heights[l] * HrmsToHm0,
                  ToeDirection(DikeNormal, steps[l].IncomingWaveAngle, omegas[l], inverseG, h0[l], hEnd[l]),
                  ((clampedBits[l / N][lane / 8] >> (lane % 8)) & 1u) != 0};
    }
}

void MarchLanesAny(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                   detail::LevelBlocks rows, std::size_t stride, const Constants& c, ToeWaves* toe) {
    if (count == 0) return;
    // A group that fills one register marches one.
    if (count <= hn::Lanes(D())) {
        MarchLanes<1>(Alpha, Fc, DikeNormal, steps, count, rows, stride, c, toe);
    } else {
        MarchLanes<2>(Alpha, Fc, DikeNormal, steps, count, rows, stride, c, toe);
    }
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_LANES_INL_H_
