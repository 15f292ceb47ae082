// Four-lane vector on Arm NEON (fused multiply-add on AArch64).
#ifndef CALYX_OVFFT_VEC_NEON_H
#define CALYX_OVFFT_VEC_NEON_H

#include <arm_neon.h>

namespace calyx_fft {

struct VecNeon {
  typedef float32x4_t v;
  static inline v ld(const float *p) { return vld1q_f32(p); }
  static inline void st(float *p, v a) { vst1q_f32(p, a); }
  static inline v set1(float f) { return vdupq_n_f32(f); }
  static inline v add(v a, v b) { return vaddq_f32(a, b); }
  static inline v sub(v a, v b) { return vsubq_f32(a, b); }
  static inline v mul(v a, v b) { return vmulq_f32(a, b); }
#if defined(__aarch64__)
  static inline v madd(v a, v b, v c) { return vfmaq_f32(c, a, b); }
  static inline v nmadd(v a, v b, v c) { return vfmsq_f32(c, a, b); }
#else
  static inline v madd(v a, v b, v c) { return vmlaq_f32(c, a, b); }
  static inline v nmadd(v a, v b, v c) { return vmlsq_f32(c, a, b); }
#endif
  static inline void transpose(v &a, v &b, v &c, v &d) {
    float32x4x2_t ab = vtrnq_f32(a, b);  // a0 b0 a2 b2 | a1 b1 a3 b3
    float32x4x2_t cd = vtrnq_f32(c, d);
    a = vcombine_f32(vget_low_f32(ab.val[0]), vget_low_f32(cd.val[0]));
    b = vcombine_f32(vget_low_f32(ab.val[1]), vget_low_f32(cd.val[1]));
    c = vcombine_f32(vget_high_f32(ab.val[0]), vget_high_f32(cd.val[0]));
    d = vcombine_f32(vget_high_f32(ab.val[1]), vget_high_f32(cd.val[1]));
  }
  static inline void interleave(v a, v b, v &lo, v &hi) {
    float32x4x2_t z = vzipq_f32(a, b);
    lo = z.val[0];
    hi = z.val[1];
  }
  static inline void uninterleave(v lo, v hi, v &a, v &b) {
    float32x4x2_t u = vuzpq_f32(lo, hi);
    a = u.val[0];
    b = u.val[1];
  }
  static inline v rev_shift(v a, v b) {
    v t = vrev64q_f32(vextq_f32(a, b, 1));  // a2 a1 b0 a3
    return vextq_f32(t, t, 2);             // b0 a3 a2 a1
  }
};

}  // namespace calyx_fft

#endif
