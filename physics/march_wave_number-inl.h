// Wave numbers of the march (roller_march.cpp): depths, the Halley steps of
// the dispersion relation, the reference's wave number of a point and the
// toe direction from it.

#include <cstddef>

#include "physics/exact_math.h"
#include "physics/physics.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_WAVE_NUMBER_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_WAVE_NUMBER_INL_H_
#undef QAV_PHYSICS_MARCH_WAVE_NUMBER_INL_H_
#else
#define QAV_PHYSICS_MARCH_WAVE_NUMBER_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_tanh-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// ---- wave numbers ----

template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> Depth(DD d, const Pack<DD, K>& bottom, const Pack<DD, K>& Wlev) {
    const Pack<DD, K> minimum = Constant<K>(d, MinimumWaterDepth);
    const Pack<DD, K> depth = Sub(Wlev, bottom);
    // A dry point, or a NaN difference, keeps the minimum depth.
    return IfThenElse(Gt(depth, minimum), depth, minimum);
}

// One Halley step of WaveNumber on x = k h, given T = tanh(x).
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> HalleyStep(DD d, const Pack<DD, K>& x, const Pack<DD, K>& T, const Pack<DD, K>& deep) {
    using P = Pack<DD, K>;
    const P one = Constant<K>(d, 1.0);
    const P sech2 = Sub(one, Mul(T, T));
    const P halfSlope = Mul(Add(Mul(sech2, x), T), Constant<K>(d, 0.5));
    const P Tx = Mul(T, x);
    const P f = Sub(Tx, deep);
    const P curvature = Mul(Mul(Sub(Tx, one), sech2), f);
    const P root = Sqrt(Add(curvature, Mul(halfSlope, halfSlope)));
    return Sub(x, Div(f, Add(root, halfSlope)));
}

// The wave number of a point of depth h by the two Halley steps of the stages
// below, one point at a time, with tanh rounded as Mode says: Plain gives the
// stages' own wave number, AsGlibc the reference march's.
template <Rounding Mode>
double WaveNumberOf(double h, double omega, double inverseG) {
    const hn::CappedTag<double, 1> d1;
    const auto C = [d1](double v) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<1>(d1, v); };
    const auto vh = C(h);
    const auto vOmega = C(omega);
    const auto deep = Mul(Mul(vh, Mul(vOmega, vOmega)), C(inverseG));
    const auto x = HalleyStep(d1, deep, Tanh<Mode>(d1, deep), deep);
    const double q = hn::GetLane(Div(HalleyStep(d1, x, Tanh<Mode>(d1, x), deep), vh).v[0]);
    return omega >= 0.0 ? q : -q;
}

// The toe direction of a step from the reference's wave numbers at its first
// point (depth hFirst) and its last (hLast): near grazing incidence a wave
// number a few units in the last place off would move the direction far more
// than that.
double ToeDirection(double DikeNormal, double IncomingWaveAngle, double omega, double inverseG, double hFirst,
                    double hLast) {
    const double kFirst = WaveNumberOf<Rounding::AsGlibc>(hFirst, omega, inverseG);
    const double kLast = hLast == hFirst ? kFirst : WaveNumberOf<Rounding::AsGlibc>(hLast, omega, inverseG);
    return NearestRefractedWaveDirection(DikeNormal, IncomingWaveAngle, omega / kFirst, omega / kLast);
}
// h gamma at a point of depth h from the reference's wave number.
double ReferenceHGamma(double h, double omega, double inverseG) {
    return h * (WaveNumberOf<Rounding::AsGlibc>(h, omega, inverseG) * 0.76 * h + 0.29);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_WAVE_NUMBER_INL_H_
