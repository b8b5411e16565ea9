// The march on SSE2 registers, two doubles wide, with glibc's vector tanh: the
// path of every x86-64 processor.
#include <emmintrin.h>

// glibc's vector math library (libmvec), within 4 ulp.
extern "C" {
__m128d _ZGVbN2v_tanh(__m128d);
}

namespace qav {
namespace {

struct Isa {
    using V = __m128d;
    using Mask = __m128d;
    static constexpr std::size_t W = 2;
    static V Load(const double* p) { return _mm_loadu_pd(p); }
    static void Store(double* p, V v) { _mm_storeu_pd(p, v); }
    static V Set(double x) { return _mm_set1_pd(x); }
    static V Add(V a, V b) { return _mm_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V Div(V a, V b) { return _mm_div_pd(a, b); }
    static V Sqrt(V a) { return _mm_sqrt_pd(a); }
    static V Neg(V a) { return _mm_xor_pd(a, _mm_set1_pd(-0.0)); }
    static V Abs(V a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
    // max(a, 0) as std::max(a, 0.0): a NaN stays NaN.
    static V MaxWithZero(V a) { return _mm_max_pd(_mm_setzero_pd(), a); }
    static Mask Greater(V a, V b) { return _mm_cmpgt_pd(a, b); }
    static Mask GreaterEqual(V a, V b) { return _mm_cmpge_pd(a, b); }
    static Mask Equal(V a, V b) { return _mm_cmpeq_pd(a, b); }
    static Mask And(Mask a, Mask b) { return _mm_and_pd(a, b); }
    static unsigned Bits(Mask m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
    static V Select(Mask m, V a, V b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
    static V ToFloatAndBack(V a) { return _mm_cvtps_pd(_mm_cvtpd_ps(a)); }
    static V Tanh(V a) { return _ZGVbN2v_tanh(a); }
    // Multiply and add, rounded twice: no FMA on every x86-64. The scalar
    // form rounds the same way, so that both give one bracket.
    static V MulAdd(V a, V b, V c) { return _mm_add_pd(_mm_mul_pd(a, b), c); }
    static double MulAdd(double a, double b, double c) { return a * b + c; }
    static double Mul(double a, double b) { return a * b; }
    static Mask Or(Mask a, Mask b) { return _mm_or_pd(a, b); }
    // The processor's rough reciprocal square root (in single precision, within
    // 4e-4); the scalar and the packed instruction give the same numbers.
    static double RoughInverseSqrt(double a) {
        return static_cast<double>(_mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(static_cast<float>(a)))));
    }
    static V RoughInverseSqrt(V a) { return _mm_cvtps_pd(_mm_rsqrt_ps(_mm_cvtpd_ps(a))); }
    // Offsets of the fit's pieces from the low bits of round(32 R) + 1.5 * 2^52.
    using Offsets = __m128i;
    static Offsets PieceOffsets(V u) {
        return _mm_slli_epi64(_mm_and_si128(_mm_castpd_si128(u), _mm_set1_epi64x(0x1ff)), 3);
    }
    static V Gather(const double* column, Offsets o) {
        return _mm_set_pd(column[_mm_cvtsi128_si64(_mm_unpackhi_epi64(o, o))], column[_mm_cvtsi128_si64(o)]);
    }
};

} // namespace
} // namespace qav

#include "physics/roller_kernel.h"

namespace qav::detail {

ToeWaves MarchOneBaseline(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev,
                          double DikeNormal, double IncomingWaveAngle, double gridStep, const double* bottomLevel,
                          std::size_t P, const Constants& c, double* store) {
    return MarchOne(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep, bottomLevel, P,
                    c, store);
}

void MarchLanesBaseline(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                        const double* levels, const Constants& c, ToeWaves* toe) {
    MarchLanes(Alpha, Fc, DikeNormal, steps, count, levels, c, toe);
}

} // namespace qav::detail
