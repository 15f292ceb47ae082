// Four-float vocabulary of the generated convolution kernels and the
// element-wise operators: SSE2 on x86, NEON on Arm, plain floats when the
// build is scalar only. Every function is static inline and every file that
// includes this one is compiled for the baseline target.
#ifndef CALYX_NN_KERNELS_CONV_VEC4_H
#define CALYX_NN_KERNELS_CONV_VEC4_H

#if !defined(CALYX_FORCE_SCALAR) && defined(__SSE2__)
#include <emmintrin.h>
typedef __m128 cv4;
static inline cv4 cv4_set1(float f) { return _mm_set1_ps(f); }
static inline cv4 cv4_load(const float *p) { return _mm_loadu_ps(p); }
static inline void cv4_store(float *p, cv4 a) { _mm_storeu_ps(p, a); }
// acc + w * x; SSE2 has no fused form.
static inline cv4 cv4_madd(cv4 acc, cv4 w, cv4 x) { return _mm_add_ps(acc, _mm_mul_ps(w, x)); }
static inline cv4 cv4_add(cv4 a, cv4 b) { return _mm_add_ps(a, b); }
// maxps returns its second operand unless the first is greater, so NaN and
// -0 become +0.
static inline cv4 cv4_relu(cv4 a) { return _mm_max_ps(a, _mm_setzero_ps()); }
#elif !defined(CALYX_FORCE_SCALAR) && defined(__ARM_NEON)
#include <arm_neon.h>
typedef float32x4_t cv4;
static inline cv4 cv4_set1(float f) { return vdupq_n_f32(f); }
static inline cv4 cv4_load(const float *p) { return vld1q_f32(p); }
static inline void cv4_store(float *p, cv4 a) { vst1q_f32(p, a); }
#if defined(__ARM_FEATURE_FMA)
static inline cv4 cv4_madd(cv4 acc, cv4 w, cv4 x) { return vfmaq_f32(acc, w, x); }
#else
static inline cv4 cv4_madd(cv4 acc, cv4 w, cv4 x) { return vmlaq_f32(acc, w, x); }
#endif
static inline cv4 cv4_add(cv4 a, cv4 b) { return vaddq_f32(a, b); }
// vmaxq would let NaN through: keep only lanes greater than zero.
static inline cv4 cv4_relu(cv4 a) {
    return vreinterpretq_f32_u32(vandq_u32(vcgtq_f32(a, vdupq_n_f32(0.0f)), vreinterpretq_u32_f32(a)));
}
#else
typedef struct { float v[4]; } cv4;
static inline cv4 cv4_set1(float f) { cv4 r = {{f, f, f, f}}; return r; }
static inline cv4 cv4_load(const float *p) { cv4 r = {{p[0], p[1], p[2], p[3]}}; return r; }
static inline void cv4_store(float *p, cv4 a) { for (int i = 0; i < 4; ++i) p[i] = a.v[i]; }
static inline cv4 cv4_madd(cv4 acc, cv4 w, cv4 x) {
    for (int i = 0; i < 4; ++i) acc.v[i] += w.v[i] * x.v[i];
    return acc;
}
static inline cv4 cv4_add(cv4 a, cv4 b) {
    for (int i = 0; i < 4; ++i) a.v[i] += b.v[i];
    return a;
}
static inline cv4 cv4_relu(cv4 a) {
    for (int i = 0; i < 4; ++i) a.v[i] = a.v[i] > 0.0f ? a.v[i] : 0.0f;
    return a;
}
#endif

#endif  // CALYX_NN_KERNELS_CONV_VEC4_H
