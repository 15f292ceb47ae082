// Vector bodies of the inner loops of nn_simd.h, written once over a vector
// vocabulary V (type v, width, zero, set1, load, store, fma = a*b + c, add,
// hsum). Each instruction-set file defines V and includes this file; the
// anonymous namespace keeps every instantiation private to its file, so
// code compiled for AVX2 can never be shared with a baseline caller.
#ifndef CALYX_NN_SIMD_BODY_H
#define CALYX_NN_SIMD_BODY_H

#include <stdint.h>

namespace {

template <class V>
void rowcomb_vec(const float *a, const float *M, uint32_t rows, uint32_t n, uint32_t ld,
                 float *y) {
    typedef typename V::v vec;
    const uint32_t L = V::width;
    uint32_t j = 0;
    // Eight accumulators across 8 vectors of columns: enough independent
    // chains to hide the multiply-add latency.
    for (; j + 8 * L <= n; j += 8 * L) {
        vec c0 = V::zero(), c1 = V::zero(), c2 = V::zero(), c3 = V::zero();
        vec c4 = V::zero(), c5 = V::zero(), c6 = V::zero(), c7 = V::zero();
        const float *m = M + j;
        for (uint32_t r = 0; r < rows; ++r, m += ld) {
            const vec s = V::set1(a[r]);
            c0 = V::fma(s, V::load(m), c0);
            c1 = V::fma(s, V::load(m + L), c1);
            c2 = V::fma(s, V::load(m + 2 * L), c2);
            c3 = V::fma(s, V::load(m + 3 * L), c3);
            c4 = V::fma(s, V::load(m + 4 * L), c4);
            c5 = V::fma(s, V::load(m + 5 * L), c5);
            c6 = V::fma(s, V::load(m + 6 * L), c6);
            c7 = V::fma(s, V::load(m + 7 * L), c7);
        }
        V::store(y + j, c0);
        V::store(y + j + L, c1);
        V::store(y + j + 2 * L, c2);
        V::store(y + j + 3 * L, c3);
        V::store(y + j + 4 * L, c4);
        V::store(y + j + 5 * L, c5);
        V::store(y + j + 6 * L, c6);
        V::store(y + j + 7 * L, c7);
    }
    // Four vectors of columns: even and odd rows accumulate separately.
    for (; j + 4 * L <= n; j += 4 * L) {
        vec c0 = V::zero(), c1 = V::zero(), c2 = V::zero(), c3 = V::zero();
        vec d0 = V::zero(), d1 = V::zero(), d2 = V::zero(), d3 = V::zero();
        const float *m = M + j;
        uint32_t r = 0;
        for (; r + 2 <= rows; r += 2, m += 2 * (uint64_t)ld) {
            const vec s = V::set1(a[r]);
            const vec t = V::set1(a[r + 1]);
            const float *m1 = m + ld;
            c0 = V::fma(s, V::load(m), c0);
            c1 = V::fma(s, V::load(m + L), c1);
            c2 = V::fma(s, V::load(m + 2 * L), c2);
            c3 = V::fma(s, V::load(m + 3 * L), c3);
            d0 = V::fma(t, V::load(m1), d0);
            d1 = V::fma(t, V::load(m1 + L), d1);
            d2 = V::fma(t, V::load(m1 + 2 * L), d2);
            d3 = V::fma(t, V::load(m1 + 3 * L), d3);
        }
        if (r < rows) {
            const vec s = V::set1(a[r]);
            c0 = V::fma(s, V::load(m), c0);
            c1 = V::fma(s, V::load(m + L), c1);
            c2 = V::fma(s, V::load(m + 2 * L), c2);
            c3 = V::fma(s, V::load(m + 3 * L), c3);
        }
        V::store(y + j, V::add(c0, d0));
        V::store(y + j + L, V::add(c1, d1));
        V::store(y + j + 2 * L, V::add(c2, d2));
        V::store(y + j + 3 * L, V::add(c3, d3));
    }
    // One vector of columns: four rows in flight.
    for (; j + L <= n; j += L) {
        vec c0 = V::zero(), c1 = V::zero(), c2 = V::zero(), c3 = V::zero();
        const float *m = M + j;
        uint32_t r = 0;
        for (; r + 4 <= rows; r += 4, m += 4 * (uint64_t)ld) {
            c0 = V::fma(V::set1(a[r]), V::load(m), c0);
            c1 = V::fma(V::set1(a[r + 1]), V::load(m + ld), c1);
            c2 = V::fma(V::set1(a[r + 2]), V::load(m + 2 * (uint64_t)ld), c2);
            c3 = V::fma(V::set1(a[r + 3]), V::load(m + 3 * (uint64_t)ld), c3);
        }
        for (; r < rows; ++r, m += ld) c0 = V::fma(V::set1(a[r]), V::load(m), c0);
        V::store(y + j, V::add(V::add(c0, c1), V::add(c2, c3)));
    }
    for (; j < n; ++j) {
        float s = 0.0f;
        for (uint32_t r = 0; r < rows; ++r) s += a[r] * M[(uint64_t)r * ld + j];
        y[j] = s;
    }
}

// Each unit streams its six weight rows once, side by side, into one
// accumulator per row.
template <class V>
void gru_sums_vec(const float *const W[6], const float *x, const float *h, uint32_t units,
                  uint32_t n_in, float *s) {
    typedef typename V::v vec;
    const uint32_t L = V::width;
    const uint32_t nv = n_in - n_in % L;
    for (uint32_t j = 0; j < units; ++j) {
        const uint64_t o = (uint64_t)j * n_in;
        const float *wir = W[0] + o, *wiz = W[1] + o, *win = W[2] + o;
        const float *whr = W[3] + o, *whz = W[4] + o, *whn = W[5] + o;
        vec rx = V::zero(), zx = V::zero(), nx = V::zero();
        vec rh = V::zero(), zh = V::zero(), nh = V::zero();
        for (uint32_t k = 0; k < nv; k += L) {
            const vec xv = V::load(x + k);
            const vec hv = V::load(h + k);
            rx = V::fma(V::load(wir + k), xv, rx);
            zx = V::fma(V::load(wiz + k), xv, zx);
            nx = V::fma(V::load(win + k), xv, nx);
            rh = V::fma(V::load(whr + k), hv, rh);
            zh = V::fma(V::load(whz + k), hv, zh);
            nh = V::fma(V::load(whn + k), hv, nh);
        }
        float sr = V::hsum(V::add(rx, rh));
        float sz = V::hsum(V::add(zx, zh));
        float sn = V::hsum(nx);
        float sh = V::hsum(nh);
        for (uint32_t k = nv; k < n_in; ++k) {
            sr += wir[k] * x[k] + whr[k] * h[k];
            sz += wiz[k] * x[k] + whz[k] * h[k];
            sn += win[k] * x[k];
            sh += whn[k] * h[k];
        }
        s[j] = sr;
        s[units + j] = sz;
        s[2 * units + j] = sn;
        s[3 * units + j] = sh;
    }
}

}  // namespace

#endif  // CALYX_NN_SIMD_BODY_H
