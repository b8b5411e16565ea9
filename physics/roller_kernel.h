// The march of the energy balance on SIMD registers, written once for every
// instruction set. A file per instruction set defines the register type
// `Isa` (width W, arithmetic, the vector math of its library) in an anonymous
// namespace and then includes this file, so that nothing here is shared
// between files compiled for different processors.
//
// Every formula keeps the order of operations of the reference march; only
// tanh comes from the vector math library (glibc's libmvec), and the bracket
// of the breaking dissipation from a piecewise polynomial fit (BracketFit).
// The bracket is rounded to single precision; wherever it is at least 1e-8,
// the float is always the reference's: where the fit lies too close to a
// boundary between two floats, the bracket is taken from the C library's erf
// and exp. Below 1e-8 the C library's own erf (within a unit in the last place
// of a number near 1) does not settle the float either, and the fit's float is
// kept: it is then within 1e-15 of the reference's. One march of the fit is
// written for registers and for single numbers with the same operations, so
// that a time step in a lane and marched alone get the same bracket.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "physics/bracket.h"
#include "physics/physics.h"
#include "physics/roller_fast.h"

namespace qav {
namespace {

using V = Isa::V;
using Mask = Isa::Mask;
constexpr std::size_t W = Isa::W;

// Adding 1.5 * 2^52 to PerUnit R rounds it to an integer j, found in the low
// bits.
constexpr double PieceShift = 6755399441055744.0;
// The reference's bracket lies within doubt of the exact one: its erf within
// two units in the last place of a number near 1, the rest within a few units
// in the last place of the bracket (far inside the fit's tolerance).
constexpr double ReferenceErfDoubt = 2.3e-16;
// Below this the fit's float is kept (see the top of this file).
constexpr double TinyBracket = 1e-8;

// The piece of the fit is chosen from an estimate of R (from the processor's
// rough reciprocal square root of the energy, within 4e-4) that is ready
// before R itself: R waits for a division, a square root and a division, and
// the coefficients are then already loaded. The estimate is clamped to the fit.
double PieceOf(double estimate) {
    const double below = estimate < BracketFit::Limit ? estimate : BracketFit::Limit;  // NaN: Limit
    const double clamped = below > 0.0 ? below : 0.0;
    return Isa::MulAdd(clamped, BracketFit::PerUnit, PieceShift);
}

V PiecesOf(V estimate) {
    const V limit = Isa::Set(BracketFit::Limit);
    const V zero = Isa::Set(0.0);
    const V below = Isa::Select(Isa::Greater(limit, estimate), estimate, limit);
    const V clamped = Isa::Select(Isa::Greater(below, zero), below, zero);
    return Isa::MulAdd(clamped, Isa::Set(BracketFit::PerUnit), Isa::Set(PieceShift));
}

// Estrin's scheme for the fit's degree 7, one function for single numbers and
// for registers, so that a lane and a single step get the same bracket: three
// multiply-adds one after the other once t is known.
template <class T>
T FitPolynomial(const T* c, T t) {
    const T t2 = Isa::Mul(t, t);
    const T t4 = Isa::Mul(t2, t2);
    const T p01 = Isa::MulAdd(c[1], t, c[0]);
    const T p23 = Isa::MulAdd(c[3], t, c[2]);
    const T p45 = Isa::MulAdd(c[5], t, c[4]);
    const T p67 = Isa::MulAdd(c[7], t, c[6]);
    const T p03 = Isa::MulAdd(p23, t2, p01);
    const T p47 = Isa::MulAdd(p67, t2, p45);
    return Isa::MulAdd(p47, t4, p03);
}

// The polynomial of piece u (as PieceOf gives it) at t = PerUnit R - j.
double FittedBracketValue(double u, double t, const double* fit) {
    const double* c = fit + (std::bit_cast<std::uint64_t>(u) & BracketFit::PieceMask) *
                                static_cast<std::uint64_t>(BracketFit::Stride);
    return FitPolynomial(c, t);
}

// FittedBracketValue for W pieces.
V FittedBracketValues(V u, V t, const double* fit) {
    const typename Isa::Offsets o = Isa::PieceOffsets(u);
    V c[BracketFit::Terms];
    for (int m = 0; m < BracketFit::Terms; ++m) c[m] = Isa::Gather(fit + m, o);
    return FitPolynomial<V>(c, t);
}
static_assert(BracketFit::Terms == 8, "FittedBracketValue is written out for degree 7");
static_assert(BracketFit::Stride == 8, "PieceOffsets shift piece numbers by 3");

// The bracket as BreakingDissipation forms it, rounded to single precision.
double ReferenceRoundedBracket(double R) {
    const double bracket =
        (1.0 - std::erf(R)) + std::exp(-R * R) * ((1.5 * R + R * R * R) * 0.7522527780636751);
    return static_cast<double>(static_cast<float>(bracket));
}

// The bracket rounded to single precision, from the fit where it settles the
// float (or where the bracket is tiny), else from the reference. estimate is
// R within 4e-4.
double RoundedBracket(double R, double estimate, const double* fit) {
    const double u = PieceOf(estimate);
    const double t = Isa::MulAdd(R, BracketFit::PerUnit, -(u - PieceShift));
    if (!(R >= 0.0 && std::fabs(t) <= BracketFit::Reach)) {
        // Past the fit the bracket's float is 0 (up to R = 1e100; beyond,
        // R^3 overflows and the reference has NaN); a NaN R, or one outside
        // the reach of the piece, takes the reference.
        return R >= BracketFit::Limit && R < BracketFit::ZeroUpTo ? 0.0 : ReferenceRoundedBracket(R);
    }
    const double b = FittedBracketValue(u, t, fit);
    const double doubt = b * BracketFit::Tolerance + ReferenceErfDoubt;
    if (b < TinyBracket || static_cast<float>(b - doubt) == static_cast<float>(b + doubt)) {
        return static_cast<double>(static_cast<float>(b));
    }
    return ReferenceRoundedBracket(R);
}

// RoundedBracket for W values of R; lanes outside active are not looked at.
V RoundedBracket(V R, V estimate, Mask active, const double* fit) {
    const V zero = Isa::Set(0.0);
    const V u = PiecesOf(estimate);
    const V t = Isa::MulAdd(R, Isa::Set(BracketFit::PerUnit), Isa::Neg(Isa::Sub(u, Isa::Set(PieceShift))));
    const Mask fitted =
        Isa::And(Isa::GreaterEqual(R, zero), Isa::GreaterEqual(Isa::Set(BracketFit::Reach), Isa::Abs(t)));
    const V b = FittedBracketValues(u, t, fit);
    const V doubt = Isa::Add(Isa::Mul(b, Isa::Set(BracketFit::Tolerance)), Isa::Set(ReferenceErfDoubt));
    const Mask settled =
        Isa::Or(Isa::Greater(Isa::Set(TinyBracket), b),
                Isa::Equal(Isa::ToFloatAndBack(Isa::Sub(b, doubt)), Isa::ToFloatAndBack(Isa::Add(b, doubt))));
    const Mask taken = Isa::And(fitted, settled);
    // Lanes past the fit and outside every piece's reach take 0.
    const unsigned beyond = Isa::Bits(Isa::And(Isa::GreaterEqual(R, Isa::Set(BracketFit::Limit)),
                                               Isa::Greater(Isa::Set(BracketFit::ZeroUpTo), R))) &
                            ~Isa::Bits(fitted);
    V Q = Isa::Select(taken, Isa::ToFloatAndBack(b), zero);
    const unsigned open = Isa::Bits(active) & ~(Isa::Bits(taken) | beyond);
    if (open != 0) {
        alignas(64) double q[W];
        alignas(64) double r[W];
        Isa::Store(q, Q);
        Isa::Store(r, R);
        for (std::size_t l = 0; l < W; ++l) {
            if (((open >> l) & 1u) != 0) q[l] = ReferenceRoundedBracket(r[l]);
        }
        Q = Isa::Load(q);
    }
    return Q;
}

// The toe direction from the wave numbers of the first and the last point as
// the reference march has them (the C library's tanh): two points per time
// step, and the direction is then exactly the reference's. Near 0 degrees it
// is a small difference of large angles, where wave numbers a unit in the
// last place apart would show.
double ToeDirection(double DikeNormal, double IncomingWaveAngle, double omega, double Wlev, double firstLevel,
                    double lastLevel, const Constants& c) {
    const auto depth = [Wlev](double level) {
        const double d = Wlev - level;
        return d > MinimumWaterDepth ? d : MinimumWaterDepth;
    };
    const double kFirst = WaveNumber(omega, depth(firstLevel), c);
    const double kLast = WaveNumber(omega, depth(lastLevel), c);
    return RefractedWaveDirection(DikeNormal, IncomingWaveAngle, PhaseCelerity(omega, kFirst),
                                  PhaseCelerity(omega, kLast));
}

// WaveNumber for W depths: two Halley steps from the deep-water value.
V WaveNumbers(V omega, V h, double inverseG) {
    const V one = Isa::Set(1.0);
    const V deep = Isa::Mul(Isa::Mul(h, Isa::Mul(omega, omega)), Isa::Set(inverseG));
    V x = deep;
    for (int step = 0; step < 2; ++step) {
        const V T = Isa::Tanh(x);
        const V sech2 = Isa::Sub(one, Isa::Mul(T, T));
        const V halfSlope = Isa::Mul(Isa::Add(Isa::Mul(sech2, x), T), Isa::Set(0.5));
        const V f = Isa::Sub(Isa::Mul(T, x), deep);
        const V curvature = Isa::Mul(Isa::Mul(Isa::Sub(Isa::Mul(T, x), one), sech2), f);
        const V root = Isa::Sqrt(Isa::Add(curvature, Isa::Mul(halfSlope, halfSlope)));
        x = Isa::Sub(x, Isa::Div(f, Isa::Add(root, halfSlope)));
    }
    // -x / h is the negated x / h: the quotient's sign does not change its rounding.
    const V k = Isa::Div(x, h);
    return Isa::Select(Isa::GreaterEqual(omega, Isa::Set(0.0)), k, Isa::Neg(k));
}

// WaveNumbers for N rows of W depths at once, their steps side by side so
// that the processor works on all of them while any one waits.
template <std::size_t N>
void WaveNumbersSideBySide(const V* omega, const V* h, V* k, double inverseG) {
    const V one = Isa::Set(1.0);
    V deep[N];
    V x[N];
    for (std::size_t j = 0; j < N; ++j) {
        deep[j] = Isa::Mul(Isa::Mul(h[j], Isa::Mul(omega[j], omega[j])), Isa::Set(inverseG));
        x[j] = deep[j];
    }
    for (int step = 0; step < 2; ++step) {
        V T[N];
        for (std::size_t j = 0; j < N; ++j) T[j] = Isa::Tanh(x[j]);
        for (std::size_t j = 0; j < N; ++j) {
            const V sech2 = Isa::Sub(one, Isa::Mul(T[j], T[j]));
            const V halfSlope = Isa::Mul(Isa::Add(Isa::Mul(sech2, x[j]), T[j]), Isa::Set(0.5));
            const V f = Isa::Sub(Isa::Mul(T[j], x[j]), deep[j]);
            const V curvature = Isa::Mul(Isa::Mul(Isa::Sub(Isa::Mul(T[j], x[j]), one), sech2), f);
            const V root = Isa::Sqrt(Isa::Add(curvature, Isa::Mul(halfSlope, halfSlope)));
            x[j] = Isa::Sub(x[j], Isa::Div(f, Isa::Add(root, halfSlope)));
        }
    }
    for (std::size_t j = 0; j < N; ++j) {
        const V q = Isa::Div(x[j], h[j]);
        k[j] = Isa::Select(Isa::GreaterEqual(omega[j], Isa::Set(0.0)), q, Isa::Neg(q));
    }
}

// The quantities of W points that do not depend on the wave energy.
struct PointQuantities {
    V h, k, cg, hGamma, sech, tTp;
};

V Depth(V bottom, V Wlev) {
    const V minimum = Isa::Set(MinimumWaterDepth);
    const V depth = Isa::Sub(Wlev, bottom);
    // A dry point, or a NaN difference, keeps the minimum depth.
    return Isa::Select(Isa::Greater(depth, minimum), depth, minimum);
}

// The rest from depth h and wave number k.
PointQuantities FromWaveNumber(V h, V k, V omega2, V Tp, const Constants& c) {
    PointQuantities p;
    p.h = h;
    p.k = k;
    // t stands for tanh(k h), from the dispersion relation.
    const V t = Isa::Div(omega2, Isa::Mul(p.k, Isa::Set(c.g)));
    const V sech2 = Isa::Sub(Isa::Set(1.0), Isa::Mul(t, t));
    const V n = Isa::Add(Isa::Div(Isa::Mul(sech2, Isa::Mul(p.h, p.k)), Isa::Add(t, t)), Isa::Set(0.5));
    p.cg = Isa::Div(Isa::Mul(n, Isa::Set(TwoPi)), Isa::Mul(Tp, p.k));
    const V gamma = Isa::Add(Isa::Mul(Isa::Mul(p.k, Isa::Set(0.76)), p.h), Isa::Set(0.29));
    p.hGamma = Isa::Mul(p.h, gamma);
    p.sech = Isa::Sqrt(Isa::MaxWithZero(sech2));
    p.tTp = Isa::Mul(t, Tp);
    return p;
}

PointQuantities Quantities(V bottom, V Wlev, V omega, V omega2, V Tp, const Constants& c) {
    const V h = Depth(bottom, Wlev);
    return FromWaveNumber(h, WaveNumbers(omega, h, 1.0 / c.g), omega2, Tp, c);
}

// One time step, marched point after point; the per-point quantities of
// later points are computed while the march works through the current ones.
ToeWaves MarchOne(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev, double DikeNormal,
                  double IncomingWaveAngle, double gridStep, const double* bottomLevel, std::size_t P,
                  const Constants& c, double* store) {
    if (P == 0) return {std::nan(""), std::nan("")};
    const double f = 1.0 / Tp;
    const double omega = f * TwoPi;
    const double omega2 = omega * omega;
    const double HIn = TransmittedHm0 * Hm0ToHrms;
    const std::size_t padded = (P + W - 1) / W * W;
    double* h = store;
    double* k = h + padded;
    double* cg = k + padded;
    double* hGamma = cg + padded;
    double* sech = hGamma + padded;
    double* tTp = sech + padded;

    const V vWlev = Isa::Set(Wlev);
    const V vOmega = Isa::Set(omega);
    const V vOmega2 = Isa::Set(omega2);
    const V vTp = Isa::Set(Tp);
    const auto pass = [&](std::size_t first) {
        V bottom;
        if (first + W <= P) {
            bottom = Isa::Load(bottomLevel + first);
        } else {
            alignas(64) double tail[W];
            for (std::size_t l = 0; l < W; ++l) tail[l] = bottomLevel[first + l < P ? first + l : P - 1];
            bottom = Isa::Load(tail);
        }
        const PointQuantities p = Quantities(bottom, vWlev, vOmega, vOmega2, vTp, c);
        Isa::Store(h + first, p.h);
        Isa::Store(k + first, p.k);
        Isa::Store(cg + first, p.cg);
        Isa::Store(hGamma + first, p.hGamma);
        Isa::Store(sech + first, p.sech);
        Isa::Store(tTp + first, p.tTp);
    };

    pass(0);
    // First point: the offshore boundary, no threshold test.
    const double t0 = omega2 / (k[0] * c.g);
    double cgBehind = GroupVelocity(GroupVelocityRatioFromTanh(k[0], h[0], t0), k[0], Tp);
    double E = WaveEnergy(HIn, c);
    double H = WaveHeightFromEnergy(E, c);
    const double R0 = BreakerHeightRatio(BreakerIndex(k[0], h[0]), h[0], H);
    double D = BreakingDissipation(Alpha, f, R0, H, h[0], c) + FrictionDissipation(Fc, H, k[0], h[0], Tp, c);

    const double* fit = &FittedBracket().coefficient[0][0];
    const double gRho = c.g * c.rho;
    const double gRhoEighth = gRho / 8.0;
    const double rootGRhoEighth = std::sqrt(gRhoEighth);
    // g rho / 8 is exact unless it falls among the subnormal numbers.
    const double energyCeiling = gRho >= 1e-300 ? 1e300 : 0.0;
    const double A = Alpha * 0.33233509704478426 * c.rho * c.g * f;
    const double friction = c.rho * 0.2122065907891938 * Fc;
    // The quantities run two groups of W points ahead of the march, and are
    // asked for after the march of a group: the march's operations are then
    // the older ones, and the processor serves them first.
    if (W < P) pass(W);
    for (std::size_t group = 0; group < P; group += W) {
        const std::size_t end = group + W < P ? group + W : P;
        for (std::size_t i = group == 0 ? 1 : group; i < end; ++i) {
            const double cgNext = cg[i];
            // First-order upwind; a negative or NaN energy becomes 0.
            const double v = (cgBehind * E - D * gridStep) / cgNext;
            E = v > 0.0 ? v : 0.0;
            cgBehind = cgNext;
            if (E > EnergyThreshold) {
                // Here E is v: the height is taken from v, a step earlier on
                // the chain. E / (g rho / 8) is E * 8 / (g rho) exactly (both
                // scalings by 8 are exact) unless E * 8 would overflow.
                H = v < energyCeiling ? std::sqrt(v / gRhoEighth) : std::sqrt(v * 8.0 / gRho);
                // R = h gamma sqrt(g rho / 8) / sqrt(v), estimated.
                const double estimate = hGamma[i] * rootGRhoEighth * Isa::RoughInverseSqrt(v);
                const double Q = RoundedBracket(hGamma[i] / H, estimate, fit);
                const double Db = Q * (H * H * H * A) / h[i];
                const double u = sech[i] * (H * Pi) / tTp[i];
                D = Db + u * u * u * friction;
            } else {
                H = 0.0;
                D = 0.0;
            }
        }
        if (group + 2 * W < P) pass(group + 2 * W);
    }
    return {H * HrmsToHm0, ToeDirection(DikeNormal, IncomingWaveAngle, omega, Wlev, bottomLevel[0],
                                        bottomLevel[P - 1], c)};
}

// Lanes of one march: Groups registers of W time steps each. The groups'
// chains of dependent operations are independent, so the processor works on
// one group while the other waits.
constexpr std::size_t Groups = 2;
constexpr std::size_t Lanes = Groups * W;

// Up to Lanes time steps, one per lane, marched together to the longest one's
// last point; a lane stops changing after its own last point. Row i of levels
// holds the Lanes levels of point i; item j = i * Groups + g of a row is the W
// levels of group g.
void MarchLanes(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                const double* levels, const Constants& c, ToeWaves* toe) {
    alignas(64) double tp[Lanes], hm0[Lanes], wlev[Lanes], dx[Lanes], points[Lanes];
    std::size_t longest = 0;
    for (std::size_t l = 0; l < Lanes; ++l) {
        const LaneStep& s = steps[l < count ? l : 0];
        tp[l] = s.Tp;
        hm0[l] = s.TransmittedHm0;
        wlev[l] = s.Wlev;
        dx[l] = s.gridStep;
        points[l] = static_cast<double>(s.points);
        if (s.points > longest) longest = s.points;
    }
    V vTp[Groups], f[Groups], omega[Groups], omega2[Groups], vWlev[Groups], vDx[Groups], vPoints[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        vTp[g] = Isa::Load(tp + g * W);
        f[g] = Isa::Div(Isa::Set(1.0), vTp[g]);
        omega[g] = Isa::Mul(f[g], Isa::Set(TwoPi));
        omega2[g] = Isa::Mul(omega[g], omega[g]);
        vWlev[g] = Isa::Load(wlev + g * W);
        vDx[g] = Isa::Load(dx + g * W);
        vPoints[g] = Isa::Load(points + g * W);
    }

    // First point of every lane with the reference formulas.
    alignas(64) double h0[Lanes], k0[Lanes], e0[Lanes], hrms0[Lanes], cg0[Lanes], d0[Lanes], f0[Lanes],
        omega0[Lanes];
    for (std::size_t g = 0; g < Groups; ++g) {
        const PointQuantities p = Quantities(Isa::Load(levels + g * W), vWlev[g], omega[g], omega2[g], vTp[g], c);
        Isa::Store(h0 + g * W, p.h);
        Isa::Store(k0 + g * W, p.k);
        Isa::Store(f0 + g * W, f[g]);
        Isa::Store(omega0 + g * W, omega[g]);
    }
    for (std::size_t l = 0; l < Lanes; ++l) {
        const double t0 = (omega0[l] * omega0[l]) / (k0[l] * c.g);
        cg0[l] = GroupVelocity(GroupVelocityRatioFromTanh(k0[l], h0[l], t0), k0[l], tp[l]);
        e0[l] = WaveEnergy(hm0[l] * Hm0ToHrms, c);
        hrms0[l] = WaveHeightFromEnergy(e0[l], c);
        const double R0 = BreakerHeightRatio(BreakerIndex(k0[l], h0[l]), h0[l], hrms0[l]);
        d0[l] = BreakingDissipation(Alpha, f0[l], R0, hrms0[l], h0[l], c) +
                FrictionDissipation(Fc, hrms0[l], k0[l], h0[l], tp[l], c);
    }
    V E[Groups], H[Groups], cg[Groups], D[Groups], A[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        E[g] = Isa::Load(e0 + g * W);
        H[g] = Isa::Load(hrms0 + g * W);
        cg[g] = Isa::Load(cg0 + g * W);
        D[g] = Isa::Load(d0 + g * W);
        A[g] = Isa::Mul(Isa::Set(Alpha * 0.33233509704478426 * c.rho * c.g), f[g]);
    }

    const double* fit = &FittedBracket().coefficient[0][0];
    const V zero = Isa::Set(0.0);
    const V gRho = Isa::Set(c.g * c.rho);
    const V rootGRhoEighth = Isa::Set(std::sqrt(c.g * c.rho / 8.0));
    const V friction = Isa::Set(c.rho * 0.2122065907891938 * Fc);
    // The quantities of a block of rows first, then the march through them:
    // the march's chains of dependent operations then have the processor to
    // themselves instead of waiting behind the vector math of the same row.
    constexpr std::size_t Rows = 16;
    constexpr std::size_t Items = Rows * Groups;
    alignas(64) double hItems[Items * W], cgItems[Items * W], hGammaItems[Items * W], sechItems[Items * W],
        tTpItems[Items * W];
    for (std::size_t block = 1; block < longest; block += Rows) {
        const std::size_t rows = longest - block < Rows ? longest - block : Rows;
        const std::size_t items = rows * Groups;
        const double* first = levels + block * Lanes;
        const auto keep = [&](std::size_t j, const PointQuantities& q) {
            Isa::Store(hItems + j * W, q.h);
            Isa::Store(cgItems + j * W, q.cg);
            Isa::Store(hGammaItems + j * W, q.hGamma);
            Isa::Store(sechItems + j * W, q.sech);
            Isa::Store(tTpItems + j * W, q.tTp);
        };
        constexpr std::size_t Side = 4;
        static_assert(Side % Groups == 0);
        std::size_t j = 0;
        for (; j + Side <= items; j += Side) {
            V h[Side];
            V k[Side];
            V w[Side];
            for (std::size_t s = 0; s < Side; ++s) {
                h[s] = Depth(Isa::Load(first + (j + s) * W), vWlev[s % Groups]);
                w[s] = omega[s % Groups];
            }
            WaveNumbersSideBySide<Side>(w, h, k, 1.0 / c.g);
            for (std::size_t s = 0; s < Side; ++s) {
                keep(j + s, FromWaveNumber(h[s], k[s], omega2[s % Groups], vTp[s % Groups], c));
            }
        }
        for (; j < items; ++j) {
            const std::size_t g = j % Groups;
            keep(j, Quantities(Isa::Load(first + j * W), vWlev[g], omega[g], omega2[g], vTp[g], c));
        }
        for (std::size_t r = 0; r < rows; ++r) {
            const V row = Isa::Set(static_cast<double>(block + r));
            for (std::size_t g = 0; g < Groups; ++g) {
                const std::size_t at = (r * Groups + g) * W;
                const Mask active = Isa::Greater(vPoints[g], row);
                const V cgNext = Isa::Load(cgItems + at);
                const V v = Isa::Div(Isa::Sub(Isa::Mul(cg[g], E[g]), Isa::Mul(D[g], vDx[g])), cgNext);
                const V energy = Isa::Select(Isa::Greater(v, zero), v, zero);
                const Mask wet = Isa::Greater(energy, Isa::Set(EnergyThreshold));
                const V height = Isa::Sqrt(Isa::Div(Isa::Mul(energy, Isa::Set(8.0)), gRho));
                const V hGamma = Isa::Load(hGammaItems + at);
                const V estimate = Isa::Mul(Isa::Mul(hGamma, rootGRhoEighth), Isa::RoughInverseSqrt(energy));
                const V Q = RoundedBracket(Isa::Div(hGamma, height), estimate, Isa::And(active, wet), fit);
                const V Db = Isa::Div(Isa::Mul(Q, Isa::Mul(Isa::Mul(Isa::Mul(height, height), height), A[g])),
                                      Isa::Load(hItems + at));
                const V u = Isa::Div(Isa::Mul(Isa::Load(sechItems + at), Isa::Mul(height, Isa::Set(Pi))),
                                     Isa::Load(tTpItems + at));
                const V Df = Isa::Mul(Isa::Mul(Isa::Mul(u, u), u), friction);
                E[g] = Isa::Select(active, energy, E[g]);
                cg[g] = Isa::Select(active, cgNext, cg[g]);
                D[g] = Isa::Select(active, Isa::Select(wet, Isa::Add(Db, Df), zero), D[g]);
                H[g] = Isa::Select(active, Isa::Select(wet, height, zero), H[g]);
            }
        }
    }

    alignas(64) double hLast[Lanes];
    for (std::size_t g = 0; g < Groups; ++g) Isa::Store(hLast + g * W, H[g]);
    for (std::size_t l = 0; l < count; ++l) {
        toe[l] = {hLast[l] * HrmsToHm0,
                  ToeDirection(DikeNormal, steps[l].IncomingWaveAngle, omega0[l], wlev[l], levels[l],
                               levels[(steps[l].points - 1) * Lanes + l], c)};
    }
}

} // namespace
} // namespace qav
