// Last forward step and first backward step: the stage drivers leave four
// lane spectra F0..F3 (the polyphase components x(4t + j)); these steps
// transpose 4 x 4 blocks and combine the lanes with a radix-4 butterfly,
// X(k) = sum_j e^(-2 pi i j k / N) F_j(k mod n), n = N / 4.
// Included inside a backend namespace that defines the vector type V.

template <class V>
struct Finalize {
  typedef typename V::v v;

  static inline v ldv(const float *p, int vec) { return V::ld(p + 4 * vec); }
  static inline void stv(float *p, int vec, v x) { V::st(p + 4 * vec, x); }

  // Twiddles of block k: (c, s) of e^(-2 pi i j m / N) for the four bins m
  // of the block, j = 1, 2, 3.
  static inline void load_twiddles(const float *e, int k, v c[3], v s[3]) {
    for (int j = 0; j < 3; ++j) {
      c[j] = ldv(e, 6 * k + 2 * j);
      s[j] = ldv(e, 6 * k + 2 * j + 1);
    }
  }

  // Real forward. in: n half-complex vectors from rfftf1_ps (Re F(0), then
  // Re/Im F(m) for m = 1 .. n/2 - 1, then Re F(n/2)). out: n/8 blocks of four
  // vector pairs holding, for m = 4k .. 4k + 3, the bins m, n - m, n + m and
  // 2n - m; lane 0 of block 0 carries DC/Nyquist, X(n/2), X(n) and X(3n/2).
  static void ovfft_real_finalize(int n, const float *in, float *out, const float *e) {
    const int dk = n / 8;
    for (int k = 0; k < dk; ++k) {
      v a0 = ldv(in, k == 0 ? n - 1 : 8 * k - 1), a1 = ldv(in, 8 * k + 1);
      v a2 = ldv(in, 8 * k + 3), a3 = ldv(in, 8 * k + 5);
      v b0 = ldv(in, 8 * k), b1 = ldv(in, 8 * k + 2);
      v b2 = ldv(in, 8 * k + 4), b3 = ldv(in, 8 * k + 6);
      V::transpose(a0, a1, a2, a3);
      V::transpose(b0, b1, b2, b3);
      v c[3], s[3];
      load_twiddles(e, k, c, s);
      v yr[4] = {a0, a1, a2, a3}, yi[4] = {b0, b1, b2, b3};
      for (int j = 1; j < 4; ++j) {
        v r = yr[j], i = yi[j];
        yr[j] = V::nmadd(i, s[j - 1], V::mul(r, c[j - 1]));
        yi[j] = V::madd(r, s[j - 1], V::mul(i, c[j - 1]));
      }
      v s02r = V::add(yr[0], yr[2]), s02i = V::add(yi[0], yi[2]);
      v d02r = V::sub(yr[0], yr[2]), d02i = V::sub(yi[0], yi[2]);
      v s13r = V::add(yr[1], yr[3]), s13i = V::add(yi[1], yi[3]);
      v d13r = V::sub(yr[1], yr[3]), d13i = V::sub(yi[1], yi[3]);
      float *o = out + 32 * k;
      stv(o, 0, V::add(s02r, s13r));  // X(m)
      stv(o, 1, V::add(s02i, s13i));
      stv(o, 2, V::sub(d02r, d13i));  // X(n - m) = conj(d02 + i d13)
      stv(o, 3, V::sub(V::sub(V::set1(0.f), d02i), d13r));
      stv(o, 4, V::add(d02r, d13i));  // X(n + m) = d02 - i d13
      stv(o, 5, V::sub(d02i, d13r));
      stv(o, 6, V::sub(s02r, s13r));  // X(2n - m) = conj(s02 - s13)
      stv(o, 7, V::sub(s13i, s02i));
    }
    // Lane 0 of block 0: the bins built from F_j(0) and F_j(n/2), both real.
    const float *cr = in, *ci = in + 4 * (n - 1);
    const float sq = 0.70710677f;
    out[0] = (cr[0] + cr[2]) + (cr[1] + cr[3]);
    out[4] = (cr[0] + cr[2]) - (cr[1] + cr[3]);
    out[8] = ci[0] + sq * (ci[1] - ci[3]);
    out[12] = -ci[2] - sq * (ci[1] + ci[3]);
    out[16] = cr[0] - cr[2];
    out[20] = cr[3] - cr[1];
    out[24] = ci[0] - sq * (ci[1] - ci[3]);
    out[28] = ci[2] - sq * (ci[1] + ci[3]);
  }

  // Exact inverse of ovfft_real_finalize scaled by 4, so that the unscaled
  // backward stages return N times the signal.
  static void ovfft_real_preprocess(int n, const float *in, float *out, const float *e) {
    const int dk = n / 8;
    for (int k = 0; k < dk; ++k) {
      const float *q = in + 32 * k;
      v q1r = ldv(q, 0), q1i = ldv(q, 1), q2r = ldv(q, 2), q2i = ldv(q, 3);
      v q3r = ldv(q, 4), q3i = ldv(q, 5), q4r = ldv(q, 6), q4i = ldv(q, 7);
      v s02r = V::add(q1r, q4r), s02i = V::sub(q1i, q4i);
      v s13r = V::sub(q1r, q4r), s13i = V::add(q1i, q4i);
      v d02r = V::add(q3r, q2r), d02i = V::sub(q3i, q2i);
      v d13r = V::sub(V::sub(V::set1(0.f), q2i), q3i), d13i = V::sub(q3r, q2r);
      v yr[4] = {V::add(s02r, d02r), V::add(s13r, d13r), V::sub(s02r, d02r), V::sub(s13r, d13r)};
      v yi[4] = {V::add(s02i, d02i), V::add(s13i, d13i), V::sub(s02i, d02i), V::sub(s13i, d13i)};
      v c[3], s[3];
      load_twiddles(e, k, c, s);
      for (int j = 1; j < 4; ++j) {
        v r = yr[j], i = yi[j];
        yr[j] = V::madd(i, s[j - 1], V::mul(r, c[j - 1]));
        yi[j] = V::nmadd(r, s[j - 1], V::mul(i, c[j - 1]));
      }
      V::transpose(yr[0], yr[1], yr[2], yr[3]);
      V::transpose(yi[0], yi[1], yi[2], yi[3]);
      stv(out, k == 0 ? n - 1 : 8 * k - 1, yr[0]);
      stv(out, 8 * k + 1, yr[1]);
      stv(out, 8 * k + 3, yr[2]);
      stv(out, 8 * k + 5, yr[3]);
      stv(out, 8 * k, yi[0]);
      stv(out, 8 * k + 2, yi[1]);
      stv(out, 8 * k + 4, yi[2]);
      stv(out, 8 * k + 6, yi[3]);
    }
    const float x0 = in[0], xny = in[4], ar = in[8], ai = in[12];
    const float cnr = in[16], cni = in[20], br = in[24], bi = in[28];
    const float sq2 = 1.41421356f;
    float *cr = out, *ci = out + 4 * (n - 1);
    cr[0] = (x0 + xny) + 2.f * cnr;
    cr[1] = (x0 - xny) - 2.f * cni;
    cr[2] = (x0 + xny) - 2.f * cnr;
    cr[3] = (x0 - xny) + 2.f * cni;
    ci[0] = 2.f * (ar + br);
    ci[1] = sq2 * (ar - br) - sq2 * (ai + bi);
    ci[2] = 2.f * (bi - ai);
    ci[3] = -sq2 * (ai + bi) - sq2 * (ar - br);
  }

  // Complex forward: n complex vectors from cfftf1_ps -> n/4 blocks of four
  // vector pairs, pair q of block k holding the bins q n + 4k .. q n + 4k + 3.
  static void ovfft_cplx_finalize(int n, const float *in, float *out, const float *e) {
    const int dk = n / 4;
    for (int k = 0; k < dk; ++k) {
      const float *p = in + 32 * k;
      v yr[4] = {ldv(p, 0), ldv(p, 2), ldv(p, 4), ldv(p, 6)};
      v yi[4] = {ldv(p, 1), ldv(p, 3), ldv(p, 5), ldv(p, 7)};
      V::transpose(yr[0], yr[1], yr[2], yr[3]);
      V::transpose(yi[0], yi[1], yi[2], yi[3]);
      v c[3], s[3];
      load_twiddles(e, k, c, s);
      for (int j = 1; j < 4; ++j) {
        v r = yr[j], i = yi[j];
        yr[j] = V::nmadd(i, s[j - 1], V::mul(r, c[j - 1]));
        yi[j] = V::madd(r, s[j - 1], V::mul(i, c[j - 1]));
      }
      v s02r = V::add(yr[0], yr[2]), s02i = V::add(yi[0], yi[2]);
      v d02r = V::sub(yr[0], yr[2]), d02i = V::sub(yi[0], yi[2]);
      v s13r = V::add(yr[1], yr[3]), s13i = V::add(yi[1], yi[3]);
      v d13r = V::sub(yr[1], yr[3]), d13i = V::sub(yi[1], yi[3]);
      float *o = out + 32 * k;
      stv(o, 0, V::add(s02r, s13r));
      stv(o, 1, V::add(s02i, s13i));
      stv(o, 2, V::add(d02r, d13i));  // d02 - i d13
      stv(o, 3, V::sub(d02i, d13r));
      stv(o, 4, V::sub(s02r, s13r));
      stv(o, 5, V::sub(s02i, s13i));
      stv(o, 6, V::sub(d02r, d13i));  // d02 + i d13
      stv(o, 7, V::add(d02i, d13r));
    }
  }

  static void ovfft_cplx_preprocess(int n, const float *in, float *out, const float *e) {
    const int dk = n / 4;
    for (int k = 0; k < dk; ++k) {
      const float *q = in + 32 * k;
      v q0r = ldv(q, 0), q0i = ldv(q, 1), q1r = ldv(q, 2), q1i = ldv(q, 3);
      v q2r = ldv(q, 4), q2i = ldv(q, 5), q3r = ldv(q, 6), q3i = ldv(q, 7);
      v s02r = V::add(q0r, q2r), s02i = V::add(q0i, q2i);
      v s13r = V::sub(q0r, q2r), s13i = V::sub(q0i, q2i);
      v d02r = V::add(q1r, q3r), d02i = V::add(q1i, q3i);
      v d13r = V::sub(q3i, q1i), d13i = V::sub(q1r, q3r);
      v yr[4] = {V::add(s02r, d02r), V::add(s13r, d13r), V::sub(s02r, d02r), V::sub(s13r, d13r)};
      v yi[4] = {V::add(s02i, d02i), V::add(s13i, d13i), V::sub(s02i, d02i), V::sub(s13i, d13i)};
      v c[3], s[3];
      load_twiddles(e, k, c, s);
      for (int j = 1; j < 4; ++j) {
        v r = yr[j], i = yi[j];
        yr[j] = V::madd(i, s[j - 1], V::mul(r, c[j - 1]));
        yi[j] = V::nmadd(r, s[j - 1], V::mul(i, c[j - 1]));
      }
      V::transpose(yr[0], yr[1], yr[2], yr[3]);
      V::transpose(yi[0], yi[1], yi[2], yi[3]);
      float *o = out + 32 * k;
      for (int i = 0; i < 4; ++i) {
        stv(o, 2 * i, yr[i]);
        stv(o, 2 * i + 1, yi[i]);
      }
    }
  }
};
