// Complex radix passes on four-lane vectors, FFTPACK formulation: each pass
// reads cc[ido][ip][l1] and writes ch[ido][l1][ip] (ido counts vectors, real
// and imaginary parts alternate), butterflies first, then twiddles the
// outputs. fsign is -1 for the forward and +1 for the backward transform.
// Included inside a backend namespace that defines the vector type V.

template <class V>
struct ComplexPasses {
  typedef typename V::v v;

  // Output j of the butterfly times the twiddle (wr + i wi) stored at wa[i].
  static inline void twiddle_store(float *re, const float *wa, int i, v fsign, v xr, v xi) {
    v wr = V::set1(wa[i]), wi = V::mul(fsign, V::set1(wa[i + 1]));
    V::st(re, V::nmadd(wi, xi, V::mul(wr, xr)));
    V::st(re + 4, V::madd(wi, xr, V::mul(wr, xi)));
  }

#define CC(i, j, k) (cc + 4 * ((i) + ido * ((j) + ip * (k))))
#define CH(i, k, j) (ch + 4 * ((i) + ido * ((k) + l1 * (j))))
  static void pass2(int ido, int l1, const float *cc, float *ch, const float *wa1, float fs) {
    const int ip = 2;
    const v fsign = V::set1(fs);
    for (int k = 0; k < l1; ++k) {
      for (int i = 0; i < ido - 1; i += 2) {
        v ar = V::ld(CC(i, 0, k)), ai = V::ld(CC(i + 1, 0, k));
        v br = V::ld(CC(i, 1, k)), bi = V::ld(CC(i + 1, 1, k));
        V::st(CH(i, k, 0), V::add(ar, br));
        V::st(CH(i + 1, k, 0), V::add(ai, bi));
        twiddle_store(CH(i, k, 1), wa1, i, fsign, V::sub(ar, br), V::sub(ai, bi));
      }
    }
  }

  static void pass3(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2, float fs) {
    const int ip = 3;
    const v fsign = V::set1(fs);
    const v taur = V::set1(-0.5f);
    const v taui = V::set1(0.866025403784438646763723170752936183f * fs);
    for (int k = 0; k < l1; ++k) {
      for (int i = 0; i < ido - 1; i += 2) {
        v x0r = V::ld(CC(i, 0, k)), x0i = V::ld(CC(i + 1, 0, k));
        v x1r = V::ld(CC(i, 1, k)), x1i = V::ld(CC(i + 1, 1, k));
        v x2r = V::ld(CC(i, 2, k)), x2i = V::ld(CC(i + 1, 2, k));
        v tr2 = V::add(x1r, x2r), ti2 = V::add(x1i, x2i);
        V::st(CH(i, k, 0), V::add(x0r, tr2));
        V::st(CH(i + 1, k, 0), V::add(x0i, ti2));
        v cr2 = V::madd(taur, tr2, x0r), ci2 = V::madd(taur, ti2, x0i);
        v cr3 = V::mul(taui, V::sub(x1r, x2r)), ci3 = V::mul(taui, V::sub(x1i, x2i));
        twiddle_store(CH(i, k, 1), wa1, i, fsign, V::sub(cr2, ci3), V::add(ci2, cr3));
        twiddle_store(CH(i, k, 2), wa2, i, fsign, V::add(cr2, ci3), V::sub(ci2, cr3));
      }
    }
  }

  static void pass4(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2, const float *wa3, float fs) {
    const int ip = 4;
    const v fsign = V::set1(fs);
    for (int k = 0; k < l1; ++k) {
      for (int i = 0; i < ido - 1; i += 2) {
        v x0r = V::ld(CC(i, 0, k)), x0i = V::ld(CC(i + 1, 0, k));
        v x1r = V::ld(CC(i, 1, k)), x1i = V::ld(CC(i + 1, 1, k));
        v x2r = V::ld(CC(i, 2, k)), x2i = V::ld(CC(i + 1, 2, k));
        v x3r = V::ld(CC(i, 3, k)), x3i = V::ld(CC(i + 1, 3, k));
        v s02r = V::add(x0r, x2r), s02i = V::add(x0i, x2i);
        v d02r = V::sub(x0r, x2r), d02i = V::sub(x0i, x2i);
        v s13r = V::add(x1r, x3r), s13i = V::add(x1i, x3i);
        // fsign * i * (x1 - x3)
        v jr = V::mul(fsign, V::sub(x3i, x1i)), ji = V::mul(fsign, V::sub(x1r, x3r));
        V::st(CH(i, k, 0), V::add(s02r, s13r));
        V::st(CH(i + 1, k, 0), V::add(s02i, s13i));
        twiddle_store(CH(i, k, 1), wa1, i, fsign, V::add(d02r, jr), V::add(d02i, ji));
        twiddle_store(CH(i, k, 2), wa2, i, fsign, V::sub(s02r, s13r), V::sub(s02i, s13i));
        twiddle_store(CH(i, k, 3), wa3, i, fsign, V::sub(d02r, jr), V::sub(d02i, ji));
      }
    }
  }

  static void pass5(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2, const float *wa3, const float *wa4, float fs) {
    const int ip = 5;
    const v fsign = V::set1(fs);
    const v tr11 = V::set1(0.309016994374947424102293417182819059f);
    const v ti11 = V::set1(0.951056516295153572116439333379382143f * fs);
    const v tr12 = V::set1(-0.809016994374947424102293417182819059f);
    const v ti12 = V::set1(0.587785252292473129168705954639072769f * fs);
    for (int k = 0; k < l1; ++k) {
      for (int i = 0; i < ido - 1; i += 2) {
        v x0r = V::ld(CC(i, 0, k)), x0i = V::ld(CC(i + 1, 0, k));
        v x1r = V::ld(CC(i, 1, k)), x1i = V::ld(CC(i + 1, 1, k));
        v x2r = V::ld(CC(i, 2, k)), x2i = V::ld(CC(i + 1, 2, k));
        v x3r = V::ld(CC(i, 3, k)), x3i = V::ld(CC(i + 1, 3, k));
        v x4r = V::ld(CC(i, 4, k)), x4i = V::ld(CC(i + 1, 4, k));
        v t1r = V::add(x1r, x4r), t1i = V::add(x1i, x4i);
        v t2r = V::add(x2r, x3r), t2i = V::add(x2i, x3i);
        v t3r = V::sub(x1r, x4r), t3i = V::sub(x1i, x4i);
        v t4r = V::sub(x2r, x3r), t4i = V::sub(x2i, x3i);
        V::st(CH(i, k, 0), V::add(x0r, V::add(t1r, t2r)));
        V::st(CH(i + 1, k, 0), V::add(x0i, V::add(t1i, t2i)));
        v c1r = V::madd(tr12, t2r, V::madd(tr11, t1r, x0r));
        v c1i = V::madd(tr12, t2i, V::madd(tr11, t1i, x0i));
        v c2r = V::madd(tr11, t2r, V::madd(tr12, t1r, x0r));
        v c2i = V::madd(tr11, t2i, V::madd(tr12, t1i, x0i));
        // s1 = fsign (ti11 t3 + ti12 t4), s2 = fsign (ti12 t3 - ti11 t4); outputs add i * s.
        v s1r = V::madd(ti12, t4r, V::mul(ti11, t3r)), s1i = V::madd(ti12, t4i, V::mul(ti11, t3i));
        v s2r = V::nmadd(ti11, t4r, V::mul(ti12, t3r)), s2i = V::nmadd(ti11, t4i, V::mul(ti12, t3i));
        twiddle_store(CH(i, k, 1), wa1, i, fsign, V::sub(c1r, s1i), V::add(c1i, s1r));
        twiddle_store(CH(i, k, 4), wa4, i, fsign, V::add(c1r, s1i), V::sub(c1i, s1r));
        twiddle_store(CH(i, k, 2), wa2, i, fsign, V::sub(c2r, s2i), V::add(c2i, s2r));
        twiddle_store(CH(i, k, 3), wa3, i, fsign, V::add(c2r, s2i), V::sub(c2i, s2r));
      }
    }
  }
#undef CC
#undef CH
};
