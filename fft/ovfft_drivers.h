// Stage drivers: run the radix stages of one length-n transform on n
// vectors (four independent lanes). Each stage reads one buffer and writes
// the other of the pair; the driver returns the buffer holding the result.
// Included inside a backend namespace that defines the vector type V.

template <class V>
struct Drivers {
  typedef RealStages<V> R;
  typedef ComplexPasses<V> C;

  // Real forward: stages from the last factor to the first.
  static float *rfftf1_ps(int n, const float *input, float *first, float *second,
                          const float *wa, const int *factors) {
    const int nf = factors[1];
    float *const buf[2] = {first, second};
    int l2 = n;
    int iw = n - 1;
    for (int k1 = 0; k1 < nf; ++k1) {
      const float *in = k1 == 0 ? input : buf[(k1 - 1) & 1];
      float *out = buf[k1 & 1];
      const int ip = factors[2 + nf - 1 - k1];
      const int l1 = l2 / ip;
      const int ido = n / l2;
      iw -= (ip - 1) * ido;
      const float *w = wa + iw;
      switch (ip) {
        case 5: R::radf5(ido, l1, in, out, w, w + ido, w + 2 * ido, w + 3 * ido); break;
        case 4: R::radf4(ido, l1, in, out, w, w + ido, w + 2 * ido); break;
        case 3: R::radf3(ido, l1, in, out, w, w + ido); break;
        default: R::radf2(ido, l1, in, out, w); break;
      }
      l2 = l1;
    }
    return buf[(nf - 1) & 1];
  }

  // Real backward: stages from the first factor to the last.
  static float *rfftb1_ps(int n, const float *input, float *first, float *second,
                          const float *wa, const int *factors) {
    const int nf = factors[1];
    float *const buf[2] = {first, second};
    int l1 = 1;
    int iw = 0;
    for (int k1 = 0; k1 < nf; ++k1) {
      const float *in = k1 == 0 ? input : buf[(k1 - 1) & 1];
      float *out = buf[k1 & 1];
      const int ip = factors[2 + k1];
      const int l2 = ip * l1;
      const int ido = n / l2;
      const float *w = wa + iw;
      switch (ip) {
        case 5: R::radb5(ido, l1, in, out, w, w + ido, w + 2 * ido, w + 3 * ido); break;
        case 4: R::radb4(ido, l1, in, out, w, w + ido, w + 2 * ido); break;
        case 3: R::radb3(ido, l1, in, out, w, w + ido); break;
        default: R::radb2(ido, l1, in, out, w); break;
      }
      l1 = l2;
      iw += (ip - 1) * ido;
    }
    return buf[(nf - 1) & 1];
  }

  // Complex, both directions (fsign -1 forward, +1 backward).
  static float *cfftf1_ps(int n, const float *input, float *first, float *second,
                          const float *wa, const int *factors, float fsign) {
    const int nf = factors[1];
    float *const buf[2] = {first, second};
    int l1 = 1;
    int iw = 0;
    for (int k1 = 0; k1 < nf; ++k1) {
      const float *in = k1 == 0 ? input : buf[(k1 - 1) & 1];
      float *out = buf[k1 & 1];
      const int ip = factors[2 + k1];
      const int l2 = ip * l1;
      const int idot = 2 * (n / l2);
      const float *w = wa + iw;
      switch (ip) {
        case 5: C::pass5(idot, l1, in, out, w, w + idot, w + 2 * idot, w + 3 * idot, fsign); break;
        case 4: C::pass4(idot, l1, in, out, w, w + idot, w + 2 * idot, fsign); break;
        case 3: C::pass3(idot, l1, in, out, w, w + idot, fsign); break;
        default: C::pass2(idot, l1, in, out, w, fsign); break;
      }
      l1 = l2;
      iw += (ip - 1) * idot;
    }
    return buf[(nf - 1) & 1];
  }
};
