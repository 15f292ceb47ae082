// 4-lane versions of the network's inner loops: SSE2 on x86 (baseline on
// x86-64, so no run-time check), NEON on Arm.
#include "nn_simd.h"

#if defined(CALYX_NN_HAVE_VEC4)

#if defined(__ARM_NEON)
#include <arm_neon.h>

namespace {
struct vec4 {
    typedef float32x4_t v;
    static const uint32_t width = 4;
    static v zero() { return vdupq_n_f32(0.0f); }
    static v set1(float f) { return vdupq_n_f32(f); }
    static v load(const float *p) { return vld1q_f32(p); }
    static void store(float *p, v a) { vst1q_f32(p, a); }
    static v add(v a, v b) { return vaddq_f32(a, b); }
#if defined(__ARM_FEATURE_FMA)
    static v fma(v a, v b, v c) { return vfmaq_f32(c, a, b); }
#else
    static v fma(v a, v b, v c) { return vmlaq_f32(c, a, b); }
#endif
    static float hsum(v a) {
#if defined(__aarch64__)
        return vaddvq_f32(a);
#else
        const float32x2_t s = vadd_f32(vget_low_f32(a), vget_high_f32(a));
        return vget_lane_f32(vpadd_f32(s, s), 0);
#endif
    }
};
}  // namespace

#else
#include <emmintrin.h>

namespace {
struct vec4 {
    typedef __m128 v;
    static const uint32_t width = 4;
    static v zero() { return _mm_setzero_ps(); }
    static v set1(float f) { return _mm_set1_ps(f); }
    static v load(const float *p) { return _mm_loadu_ps(p); }
    static void store(float *p, v a) { _mm_storeu_ps(p, a); }
    static v add(v a, v b) { return _mm_add_ps(a, b); }
    // SSE2 has no fused multiply-add; the rounding differs in the last bit.
    static v fma(v a, v b, v c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
    static float hsum(v a) {
        const __m128 s = _mm_add_ps(a, _mm_movehl_ps(a, a));
        return _mm_cvtss_f32(_mm_add_ss(s, _mm_shuffle_ps(s, s, 0x55)));
    }
};
}  // namespace

#endif

#include "nn_simd_body.h"

namespace calyx_nn {
extern const kernel_set kernels_vec4 = {
#if defined(__ARM_NEON)
    "neon",
#else
    "sse2",
#endif
    rowcomb_vec<vec4>, gru_sums_vec<vec4>};
}

#endif  // CALYX_NN_HAVE_VEC4
