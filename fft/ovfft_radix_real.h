// Real-data radix stages on four-lane vectors, FFTPACK formulation.
// Forward stages (radf*) read cc[ido][l1][ip] and write ch[ido][ip][l1];
// backward stages (radb*) read cc[ido][ip][l1] and write ch[ido][l1][ip]
// (first index fastest, every element one vector). Twiddles are scalars
// shared by all lanes; stage j of a radix uses the block wa + (j - 1) * ido.
// Included inside a backend namespace that defines the vector type V.

template <class V>
struct RealStages {
  typedef typename V::v v;

  // (xr + i xi) * (c - i s): the forward twiddle.
  static inline void mul_conj(v c, v s, v xr, v xi, v &yr, v &yi) {
    yr = V::madd(c, xr, V::mul(s, xi));
    yi = V::nmadd(s, xr, V::mul(c, xi));
  }
  // (xr + i xi) * (c + i s): the backward twiddle.
  static inline void mul(v c, v s, v xr, v xi, v &yr, v &yi) {
    yr = V::nmadd(s, xi, V::mul(c, xr));
    yi = V::madd(s, xr, V::mul(c, xi));
  }

#define CC(i, k, j) (cc + 4 * ((i) + ido * ((k) + l1 * (j))))
#define CH(i, j, k) (ch + 4 * ((i) + ido * ((j) + ip * (k))))
  static void radf2(int ido, int l1, const float *cc, float *ch, const float *wa1) {
    const int ip = 2;
    for (int k = 0; k < l1; ++k) {
      v a = V::ld(CC(0, k, 0)), b = V::ld(CC(0, k, 1));
      V::st(CH(0, 0, k), V::add(a, b));
      V::st(CH(ido - 1, 1, k), V::sub(a, b));
    }
    if (ido < 2) return;
    if (ido > 2) {
      for (int k = 0; k < l1; ++k) {
        for (int r = 1; r < ido - 1; r += 2) {
          const int ic = ido - r - 2;
          v tr2, ti2;
          mul_conj(V::set1(wa1[r - 1]), V::set1(wa1[r]), V::ld(CC(r, k, 1)), V::ld(CC(r + 1, k, 1)),
                   tr2, ti2);
          v ar = V::ld(CC(r, k, 0)), ai = V::ld(CC(r + 1, k, 0));
          V::st(CH(r + 1, 0, k), V::add(ai, ti2));
          V::st(CH(ic + 1, 1, k), V::sub(ti2, ai));
          V::st(CH(r, 0, k), V::add(ar, tr2));
          V::st(CH(ic, 1, k), V::sub(ar, tr2));
        }
      }
      if (ido % 2 == 1) return;
    }
    const v zero = V::set1(0.f);
    for (int k = 0; k < l1; ++k) {
      V::st(CH(0, 1, k), V::sub(zero, V::ld(CC(ido - 1, k, 1))));
      V::st(CH(ido - 1, 0, k), V::ld(CC(ido - 1, k, 0)));
    }
  }

  static void radf3(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2) {
    const int ip = 3;
    const v taur = V::set1(-0.5f), taui = V::set1(0.866025403784438646763723170752936183f);
    for (int k = 0; k < l1; ++k) {
      v c0 = V::ld(CC(0, k, 0)), c1 = V::ld(CC(0, k, 1)), c2 = V::ld(CC(0, k, 2));
      v cr2 = V::add(c1, c2);
      V::st(CH(0, 0, k), V::add(c0, cr2));
      V::st(CH(0, 2, k), V::mul(taui, V::sub(c2, c1)));
      V::st(CH(ido - 1, 1, k), V::madd(taur, cr2, c0));
    }
    if (ido == 1) return;
    for (int k = 0; k < l1; ++k) {
      for (int r = 1; r < ido - 1; r += 2) {
        const int ic = ido - r - 2;
        v dr2, di2, dr3, di3;
        mul_conj(V::set1(wa1[r - 1]), V::set1(wa1[r]), V::ld(CC(r, k, 1)), V::ld(CC(r + 1, k, 1)),
                 dr2, di2);
        mul_conj(V::set1(wa2[r - 1]), V::set1(wa2[r]), V::ld(CC(r, k, 2)), V::ld(CC(r + 1, k, 2)),
                 dr3, di3);
        v ar = V::ld(CC(r, k, 0)), ai = V::ld(CC(r + 1, k, 0));
        v cr2 = V::add(dr2, dr3), ci2 = V::add(di2, di3);
        V::st(CH(r, 0, k), V::add(ar, cr2));
        V::st(CH(r + 1, 0, k), V::add(ai, ci2));
        v tr2 = V::madd(taur, cr2, ar), ti2 = V::madd(taur, ci2, ai);
        v tr3 = V::mul(taui, V::sub(di2, di3)), ti3 = V::mul(taui, V::sub(dr3, dr2));
        V::st(CH(r, 2, k), V::add(tr2, tr3));
        V::st(CH(ic, 1, k), V::sub(tr2, tr3));
        V::st(CH(r + 1, 2, k), V::add(ti2, ti3));
        V::st(CH(ic + 1, 1, k), V::sub(ti3, ti2));
      }
    }
  }

  static void radf4(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2, const float *wa3) {
    const int ip = 4;
    for (int k = 0; k < l1; ++k) {
      v c0 = V::ld(CC(0, k, 0)), c1 = V::ld(CC(0, k, 1));
      v c2 = V::ld(CC(0, k, 2)), c3 = V::ld(CC(0, k, 3));
      v tr1 = V::add(c1, c3), tr2 = V::add(c0, c2);
      V::st(CH(0, 0, k), V::add(tr1, tr2));
      V::st(CH(ido - 1, 3, k), V::sub(tr2, tr1));
      V::st(CH(ido - 1, 1, k), V::sub(c0, c2));
      V::st(CH(0, 2, k), V::sub(c3, c1));
    }
    if (ido < 2) return;
    if (ido > 2) {
      for (int k = 0; k < l1; ++k) {
        for (int r = 1; r < ido - 1; r += 2) {
          const int ic = ido - r - 2;
          v cr2, ci2, cr3, ci3, cr4, ci4;
          mul_conj(V::set1(wa1[r - 1]), V::set1(wa1[r]), V::ld(CC(r, k, 1)),
                   V::ld(CC(r + 1, k, 1)), cr2, ci2);
          mul_conj(V::set1(wa2[r - 1]), V::set1(wa2[r]), V::ld(CC(r, k, 2)),
                   V::ld(CC(r + 1, k, 2)), cr3, ci3);
          mul_conj(V::set1(wa3[r - 1]), V::set1(wa3[r]), V::ld(CC(r, k, 3)),
                   V::ld(CC(r + 1, k, 3)), cr4, ci4);
          v ar = V::ld(CC(r, k, 0)), ai = V::ld(CC(r + 1, k, 0));
          v tr1 = V::add(cr2, cr4), tr4 = V::sub(cr4, cr2);
          v ti1 = V::add(ci2, ci4), ti4 = V::sub(ci2, ci4);
          v ti2 = V::add(ai, ci3), ti3 = V::sub(ai, ci3);
          v tr2 = V::add(ar, cr3), tr3 = V::sub(ar, cr3);
          V::st(CH(r, 0, k), V::add(tr1, tr2));
          V::st(CH(ic, 3, k), V::sub(tr2, tr1));
          V::st(CH(r + 1, 0, k), V::add(ti1, ti2));
          V::st(CH(ic + 1, 3, k), V::sub(ti1, ti2));
          V::st(CH(r, 2, k), V::add(ti4, tr3));
          V::st(CH(ic, 1, k), V::sub(tr3, ti4));
          V::st(CH(r + 1, 2, k), V::add(tr4, ti3));
          V::st(CH(ic + 1, 1, k), V::sub(tr4, ti3));
        }
      }
      if (ido % 2 == 1) return;
    }
    const v hsqt2 = V::set1(0.707106781186547524400844362104849039f);
    const v mhsqt2 = V::set1(-0.707106781186547524400844362104849039f);
    for (int k = 0; k < l1; ++k) {
      v c0 = V::ld(CC(ido - 1, k, 0)), c1 = V::ld(CC(ido - 1, k, 1));
      v c2 = V::ld(CC(ido - 1, k, 2)), c3 = V::ld(CC(ido - 1, k, 3));
      v ti1 = V::mul(mhsqt2, V::add(c1, c3));
      v tr1 = V::mul(hsqt2, V::sub(c1, c3));
      V::st(CH(ido - 1, 0, k), V::add(tr1, c0));
      V::st(CH(ido - 1, 2, k), V::sub(c0, tr1));
      V::st(CH(0, 1, k), V::sub(ti1, c2));
      V::st(CH(0, 3, k), V::add(ti1, c2));
    }
  }

  static void radf5(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2, const float *wa3, const float *wa4) {
    const int ip = 5;
    const v tr11 = V::set1(0.309016994374947424102293417182819059f);
    const v ti11 = V::set1(0.951056516295153572116439333379382143f);
    const v tr12 = V::set1(-0.809016994374947424102293417182819059f);
    const v ti12 = V::set1(0.587785252292473129168705954639072769f);
    for (int k = 0; k < l1; ++k) {
      v c0 = V::ld(CC(0, k, 0)), c1 = V::ld(CC(0, k, 1)), c2 = V::ld(CC(0, k, 2));
      v c3 = V::ld(CC(0, k, 3)), c4 = V::ld(CC(0, k, 4));
      v cr2 = V::add(c4, c1), ci5 = V::sub(c4, c1);
      v cr3 = V::add(c3, c2), ci4 = V::sub(c3, c2);
      V::st(CH(0, 0, k), V::add(c0, V::add(cr2, cr3)));
      V::st(CH(ido - 1, 1, k), V::madd(tr12, cr3, V::madd(tr11, cr2, c0)));
      V::st(CH(0, 2, k), V::madd(ti12, ci4, V::mul(ti11, ci5)));
      V::st(CH(ido - 1, 3, k), V::madd(tr11, cr3, V::madd(tr12, cr2, c0)));
      V::st(CH(0, 4, k), V::nmadd(ti11, ci4, V::mul(ti12, ci5)));
    }
    if (ido == 1) return;
    for (int k = 0; k < l1; ++k) {
      for (int r = 1; r < ido - 1; r += 2) {
        const int ic = ido - r - 2;
        v dr2, di2, dr3, di3, dr4, di4, dr5, di5;
        mul_conj(V::set1(wa1[r - 1]), V::set1(wa1[r]), V::ld(CC(r, k, 1)), V::ld(CC(r + 1, k, 1)),
                 dr2, di2);
        mul_conj(V::set1(wa2[r - 1]), V::set1(wa2[r]), V::ld(CC(r, k, 2)), V::ld(CC(r + 1, k, 2)),
                 dr3, di3);
        mul_conj(V::set1(wa3[r - 1]), V::set1(wa3[r]), V::ld(CC(r, k, 3)), V::ld(CC(r + 1, k, 3)),
                 dr4, di4);
        mul_conj(V::set1(wa4[r - 1]), V::set1(wa4[r]), V::ld(CC(r, k, 4)), V::ld(CC(r + 1, k, 4)),
                 dr5, di5);
        v cr2 = V::add(dr2, dr5), ci5 = V::sub(dr5, dr2);
        v cr5 = V::sub(di2, di5), ci2 = V::add(di2, di5);
        v cr3 = V::add(dr3, dr4), ci4 = V::sub(dr4, dr3);
        v cr4 = V::sub(di3, di4), ci3 = V::add(di3, di4);
        v ar = V::ld(CC(r, k, 0)), ai = V::ld(CC(r + 1, k, 0));
        V::st(CH(r, 0, k), V::add(ar, V::add(cr2, cr3)));
        V::st(CH(r + 1, 0, k), V::add(ai, V::add(ci2, ci3)));
        v tr2 = V::madd(tr12, cr3, V::madd(tr11, cr2, ar));
        v ti2 = V::madd(tr12, ci3, V::madd(tr11, ci2, ai));
        v tr3 = V::madd(tr11, cr3, V::madd(tr12, cr2, ar));
        v ti3 = V::madd(tr11, ci3, V::madd(tr12, ci2, ai));
        v tr5 = V::madd(ti12, cr4, V::mul(ti11, cr5));
        v ti5 = V::madd(ti12, ci4, V::mul(ti11, ci5));
        v tr4 = V::nmadd(ti11, cr4, V::mul(ti12, cr5));
        v ti4 = V::nmadd(ti11, ci4, V::mul(ti12, ci5));
        V::st(CH(r, 2, k), V::add(tr2, tr5));
        V::st(CH(ic, 1, k), V::sub(tr2, tr5));
        V::st(CH(r + 1, 2, k), V::add(ti2, ti5));
        V::st(CH(ic + 1, 1, k), V::sub(ti5, ti2));
        V::st(CH(r, 4, k), V::add(tr3, tr4));
        V::st(CH(ic, 3, k), V::sub(tr3, tr4));
        V::st(CH(r + 1, 4, k), V::add(ti3, ti4));
        V::st(CH(ic + 1, 3, k), V::sub(ti4, ti3));
      }
    }
  }
#undef CC
#undef CH

#define CC(i, j, k) (cc + 4 * ((i) + ido * ((j) + ip * (k))))
#define CH(i, k, j) (ch + 4 * ((i) + ido * ((k) + l1 * (j))))
  static void radb2(int ido, int l1, const float *cc, float *ch, const float *wa1) {
    const int ip = 2;
    for (int k = 0; k < l1; ++k) {
      v a = V::ld(CC(0, 0, k)), b = V::ld(CC(ido - 1, 1, k));
      V::st(CH(0, k, 0), V::add(a, b));
      V::st(CH(0, k, 1), V::sub(a, b));
    }
    if (ido < 2) return;
    if (ido > 2) {
      for (int k = 0; k < l1; ++k) {
        for (int r = 1; r < ido - 1; r += 2) {
          const int ic = ido - r - 2;
          v ar = V::ld(CC(r, 0, k)), ai = V::ld(CC(r + 1, 0, k));
          v br = V::ld(CC(ic, 1, k)), bi = V::ld(CC(ic + 1, 1, k));
          V::st(CH(r, k, 0), V::add(ar, br));
          V::st(CH(r + 1, k, 0), V::sub(ai, bi));
          v yr, yi;
          mul(V::set1(wa1[r - 1]), V::set1(wa1[r]), V::sub(ar, br), V::add(ai, bi), yr, yi);
          V::st(CH(r, k, 1), yr);
          V::st(CH(r + 1, k, 1), yi);
        }
      }
      if (ido % 2 == 1) return;
    }
    const v mtwo = V::set1(-2.f), two = V::set1(2.f);
    for (int k = 0; k < l1; ++k) {
      V::st(CH(ido - 1, k, 0), V::mul(two, V::ld(CC(ido - 1, 0, k))));
      V::st(CH(ido - 1, k, 1), V::mul(mtwo, V::ld(CC(0, 1, k))));
    }
  }

  static void radb3(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2) {
    const int ip = 3;
    const v taur = V::set1(-0.5f), taui = V::set1(0.866025403784438646763723170752936183f);
    const v two = V::set1(2.f);
    for (int k = 0; k < l1; ++k) {
      v c0 = V::ld(CC(0, 0, k));
      v tr2 = V::mul(two, V::ld(CC(ido - 1, 1, k)));
      v cr2 = V::madd(taur, tr2, c0);
      V::st(CH(0, k, 0), V::add(c0, tr2));
      v ci3 = V::mul(V::mul(two, taui), V::ld(CC(0, 2, k)));
      V::st(CH(0, k, 1), V::sub(cr2, ci3));
      V::st(CH(0, k, 2), V::add(cr2, ci3));
    }
    if (ido == 1) return;
    for (int k = 0; k < l1; ++k) {
      for (int r = 1; r < ido - 1; r += 2) {
        const int ic = ido - r - 2;
        v ar = V::ld(CC(r, 0, k)), ai = V::ld(CC(r + 1, 0, k));
        v br = V::ld(CC(r, 2, k)), bi = V::ld(CC(r + 1, 2, k));
        v cr = V::ld(CC(ic, 1, k)), ci = V::ld(CC(ic + 1, 1, k));
        v tr2 = V::add(br, cr);
        v cr2 = V::madd(taur, tr2, ar);
        V::st(CH(r, k, 0), V::add(ar, tr2));
        v ti2 = V::sub(bi, ci);
        v ci2 = V::madd(taur, ti2, ai);
        V::st(CH(r + 1, k, 0), V::add(ai, ti2));
        v cr3 = V::mul(taui, V::sub(br, cr));
        v ci3 = V::mul(taui, V::add(bi, ci));
        v yr, yi;
        mul(V::set1(wa1[r - 1]), V::set1(wa1[r]), V::sub(cr2, ci3), V::add(ci2, cr3), yr, yi);
        V::st(CH(r, k, 1), yr);
        V::st(CH(r + 1, k, 1), yi);
        mul(V::set1(wa2[r - 1]), V::set1(wa2[r]), V::add(cr2, ci3), V::sub(ci2, cr3), yr, yi);
        V::st(CH(r, k, 2), yr);
        V::st(CH(r + 1, k, 2), yi);
      }
    }
  }

  static void radb4(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2, const float *wa3) {
    const int ip = 4;
    const v two = V::set1(2.f);
    for (int k = 0; k < l1; ++k) {
      v a = V::ld(CC(0, 0, k)), d = V::ld(CC(ido - 1, 3, k));
      v tr1 = V::sub(a, d), tr2 = V::add(a, d);
      v tr3 = V::mul(two, V::ld(CC(ido - 1, 1, k)));
      v tr4 = V::mul(two, V::ld(CC(0, 2, k)));
      V::st(CH(0, k, 0), V::add(tr2, tr3));
      V::st(CH(0, k, 1), V::sub(tr1, tr4));
      V::st(CH(0, k, 2), V::sub(tr2, tr3));
      V::st(CH(0, k, 3), V::add(tr1, tr4));
    }
    if (ido < 2) return;
    if (ido > 2) {
      for (int k = 0; k < l1; ++k) {
        for (int r = 1; r < ido - 1; r += 2) {
          const int ic = ido - r - 2;
          v ti1 = V::add(V::ld(CC(r + 1, 0, k)), V::ld(CC(ic + 1, 3, k)));
          v ti2 = V::sub(V::ld(CC(r + 1, 0, k)), V::ld(CC(ic + 1, 3, k)));
          v ti3 = V::sub(V::ld(CC(r + 1, 2, k)), V::ld(CC(ic + 1, 1, k)));
          v tr4 = V::add(V::ld(CC(r + 1, 2, k)), V::ld(CC(ic + 1, 1, k)));
          v tr1 = V::sub(V::ld(CC(r, 0, k)), V::ld(CC(ic, 3, k)));
          v tr2 = V::add(V::ld(CC(r, 0, k)), V::ld(CC(ic, 3, k)));
          v ti4 = V::sub(V::ld(CC(r, 2, k)), V::ld(CC(ic, 1, k)));
          v tr3 = V::add(V::ld(CC(r, 2, k)), V::ld(CC(ic, 1, k)));
          V::st(CH(r, k, 0), V::add(tr2, tr3));
          v cr3 = V::sub(tr2, tr3);
          V::st(CH(r + 1, k, 0), V::add(ti2, ti3));
          v ci3 = V::sub(ti2, ti3);
          v cr2 = V::sub(tr1, tr4), cr4 = V::add(tr1, tr4);
          v ci2 = V::add(ti1, ti4), ci4 = V::sub(ti1, ti4);
          v yr, yi;
          mul(V::set1(wa1[r - 1]), V::set1(wa1[r]), cr2, ci2, yr, yi);
          V::st(CH(r, k, 1), yr);
          V::st(CH(r + 1, k, 1), yi);
          mul(V::set1(wa2[r - 1]), V::set1(wa2[r]), cr3, ci3, yr, yi);
          V::st(CH(r, k, 2), yr);
          V::st(CH(r + 1, k, 2), yi);
          mul(V::set1(wa3[r - 1]), V::set1(wa3[r]), cr4, ci4, yr, yi);
          V::st(CH(r, k, 3), yr);
          V::st(CH(r + 1, k, 3), yi);
        }
      }
      if (ido % 2 == 1) return;
    }
    const v sqrt2 = V::set1(1.41421356237309504880168872420969808f);
    const v msqrt2 = V::set1(-1.41421356237309504880168872420969808f);
    for (int k = 0; k < l1; ++k) {
      v ti1 = V::add(V::ld(CC(0, 1, k)), V::ld(CC(0, 3, k)));
      v ti2 = V::sub(V::ld(CC(0, 3, k)), V::ld(CC(0, 1, k)));
      v tr1 = V::sub(V::ld(CC(ido - 1, 0, k)), V::ld(CC(ido - 1, 2, k)));
      v tr2 = V::add(V::ld(CC(ido - 1, 0, k)), V::ld(CC(ido - 1, 2, k)));
      V::st(CH(ido - 1, k, 0), V::add(tr2, tr2));
      V::st(CH(ido - 1, k, 1), V::mul(sqrt2, V::sub(tr1, ti1)));
      V::st(CH(ido - 1, k, 2), V::add(ti2, ti2));
      V::st(CH(ido - 1, k, 3), V::mul(msqrt2, V::add(tr1, ti1)));
    }
  }

  static void radb5(int ido, int l1, const float *cc, float *ch, const float *wa1,
                    const float *wa2, const float *wa3, const float *wa4) {
    const int ip = 5;
    const v tr11 = V::set1(0.309016994374947424102293417182819059f);
    const v ti11 = V::set1(0.951056516295153572116439333379382143f);
    const v tr12 = V::set1(-0.809016994374947424102293417182819059f);
    const v ti12 = V::set1(0.587785252292473129168705954639072769f);
    const v two = V::set1(2.f);
    for (int k = 0; k < l1; ++k) {
      v c0 = V::ld(CC(0, 0, k));
      v ti5 = V::mul(two, V::ld(CC(0, 2, k)));
      v ti4 = V::mul(two, V::ld(CC(0, 4, k)));
      v tr2 = V::mul(two, V::ld(CC(ido - 1, 1, k)));
      v tr3 = V::mul(two, V::ld(CC(ido - 1, 3, k)));
      V::st(CH(0, k, 0), V::add(c0, V::add(tr2, tr3)));
      v cr2 = V::madd(tr12, tr3, V::madd(tr11, tr2, c0));
      v cr3 = V::madd(tr11, tr3, V::madd(tr12, tr2, c0));
      v ci5 = V::madd(ti12, ti4, V::mul(ti11, ti5));
      v ci4 = V::nmadd(ti11, ti4, V::mul(ti12, ti5));
      V::st(CH(0, k, 1), V::sub(cr2, ci5));
      V::st(CH(0, k, 2), V::sub(cr3, ci4));
      V::st(CH(0, k, 3), V::add(cr3, ci4));
      V::st(CH(0, k, 4), V::add(cr2, ci5));
    }
    if (ido == 1) return;
    for (int k = 0; k < l1; ++k) {
      for (int r = 1; r < ido - 1; r += 2) {
        const int ic = ido - r - 2;
        v ti5 = V::add(V::ld(CC(r + 1, 2, k)), V::ld(CC(ic + 1, 1, k)));
        v ti2 = V::sub(V::ld(CC(r + 1, 2, k)), V::ld(CC(ic + 1, 1, k)));
        v ti4 = V::add(V::ld(CC(r + 1, 4, k)), V::ld(CC(ic + 1, 3, k)));
        v ti3 = V::sub(V::ld(CC(r + 1, 4, k)), V::ld(CC(ic + 1, 3, k)));
        v tr5 = V::sub(V::ld(CC(r, 2, k)), V::ld(CC(ic, 1, k)));
        v tr2 = V::add(V::ld(CC(r, 2, k)), V::ld(CC(ic, 1, k)));
        v tr4 = V::sub(V::ld(CC(r, 4, k)), V::ld(CC(ic, 3, k)));
        v tr3 = V::add(V::ld(CC(r, 4, k)), V::ld(CC(ic, 3, k)));
        v ar = V::ld(CC(r, 0, k)), ai = V::ld(CC(r + 1, 0, k));
        V::st(CH(r, k, 0), V::add(ar, V::add(tr2, tr3)));
        V::st(CH(r + 1, k, 0), V::add(ai, V::add(ti2, ti3)));
        v cr2 = V::madd(tr12, tr3, V::madd(tr11, tr2, ar));
        v ci2 = V::madd(tr12, ti3, V::madd(tr11, ti2, ai));
        v cr3 = V::madd(tr11, tr3, V::madd(tr12, tr2, ar));
        v ci3 = V::madd(tr11, ti3, V::madd(tr12, ti2, ai));
        v cr5 = V::madd(ti12, tr4, V::mul(ti11, tr5));
        v ci5 = V::madd(ti12, ti4, V::mul(ti11, ti5));
        v cr4 = V::nmadd(ti11, tr4, V::mul(ti12, tr5));
        v ci4 = V::nmadd(ti11, ti4, V::mul(ti12, ti5));
        v dr3 = V::sub(cr3, ci4), dr4 = V::add(cr3, ci4);
        v di3 = V::add(ci3, cr4), di4 = V::sub(ci3, cr4);
        v dr5 = V::add(cr2, ci5), dr2 = V::sub(cr2, ci5);
        v di5 = V::sub(ci2, cr5), di2 = V::add(ci2, cr5);
        v yr, yi;
        mul(V::set1(wa1[r - 1]), V::set1(wa1[r]), dr2, di2, yr, yi);
        V::st(CH(r, k, 1), yr);
        V::st(CH(r + 1, k, 1), yi);
        mul(V::set1(wa2[r - 1]), V::set1(wa2[r]), dr3, di3, yr, yi);
        V::st(CH(r, k, 2), yr);
        V::st(CH(r + 1, k, 2), yi);
        mul(V::set1(wa3[r - 1]), V::set1(wa3[r]), dr4, di4, yr, yi);
        V::st(CH(r, k, 3), yr);
        V::st(CH(r + 1, k, 3), yi);
        mul(V::set1(wa4[r - 1]), V::set1(wa4[r]), dr5, di5, yr, yi);
        V::st(CH(r, k, 4), yr);
        V::st(CH(r + 1, k, 4), yi);
      }
    }
  }
#undef CC
#undef CH
};
