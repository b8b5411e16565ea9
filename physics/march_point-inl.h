// The quantities of the points of a march (roller_march.cpp) that do not
// depend on the energy, computed in stages between the points of its chain,
// and the first point of a time step.

#include <cstddef>

#include "physics/physics.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_POINT_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_POINT_INL_H_
#undef QAV_PHYSICS_MARCH_POINT_INL_H_
#else
#define QAV_PHYSICS_MARCH_POINT_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_bracket_one-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// ---- the quantities of a point ----

// The quantities of points that do not depend on the energy, in a ring: entry
// i holds those of every point (or lane of a row) whose place is congruent
// to i.
template <std::size_t Entries>
struct QuantityRing {
    HWY_ALIGN double h[Entries];
    HWY_ALIGN double k[Entries];
    HWY_ALIGN double cg[Entries];
    HWY_ALIGN double hGamma[Entries];
    HWY_ALIGN double sech[Entries];
    HWY_ALIGN double tTp[Entries];
};

// The constants of K registers of lanes: omega, omega^2 and Tp.
template <class DD, std::size_t K>
struct Periods {
    Pack<DD, K> omega, omega2, Tp;
};

// The wave numbers of K registers of points from x = k h after the second
// Halley step, and the quantities that follow, stored at entry at (register
// j at + j stride).
template <class DD, std::size_t K, std::size_t Entries>
HWY_INLINE void StoreQuantities(DD d, const Pack<DD, K>& h, const Pack<DD, K>& x, const Periods<DD, K>& w,
                                const Constants& c, QuantityRing<Entries>& ring, std::size_t at,
                                std::size_t stride) {
    using P = Pack<DD, K>;
    const auto C = [d](double v) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, v); };
    // -x / h is the negated x / h: the quotient's sign does not change its rounding.
    const P q = Div(x, h);
    const P k = IfThenElse(Ge(w.omega, C(0.0)), q, Neg(q));
    // t stands for tanh(k h), from the dispersion relation.
    const P t = Div(w.omega2, Mul(k, C(c.g)));
    const P sech2 = Sub(C(1.0), Mul(t, t));
    const P n = Add(Div(Mul(sech2, Mul(h, k)), Add(t, t)), C(0.5));
    const P gamma = Add(Mul(Mul(k, C(0.76)), h), C(0.29));
    StorePack(d, h, ring.h + at, stride);
    StorePack(d, k, ring.k + at, stride);
    StorePack(d, Div(Mul(n, C(TwoPi)), Mul(w.Tp, k)), ring.cg + at, stride);
    StorePack(d, Mul(h, gamma), ring.hGamma + at, stride);
    // sqrt(max(1 - t^2, 0)) as std::max has it: a NaN stays NaN.
    StorePack(d, Sqrt(IfThenElse(Lt(sech2, C(0.0)), C(0.0), sech2)), ring.sech + at, stride);
    StorePack(d, Mul(t, w.Tp), ring.tTp + at, stride);
}

// The wave numbers of K registers of depths, in three stages of about equal
// work that a march runs between the points of its chain, each long after the
// one before has finished. In between, the stages keep their values here.
template <std::size_t K>
struct StageValues {
    HWY_ALIGN double h[K][MaxLanes];
    HWY_ALIGN double deep[K][MaxLanes];
    HWY_ALIGN double x[K][MaxLanes];
    HWY_ALIGN double T[K][MaxLanes];
};

// The depths, the deep-water start and the first tanh.
template <class DD, std::size_t K>
HWY_INLINE void FirstStage(DD d, const Pack<DD, K>& bottom, const Pack<DD, K>& Wlev, const Periods<DD, K>& w,
                           double inverseG, StageValues<K>& v) {
    const Pack<DD, K> h = Depth(d, bottom, Wlev);
    const Pack<DD, K> deep = Mul(Mul(h, Mul(w.omega, w.omega)), Constant<K>(d, inverseG));
    StorePack(d, h, &v.h[0][0], MaxLanes);
    StorePack(d, deep, &v.deep[0][0], MaxLanes);
    StorePack(d, Tanh<Rounding::Plain>(d, deep), &v.T[0][0], MaxLanes);
}

// The first Halley step and the second tanh.
template <class DD, std::size_t K>
HWY_INLINE void SecondStage(DD d, StageValues<K>& v) {
    const Pack<DD, K> deep = LoadPack<K>(d, &v.deep[0][0], MaxLanes);
    const Pack<DD, K> x = HalleyStep(d, deep, LoadPack<K>(d, &v.T[0][0], MaxLanes), deep);
    StorePack(d, x, &v.x[0][0], MaxLanes);
    StorePack(d, Tanh<Rounding::Plain>(d, x), &v.T[0][0], MaxLanes);
}

// The second Halley step and the quantities of the points.
template <class DD, std::size_t K, std::size_t Entries>
HWY_INLINE void ThirdStage(DD d, const StageValues<K>& v, const Periods<DD, K>& w, const Constants& c,
                           QuantityRing<Entries>& ring, std::size_t at, std::size_t stride) {
    const Pack<DD, K> x =
        HalleyStep(d, LoadPack<K>(d, &v.x[0][0], MaxLanes), LoadPack<K>(d, &v.T[0][0], MaxLanes),
                   LoadPack<K>(d, &v.deep[0][0], MaxLanes));
    StoreQuantities(d, LoadPack<K>(d, &v.h[0][0], MaxLanes), x, w, c, ring, at, stride);
}

// Energy, height, group velocity and dissipation at the offshore end of a
// time step, from its depth h0 and wave number k0.
struct Start {
    double E, H, cg, D;
    PieceGuess piece;  // of the bracket fit at the next point
};

Start FirstPoint(double Tp, double TransmittedHm0, double Fc, double omega, double omega2, double A,
                 double h0, double k0, const Constants& c) {
    Start s;
    const double t0 = omega2 / (k0 * c.g);
    s.cg = GroupVelocity(GroupVelocityRatioFromTanh(k0, h0, t0), k0, Tp);
    s.E = WaveEnergy(TransmittedHm0 * Hm0ToHrms, c);
    s.H = WaveHeightFromEnergy(s.E, c);
    const double R0 = BreakerHeightRatio(BreakerIndex(k0, h0), h0, s.H);
    s.piece.R = R0;
    // R from the reference's wave number at the first point.
    const auto referenceR0 = [&] {
        const double k = WaveNumberOf<Rounding::AsGlibc>(h0, omega, 1.0 / c.g);
        return BreakerHeightRatio(BreakerIndex(k, h0), h0, s.H);
    };
    const double Db = RoundedBracket(R0, s.piece, referenceR0) * (s.H * s.H * s.H * A) / h0;
    const double u = (s.H * Pi) / (Sinh(h0 * k0) * Tp);
    s.D = Db + u * u * u * (c.rho * TwoOverThreePi * Fc);
    return s;
}

// Below this energy sqrt(E 8 / (g rho)) is sqrt(E / (g rho / 8)): both are
// the rounded quotient of the same two numbers while E 8 does not overflow
// and g rho / 8 is exact. The second takes one dependent multiplication less.
// 0 (never) when g rho / 8 would lose bits.
double QuotientFormBelow(double gRho) { return gRho >= 0x1p-1019 ? 0x1p1020 : 0.0; }

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_POINT_INL_H_
