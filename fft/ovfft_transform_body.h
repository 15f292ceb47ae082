// Reorder, convolution and the transform sequence of one backend.
// Included inside a backend namespace that defines the vector type V, after
// the radix stages, the drivers and the finalize steps.

template <class V>
struct Kernels {
  typedef typename V::v v;
  typedef Finalize<V> F;

  static inline v ldv(const float *p, int vec) { return V::ld(p + 4 * vec); }
  static inline void stv(float *p, int vec, v x) { V::st(p + 4 * vec, x); }

  // Internal block k of a real spectrum holds, pair by pair, the bins
  // 4k + i, n - 4k - i, n + 4k + i and 2n - 4k - i (i = lane), n = N / 4; lane
  // 0 of block 0 holds DC/Nyquist, X(n/2), X(n) and X(3n/2). The reversed
  // groups are written back to front, each ordered group of four bins taking
  // its first bin from the neighbouring block.
  static void reorder_real(int N, const float *in, float *out, ovfft_direction direction) {
    const int dk = N / 32;
    const int q2 = N / 4, q3 = N / 2, q4 = 3 * N / 4;  // float offsets of the quarters
    if (direction == OVFFT_FORWARD) {
      for (int k = 0; k < dk; ++k) {
        const int kn = (k + 1 == dk) ? 0 : k + 1;
        const int c = dk - 1 - k;
        v lo, hi;
        V::interleave(ldv(in, 8 * k), ldv(in, 8 * k + 1), lo, hi);
        V::st(out + 8 * k, lo);
        V::st(out + 8 * k + 4, hi);
        V::interleave(ldv(in, 8 * k + 4), ldv(in, 8 * k + 5), lo, hi);
        V::st(out + q3 + 8 * k, lo);
        V::st(out + q3 + 8 * k + 4, hi);
        V::interleave(V::rev_shift(ldv(in, 8 * k + 2), ldv(in, 8 * kn + 2)),
                      V::rev_shift(ldv(in, 8 * k + 3), ldv(in, 8 * kn + 3)), lo, hi);
        V::st(out + q2 + 8 * c, lo);
        V::st(out + q2 + 8 * c + 4, hi);
        V::interleave(V::rev_shift(ldv(in, 8 * k + 6), ldv(in, 8 * kn + 6)),
                      V::rev_shift(ldv(in, 8 * k + 7), ldv(in, 8 * kn + 7)), lo, hi);
        V::st(out + q4 + 8 * c, lo);
        V::st(out + q4 + 8 * c + 4, hi);
      }
    } else {
      for (int k = 0; k < dk; ++k) {
        const int c = dk - 1 - k;
        const int cp = (c + 1 == dk) ? 0 : c + 1;  // group of block k - 1
        v r, i, rp, ip;
        V::uninterleave(V::ld(in + 8 * k), V::ld(in + 8 * k + 4), r, i);
        stv(out, 8 * k, r);
        stv(out, 8 * k + 1, i);
        V::uninterleave(V::ld(in + q3 + 8 * k), V::ld(in + q3 + 8 * k + 4), r, i);
        stv(out, 8 * k + 4, r);
        stv(out, 8 * k + 5, i);
        V::uninterleave(V::ld(in + q2 + 8 * c), V::ld(in + q2 + 8 * c + 4), r, i);
        V::uninterleave(V::ld(in + q2 + 8 * cp), V::ld(in + q2 + 8 * cp + 4), rp, ip);
        stv(out, 8 * k + 2, V::rev_shift(r, rp));
        stv(out, 8 * k + 3, V::rev_shift(i, ip));
        V::uninterleave(V::ld(in + q4 + 8 * c), V::ld(in + q4 + 8 * c + 4), r, i);
        V::uninterleave(V::ld(in + q4 + 8 * cp), V::ld(in + q4 + 8 * cp + 4), rp, ip);
        stv(out, 8 * k + 6, V::rev_shift(r, rp));
        stv(out, 8 * k + 7, V::rev_shift(i, ip));
      }
    }
  }

  // Internal pair 4k + q of a complex spectrum holds bins q N/4 + 4k .. + 3.
  static void reorder_complex(int N, const float *in, float *out, ovfft_direction direction) {
    const int dk = N / 16;
    for (int k = 0; k < dk; ++k) {
      for (int q = 0; q < 4; ++q) {
        const int pair = 4 * k + q;
        float *o = out + 8 * k + q * (N / 2);
        const float *i = in + 8 * k + q * (N / 2);
        if (direction == OVFFT_FORWARD) {
          v lo, hi;
          V::interleave(ldv(in, 2 * pair), ldv(in, 2 * pair + 1), lo, hi);
          V::st(o, lo);
          V::st(o + 4, hi);
        } else {
          v r, im;
          V::uninterleave(V::ld(i), V::ld(i + 4), r, im);
          stv(out, 2 * pair, r);
          stv(out, 2 * pair + 1, im);
        }
      }
    }
  }

  static void zreorder(const ovfft_setup *s, const float *in, float *out,
                       ovfft_direction direction) {
    if (s->kind == OVFFT_REAL)
      reorder_real(s->N, in, out, direction);
    else
      reorder_complex(s->N, in, out, direction);
  }

  static void zconvolve(const ovfft_setup *s, const float *a, const float *b, float *ab,
                        float scaling) {
    const int pairs = s->vector_count;
    // In the real kind, lane 0 of the first pair carries two real values.
    const float a_dc = a[0], a_ny = a[4], b_dc = b[0], b_ny = b[4];
    const float ab_dc = ab[0], ab_ny = ab[4];
    const v sc = V::set1(scaling);
    for (int p = 0; p < pairs; ++p) {
      v ar = ldv(a, 2 * p), ai = ldv(a, 2 * p + 1);
      v br = ldv(b, 2 * p), bi = ldv(b, 2 * p + 1);
      v pr = V::nmadd(ai, bi, V::mul(ar, br));
      v pi = V::madd(ai, br, V::mul(ar, bi));
      stv(ab, 2 * p, V::madd(pr, sc, ldv(ab, 2 * p)));
      stv(ab, 2 * p + 1, V::madd(pi, sc, ldv(ab, 2 * p + 1)));
    }
    if (s->kind == OVFFT_REAL) {
      ab[0] = ab_dc + a_dc * scaling * b_dc;
      ab[4] = ab_ny + a_ny * scaling * b_ny;
    }
  }

  static void split_complex(int n, const float *in, float *out) {
    for (int t = 0; t < n; ++t) {
      v r, i;
      V::uninterleave(ldv(in, 2 * t), ldv(in, 2 * t + 1), r, i);
      stv(out, 2 * t, r);
      stv(out, 2 * t + 1, i);
    }
  }

  static void interleave_complex(int n, const float *in, float *out) {
    for (int t = 0; t < n; ++t) {
      v lo, hi;
      V::interleave(ldv(in, 2 * t), ldv(in, 2 * t + 1), lo, hi);
      stv(out, 2 * t, lo);
      stv(out, 2 * t + 1, hi);
    }
  }

  // Every step reads one buffer and writes the other of (output, work). The
  // first destination is chosen from the number of steps so that the last
  // step lands in output; in place, the first step must not write the input,
  // and the result may end in work and is copied over.
  static void ovfft_transform_internal(const ovfft_setup *s, const float *input, float *output,
                                       float *work, ovfft_direction direction, int ordered) {
    const bool real = s->kind == OVFFT_REAL;
    const int n = s->factors[0];
    const int nf = s->factors[1];
    const float *e = s->final_twiddles;
    const float *wa = s->stage_twiddles;
    const int steps = nf + 1 + (ordered ? 1 : 0) + (real ? 0 : 1);
    float *const buf[2] = {output, work};
    int ib = (input == output) ? 1 : ((steps - 1) & 1);
    const float *cur = input;
    auto next = [&]() -> float * {
      float *dst = buf[ib];
      ib ^= 1;
      return dst;
    };
    if (direction == OVFFT_FORWARD) {
      if (!real) {
        float *dst = next();
        split_complex(n, cur, dst);
        cur = dst;
      }
      float *first = buf[ib];
      float *second = buf[ib ^ 1];
      cur = real ? Drivers<V>::rfftf1_ps(n, cur, first, second, wa, s->factors)
                 : Drivers<V>::cfftf1_ps(n, cur, first, second, wa, s->factors, -1.f);
      ib ^= nf & 1;
      float *dst = next();
      if (real)
        F::ovfft_real_finalize(n, cur, dst, e);
      else
        F::ovfft_cplx_finalize(n, cur, dst, e);
      cur = dst;
      if (ordered) {
        dst = next();
        zreorder(s, cur, dst, OVFFT_FORWARD);
        cur = dst;
      }
    } else {
      if (ordered) {
        float *dst = next();
        zreorder(s, cur, dst, OVFFT_BACKWARD);
        cur = dst;
      }
      float *dst = next();
      if (real)
        F::ovfft_real_preprocess(n, cur, dst, e);
      else
        F::ovfft_cplx_preprocess(n, cur, dst, e);
      cur = dst;
      float *first = buf[ib];
      float *second = buf[ib ^ 1];
      cur = real ? Drivers<V>::rfftb1_ps(n, cur, first, second, wa, s->factors)
                 : Drivers<V>::cfftf1_ps(n, cur, first, second, wa, s->factors, 1.f);
      ib ^= nf & 1;
      if (!real) {
        dst = next();
        interleave_complex(n, cur, dst);
        cur = dst;
      }
    }
    if (cur != output) memcpy(output, cur, sizeof(float) * (real ? s->N : 2 * s->N));
  }
};
