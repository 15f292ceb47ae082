// Four-lane vector emulated with plain floats: the reference the SIMD
// variants must match, and the path used where no vector unit is available.
#ifndef CALYX_OVFFT_VEC_SCALAR_H
#define CALYX_OVFFT_VEC_SCALAR_H

namespace calyx_fft {

struct VecScalar {
  struct v {
    float x[4];
  };
  static inline v ld(const float *p) { return v{{p[0], p[1], p[2], p[3]}}; }
  static inline void st(float *p, v a) {
    for (int i = 0; i < 4; ++i) p[i] = a.x[i];
  }
  static inline v set1(float f) { return v{{f, f, f, f}}; }
  static inline v add(v a, v b) {
    return v{{a.x[0] + b.x[0], a.x[1] + b.x[1], a.x[2] + b.x[2], a.x[3] + b.x[3]}};
  }
  static inline v sub(v a, v b) {
    return v{{a.x[0] - b.x[0], a.x[1] - b.x[1], a.x[2] - b.x[2], a.x[3] - b.x[3]}};
  }
  static inline v mul(v a, v b) {
    return v{{a.x[0] * b.x[0], a.x[1] * b.x[1], a.x[2] * b.x[2], a.x[3] * b.x[3]}};
  }
  // a * b + c
  static inline v madd(v a, v b, v c) { return add(mul(a, b), c); }
  // c - a * b
  static inline v nmadd(v a, v b, v c) { return sub(c, mul(a, b)); }
  static inline void transpose(v &a, v &b, v &c, v &d) {
    v t[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) {
      a.x[i] = t[i].x[0];
      b.x[i] = t[i].x[1];
      c.x[i] = t[i].x[2];
      d.x[i] = t[i].x[3];
    }
  }
  // lo = a0 b0 a1 b1, hi = a2 b2 a3 b3
  static inline void interleave(v a, v b, v &lo, v &hi) {
    lo = v{{a.x[0], b.x[0], a.x[1], b.x[1]}};
    hi = v{{a.x[2], b.x[2], a.x[3], b.x[3]}};
  }
  // inverse of interleave
  static inline void uninterleave(v lo, v hi, v &a, v &b) {
    a = v{{lo.x[0], lo.x[2], hi.x[0], hi.x[2]}};
    b = v{{lo.x[1], lo.x[3], hi.x[1], hi.x[3]}};
  }
  // (b0, a3, a2, a1): walks a group of bins backwards, borrowing the first
  // lane of the neighbouring group.
  static inline v rev_shift(v a, v b) { return v{{b.x[0], a.x[3], a.x[2], a.x[1]}}; }
};

}  // namespace calyx_fft

#endif
