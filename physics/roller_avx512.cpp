// The march on AVX-512 registers, eight doubles wide, with glibc's vector
// tanh. The formulas themselves are not contracted into FMA instructions
// (-ffp-contract=off); only the bracket's polynomial fit uses them, by name. The full-mask "maskz"
// forms keep GCC from warning about its own undefined pass-through registers.
#include <immintrin.h>

#include <cstdint>

// glibc's vector math library (libmvec), within 4 ulp.
extern "C" {
__m512d _ZGVeN8v_tanh(__m512d);
}

namespace qav {
namespace {

struct Isa {
    using V = __m512d;
    using Mask = __mmask8;
    static constexpr std::size_t W = 8;
    static V Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V Set(double x) { return _mm512_set1_pd(x); }
    static V Add(V a, V b) { return _mm512_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V Div(V a, V b) { return _mm512_div_pd(a, b); }
    static V Sqrt(V a) { return _mm512_maskz_sqrt_pd(0xFF, a); }
    static V Neg(V a) { return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a), _mm512_set1_epi64(INT64_MIN))); }
    static V Abs(V a) { return _mm512_abs_pd(a); }
    // max(a, 0) as std::max(a, 0.0): a NaN stays NaN.
    static V MaxWithZero(V a) { return _mm512_maskz_max_pd(0xFF, _mm512_setzero_pd(), a); }
    static Mask Greater(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
    static Mask GreaterEqual(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
    static Mask Equal(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static Mask And(Mask a, Mask b) { return static_cast<Mask>(a & b); }
    static unsigned Bits(Mask m) { return m; }
    static V Select(Mask m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }
    static V ToFloatAndBack(V a) { return _mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, a)); }
    static V Tanh(V a) { return _ZGVeN8v_tanh(a); }
    // Fused multiply and add, in vector and scalar form alike.
    static V MulAdd(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static double MulAdd(double a, double b, double c) { return __builtin_fma(a, b, c); }
    static double Mul(double a, double b) { return a * b; }
    static Mask Or(Mask a, Mask b) { return static_cast<Mask>(a | b); }
    // The processor's rough reciprocal square root (in single precision, within
    // 4e-4); the scalar and the packed instruction give the same numbers
    // (AVX-512's own rsqrt14 would not).
    static double RoughInverseSqrt(double a) {
        return static_cast<double>(_mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(static_cast<float>(a)))));
    }
    static V RoughInverseSqrt(V a) {
        return _mm512_maskz_cvtps_pd(0xFF, _mm256_rsqrt_ps(_mm512_maskz_cvtpd_ps(0xFF, a)));
    }
    // Offsets of the fit's pieces from the low bits of round(32 R) + 1.5 * 2^52.
    using Offsets = __m512i;
    static Offsets PieceOffsets(V u) {
        return _mm512_maskz_slli_epi64(0xFF, _mm512_and_si512(_mm512_castpd_si512(u), _mm512_set1_epi64(0x1ff)), 3);
    }
    static V Gather(const double* column, Offsets o) {
        return _mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, o, column, 8);
    }
};

} // namespace
} // namespace qav

#include "physics/roller_kernel.h"

namespace qav::detail {

ToeWaves MarchOneAvx512(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev, double DikeNormal,
                      double IncomingWaveAngle, double gridStep, const double* bottomLevel, std::size_t P,
                      const Constants& c, double* store) {
    return MarchOne(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep, bottomLevel, P,
                    c, store);
}

void MarchLanesAvx512(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                    const double* levels, const Constants& c, ToeWaves* toe) {
    MarchLanes(Alpha, Fc, DikeNormal, steps, count, levels, c, toe);
}

} // namespace qav::detail
