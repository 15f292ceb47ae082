// AVX2+FMA versions of the network's inner loops. The build compiles this
// file alone with -mavx2 -mfma (x86-64 only) and defines CALYX_NN_AVX2;
// nn_simd_dispatch.cpp selects it only when the CPU reports both features.
// Nothing here may use an inline function from a shared header: such a
// copy, compiled for AVX2, could be picked by the linker for baseline code.
#include "nn_simd.h"

#if defined(CALYX_NN_AVX2)
#if !defined(__AVX2__) || !defined(__FMA__)
#error "nn_simd_avx2.cpp needs -mavx2 -mfma"
#endif

#include <immintrin.h>

namespace {
struct vec8 {
    typedef __m256 v;
    static const uint32_t width = 8;
    static v zero() { return _mm256_setzero_ps(); }
    static v set1(float f) { return _mm256_set1_ps(f); }
    static v load(const float *p) { return _mm256_loadu_ps(p); }
    static void store(float *p, v a) { _mm256_storeu_ps(p, a); }
    static v add(v a, v b) { return _mm256_add_ps(a, b); }
    static v fma(v a, v b, v c) { return _mm256_fmadd_ps(a, b, c); }
    static float hsum(v a) {
        __m128 s = _mm_add_ps(_mm256_castps256_ps128(a), _mm256_extractf128_ps(a, 1));
        s = _mm_add_ps(s, _mm_movehl_ps(s, s));
        return _mm_cvtss_f32(_mm_add_ss(s, _mm_shuffle_ps(s, s, 0x55)));
    }
};
}  // namespace

#include "nn_simd_body.h"

namespace calyx_nn {
extern const kernel_set kernels_avx2 = {"avx2", rowcomb_vec<vec8>, gru_sums_vec<vec8>};
}

#endif  // CALYX_NN_AVX2
