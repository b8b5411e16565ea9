// The march on AVX2 registers, four doubles wide, with glibc's vector tanh. The
// formulas themselves are not contracted into FMA instructions
// (-ffp-contract=off); only the bracket's polynomial fit uses them, by name.
#include <immintrin.h>

// glibc's vector math library (libmvec), within 4 ulp.
extern "C" {
__m256d _ZGVdN4v_tanh(__m256d);
}

namespace qav {
namespace {

struct Isa {
    using V = __m256d;
    using Mask = __m256d;
    static constexpr std::size_t W = 4;
    static V Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V Set(double x) { return _mm256_set1_pd(x); }
    static V Add(V a, V b) { return _mm256_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V Div(V a, V b) { return _mm256_div_pd(a, b); }
    static V Sqrt(V a) { return _mm256_sqrt_pd(a); }
    static V Neg(V a) { return _mm256_xor_pd(a, _mm256_set1_pd(-0.0)); }
    static V Abs(V a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    // max(a, 0) as std::max(a, 0.0): a NaN stays NaN.
    static V MaxWithZero(V a) { return _mm256_max_pd(_mm256_setzero_pd(), a); }
    static Mask Greater(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
    static Mask GreaterEqual(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    static Mask Equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    static Mask And(Mask a, Mask b) { return _mm256_and_pd(a, b); }
    static unsigned Bits(Mask m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static V Select(Mask m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
    static V ToFloatAndBack(V a) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(a)); }
    static V Tanh(V a) { return _ZGVdN4v_tanh(a); }
    // Fused multiply and add, in vector and scalar form alike.
    static V MulAdd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static double MulAdd(double a, double b, double c) { return __builtin_fma(a, b, c); }
    static double Mul(double a, double b) { return a * b; }
    static Mask Or(Mask a, Mask b) { return _mm256_or_pd(a, b); }
    // The processor's rough reciprocal square root (in single precision, within
    // 4e-4); the scalar and the packed instruction give the same numbers.
    static double RoughInverseSqrt(double a) {
        return static_cast<double>(_mm_cvtss_f32(_mm_rsqrt_ss(_mm_set_ss(static_cast<float>(a)))));
    }
    static V RoughInverseSqrt(V a) { return _mm256_cvtps_pd(_mm_rsqrt_ps(_mm256_cvtpd_ps(a))); }
    // Offsets of the fit's pieces from the low bits of round(32 R) + 1.5 * 2^52.
    using Offsets = __m256i;
    static Offsets PieceOffsets(V u) {
        return _mm256_slli_epi64(_mm256_and_si256(_mm256_castpd_si256(u), _mm256_set1_epi64x(0x1ff)), 3);
    }
    static V Gather(const double* column, Offsets o) { return _mm256_i64gather_pd(column, o, 8); }
};

} // namespace
} // namespace qav

#include "physics/roller_kernel.h"

namespace qav::detail {

ToeWaves MarchOneAvx2(double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev, double DikeNormal,
                      double IncomingWaveAngle, double gridStep, const double* bottomLevel, std::size_t P,
                      const Constants& c, double* store) {
    return MarchOne(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep, bottomLevel, P,
                    c, store);
}

void MarchLanesAvx2(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                    const double* levels, const Constants& c, ToeWaves* toe) {
    MarchLanes(Alpha, Fc, DikeNormal, steps, count, levels, c, toe);
}

} // namespace qav::detail
