/*
 * Stopgap for the Windows build: the vector tanh entries of glibc's libmvec,
 * which the SIMD marches call and mingw-w64 does not have, computed lane by
 * lane with the C library's tanh. Same names and vector ABI as libmvec's
 * (_ZGV<isa>N<lanes>v_tanh). Used only while the marches depend on libmvec;
 * the tanh of the lanes then comes from the C library, one lane at a time.
 */
#include <immintrin.h>
#include <math.h>

__m128d _ZGVbN2v_tanh(__m128d x);
__m256d _ZGVdN4v_tanh(__m256d x);
__m512d _ZGVeN8v_tanh(__m512d x);

__m128d _ZGVbN2v_tanh(__m128d x) {
    double lanes[2];
    _mm_storeu_pd(lanes, x);
    for (int i = 0; i < 2; ++i) lanes[i] = tanh(lanes[i]);
    return _mm_loadu_pd(lanes);
}

__attribute__((target("avx2,fma"))) __m256d _ZGVdN4v_tanh(__m256d x) {
    double lanes[4];
    _mm256_storeu_pd(lanes, x);
    for (int i = 0; i < 4; ++i) lanes[i] = tanh(lanes[i]);
    return _mm256_loadu_pd(lanes);
}

__attribute__((target("avx512f,avx2,fma"))) __m512d _ZGVeN8v_tanh(__m512d x) {
    double lanes[8];
    _mm512_storeu_pd(lanes, x);
    for (int i = 0; i < 8; ++i) lanes[i] = tanh(lanes[i]);
    return _mm512_loadu_pd(lanes);
}
