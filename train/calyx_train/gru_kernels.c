/* Whole-sequence loops of a gated recurrent layer, forward and backward, for
 * single-precision CPU tensors. Built at first use by gru_native.py and called
 * through ctypes: the PyTorch version spends most of its time dispatching a
 * dozen tiny tensor operations per frame, here a frame is one pass over the
 * hidden weights plus the element-wise gate arithmetic.
 *
 * Layouts (row-major, contiguous): xp [T, B, 3H] input projections with the
 * input bias included; gates stacked (reset, update, candidate) as in w_hh
 * [3H, H]; hidden states [T, B, H].
 */
#include <math.h>
#include <stdint.h>
#include <string.h>

typedef float v8 __attribute__((vector_size(32)));
static inline v8 load8(const float *p) { v8 v; memcpy(&v, p, sizeof v); return v; }
static inline void store8(float *p, v8 v) { memcpy(p, &v, sizeof v); }

#define PANEL 16

/* Copies the matrix m(k, n) = base[k * sk + n * sn], k < K, n < N, into
 * panels of 16 columns, panel p holding [K][16] contiguously. The recurrent
 * weights (768 x 256) outgrow a core's L2 cache, so every frame streams them
 * from L3; read panel by panel the stream is sequential and the prefetcher
 * keeps up, read row by row it is strided and the product waits on memory. */
static void pack_panels(int K, int N, const float *base, size_t sk, size_t sn, float *panels) {
    for (int p = 0; p < N / PANEL; ++p)
        for (int k = 0; k < K; ++k)
            for (int j = 0; j < PANEL; ++j)
                panels[((size_t)p * K + k) * PANEL + j] = base[k * sk + (size_t)(p * PANEL + j) * sn];
}

/* y[b, n] += sum_k x[b, k] m(k, n) for b < B, n < N: x [B, K], y [B, N]. Full
 * panels come from `panels`; a tile of 4 batch rows by 16 columns stays in
 * registers over all of K, so each weight is loaded once per 4 rows. Rows
 * past a multiple of 4 and columns past a multiple of 16 take plain loops
 * over m itself. */
static void add_rows_times(int B, int K, int N, const float *restrict x, const float *restrict panels,
                           const float *base, size_t sk, size_t sn, float *restrict y) {
    const int nb = B - B % 4, nn = N - N % PANEL;
    for (int j0 = 0; j0 < nn; j0 += PANEL) {
        const float *restrict panel = panels + (size_t)j0 * K;
        for (int b0 = 0; b0 < nb; b0 += 4) {
            const float *x0 = x + (size_t)b0 * K, *x1 = x0 + K, *x2 = x1 + K, *x3 = x2 + K;
            float *y0 = y + (size_t)b0 * N + j0, *y1 = y0 + N, *y2 = y1 + N, *y3 = y2 + N;
            v8 a00 = load8(y0), a01 = load8(y0 + 8), a10 = load8(y1), a11 = load8(y1 + 8);
            v8 a20 = load8(y2), a21 = load8(y2 + 8), a30 = load8(y3), a31 = load8(y3 + 8);
            for (int k = 0; k < K; ++k) {
                const v8 m0 = load8(panel + (size_t)k * PANEL), m1 = load8(panel + (size_t)k * PANEL + 8);
                a00 += x0[k] * m0; a01 += x0[k] * m1;
                a10 += x1[k] * m0; a11 += x1[k] * m1;
                a20 += x2[k] * m0; a21 += x2[k] * m1;
                a30 += x3[k] * m0; a31 += x3[k] * m1;
            }
            store8(y0, a00); store8(y0 + 8, a01); store8(y1, a10); store8(y1 + 8, a11);
            store8(y2, a20); store8(y2 + 8, a21); store8(y3, a30); store8(y3 + 8, a31);
        }
    }
    for (int b = 0; b < B; ++b)
        for (int n = b < nb ? nn : 0; n < N; ++n) {
            float s = 0.0f;
            for (int k = 0; k < K; ++k) s += x[(size_t)b * K + k] * base[k * sk + (size_t)n * sn];
            y[(size_t)b * N + n] += s;
        }
}

/* exp(v) to about 2 ulp, written in plain arithmetic so that the gate loops
 * vectorise (the library expf and tanhf are scalar calls and cost more than
 * the matrix product). v = n ln2 + r with |r| <= ln2 / 2, exp(r) by its
 * polynomial, 2^n by building the exponent bits. */
static inline float exp_approx(float v) {
    v = v < -87.0f ? -87.0f : v;
    v = v > 88.0f ? 88.0f : v;
    const float n = floorf(v * 1.44269504f + 0.5f);
    float r = v - n * 0.693359375f;
    r -= n * -2.12194440e-4f;
    float p = 1.9875691500e-4f;
    p = p * r + 1.3981999507e-3f;
    p = p * r + 8.3334519073e-3f;
    p = p * r + 4.1665795894e-2f;
    p = p * r + 1.6666665459e-1f;
    p = p * r + 5.0000001201e-1f;
    p = p * r * r + r + 1.0f;
    const int32_t bits = ((int32_t)n + 127) << 23;
    float scale;
    memcpy(&scale, &bits, sizeof scale);
    return p * scale;
}

static inline float sigmoid_approx(float v) { return 1.0f / (1.0f + exp_approx(-v)); }

/* 1 - 2 / (exp(2v) + 1): exact at the ends, about 1e-7 absolute near 0. */
static inline float tanh_approx(float v) { return 1.0f - 2.0f / (exp_approx(2.0f * v) + 1.0f); }

/* One batch row of one frame: x input projections and g hidden projections
 * [3H], hp the previous state; writes the new state and the saved gates. */
static void forward_gates(int H, const float *restrict x, const float *restrict g,
                          const float *restrict hp, float *restrict h, float *restrict r_out,
                          float *restrict z_out, float *restrict n_out, float *restrict ghn_out) {
    for (int i = 0; i < H; ++i) {
        const float r = sigmoid_approx(x[i] + g[i]);
        const float z = sigmoid_approx(x[H + i] + g[H + i]);
        const float ghn = g[2 * H + i];
        const float n = tanh_approx(x[2 * H + i] + r * ghn);
        h[i] = n + z * (hp[i] - n);
        r_out[i] = r;
        z_out[i] = z;
        n_out[i] = n;
        ghn_out[i] = ghn;
    }
}

/* gh is scratch [B, 3H] and panels scratch [3H * H]. Fills hs and the saved
 * gates r, z, n and the hidden candidate term ghn (all [T, B, H]). */
void calyx_gru_forward(int T, int B, int H, const float *xp, const float *w_hh,
                       const float *b_hh, const float *h0, float *hs, float *r_all,
                       float *z_all, float *n_all, float *ghn_all, float *gh, float *panels) {
    const int G = 3 * H;
    const float *h = h0;
    pack_panels(H, G, w_hh, 1, (size_t)H, panels); /* m(k, n) = w_hh[n][k] */
    for (int t = 0; t < T; ++t) {
        for (int b = 0; b < B; ++b) memcpy(gh + (size_t)b * G, b_hh, sizeof(float) * G);
        add_rows_times(B, H, G, h, panels, w_hh, 1, (size_t)H, gh);
        float *ht = hs + (size_t)t * B * H;
        for (int b = 0; b < B; ++b) {
            const size_t o = ((size_t)t * B + b) * H;
            forward_gates(H, xp + ((size_t)t * B + b) * G, gh + (size_t)b * G, h + (size_t)b * H,
                          ht + (size_t)b * H, r_all + o, z_all + o, n_all + o, ghn_all + o);
        }
        h = ht;
    }
}

/* Gate gradients of one batch row of one frame, from the gradient reaching
 * its state (dh carried back plus d_out from the layer's output). dh_next
 * receives the part that bypasses the gates, d * z. */
static void backward_gates(int H, const float *restrict dh, const float *restrict d_out,
                           const float *restrict hp, const float *restrict r_in,
                           const float *restrict z_in, const float *restrict n_in,
                           const float *restrict ghn_in, float *restrict dx, float *restrict dg,
                           float *restrict dh_next) {
    for (int i = 0; i < H; ++i) {
        const float d = dh[i] + d_out[i];
        const float r = r_in[i], z = z_in[i], n = n_in[i];
        const float da_n = d * (1.0f - z) * (1.0f - n * n);
        const float da_z = d * (hp[i] - n) * z * (1.0f - z);
        const float da_r = da_n * ghn_in[i] * r * (1.0f - r);
        dx[i] = da_r;
        dx[H + i] = da_z;
        dx[2 * H + i] = da_n;
        dg[i] = da_r;
        dg[H + i] = da_z;
        dg[2 * H + i] = da_n * r;
        dh_next[i] = d * z;
    }
}

/* Walks the sequence in reverse. dh [B, H] holds the gradient flowing into
 * the last state on entry and the gradient of h0 on return; dh_next is
 * scratch [B, H] and panels scratch [3H * H]. Writes the gate gradients d_xp
 * (input side) and d_gh (hidden side, candidate part multiplied by r), both
 * [T, B, 3H]: the weight and bias gradients are one product over the whole
 * sequence afterwards. */
void calyx_gru_backward(int T, int B, int H, const float *d_hs, const float *w_hh,
                        const float *h0, const float *hs, const float *r_all,
                        const float *z_all, const float *n_all, const float *ghn_all,
                        float *d_xp, float *d_gh, float *dh, float *dh_next, float *panels) {
    const int G = 3 * H;
    pack_panels(G, H, w_hh, (size_t)H, 1, panels); /* m(k, n) = w_hh[k][n] */
    for (int t = T - 1; t >= 0; --t) {
        const float *hprev = t > 0 ? hs + (size_t)(t - 1) * B * H : h0;
        float *dgt = d_gh + (size_t)t * B * G;
        for (int b = 0; b < B; ++b) {
            const size_t o = ((size_t)t * B + b) * H;
            backward_gates(H, dh + (size_t)b * H, d_hs + o, hprev + (size_t)b * H, r_all + o, z_all + o,
                           n_all + o, ghn_all + o, d_xp + ((size_t)t * B + b) * G, dgt + (size_t)b * G,
                           dh_next + (size_t)b * H);
        }
        add_rows_times(B, G, H, dgt, panels, w_hh, (size_t)H, 1, dh_next);
        memcpy(dh, dh_next, sizeof(float) * (size_t)B * H);
    }
}
