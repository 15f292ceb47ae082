// Four-lane vector on SSE. With OVFFT_VEC_FMA the multiply-adds are fused;
// that variant is only compiled in a file built with FMA enabled.
#ifndef CALYX_OVFFT_VEC_SSE_H
#define CALYX_OVFFT_VEC_SSE_H

#include <immintrin.h>

namespace calyx_fft {

template <bool kFused>
struct VecSse {
  typedef __m128 v;
  // Callers' buffers only promise float alignment, so every access is unaligned.
  static inline v ld(const float *p) { return _mm_loadu_ps(p); }
  static inline void st(float *p, v a) { _mm_storeu_ps(p, a); }
  static inline v set1(float f) { return _mm_set1_ps(f); }
  static inline v add(v a, v b) { return _mm_add_ps(a, b); }
  static inline v sub(v a, v b) { return _mm_sub_ps(a, b); }
  static inline v mul(v a, v b) { return _mm_mul_ps(a, b); }
  static inline v madd(v a, v b, v c) {
#if defined(__FMA__)
    if (kFused) return _mm_fmadd_ps(a, b, c);
#endif
    return _mm_add_ps(_mm_mul_ps(a, b), c);
  }
  static inline v nmadd(v a, v b, v c) {
#if defined(__FMA__)
    if (kFused) return _mm_fnmadd_ps(a, b, c);
#endif
    return _mm_sub_ps(c, _mm_mul_ps(a, b));
  }
  static inline void transpose(v &a, v &b, v &c, v &d) { _MM_TRANSPOSE4_PS(a, b, c, d); }
  static inline void interleave(v a, v b, v &lo, v &hi) {
    lo = _mm_unpacklo_ps(a, b);
    hi = _mm_unpackhi_ps(a, b);
  }
  static inline void uninterleave(v lo, v hi, v &a, v &b) {
    a = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    b = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
  }
  static inline v rev_shift(v a, v b) {
    v t = _mm_move_ss(a, b);  // b0 a1 a2 a3
    return _mm_shuffle_ps(t, t, _MM_SHUFFLE(1, 2, 3, 0));
  }
};

}  // namespace calyx_fft

#endif
