// Frame window, generic window convolution, transposed convolution and
// deep-filter coefficient operators.
#include "ops_frame.h"

#include <string.h>

#include "nn_simd.h"

namespace {

void copy_frame(float *dst, const float *src, uint32_t W) { memcpy(dst, src, W * sizeof(float)); }

}  // namespace

extern "C" {

void op_framewise_float(const float *in, float *window, uint32_t *position, float *ring,
                        uint32_t new_frames, uint32_t K, uint32_t C, uint32_t W) {
    if (new_frames == 0 || K == 0) return;
    if (K == 1) {
        for (uint32_t c = 0; c < C; ++c)
            copy_frame(window + (uint64_t)c * W, in + ((uint64_t)c * new_frames + new_frames - 1) * W, W);
        return;
    }
    const uint32_t slots = K - 1;
    for (uint32_t n = 0; n < new_frames; ++n) {
        // A counter out of range (never produced here) must not index past
        // the ring.
        const uint32_t p = *position % slots;
        const bool last = n + 1 == new_frames;
        for (uint32_t c = 0; c < C; ++c) {
            const float *frame = in + ((uint64_t)c * new_frames + n) * W;
            float *slot0 = ring + (uint64_t)c * slots * W;
            if (last) {
                float *win = window + (uint64_t)c * K * W;
                for (uint32_t j = 0; j < slots; ++j)
                    copy_frame(win + (uint64_t)j * W, slot0 + (uint64_t)((p + j) % slots) * W, W);
                copy_frame(win + (uint64_t)slots * W, frame, W);
            }
            copy_frame(slot0 + (uint64_t)p * W, frame, W);
        }
        *position = (p + 1) % slots;
    }
}
void op_framewise(const dtype_t *in, dtype_t *window, uint32_t *position, dtype_t *ring,
                  uint32_t new_frames, uint32_t K, uint32_t C, uint32_t W) {
    op_framewise_float(in, window, position, ring, new_frames, K, C, W);
}

void op_conv2d_ld_float(const float *in, float *out, const float *weights, uint32_t G,
                        uint32_t I, uint32_t O, uint32_t H, uint32_t W_in, uint32_t W_out,
                        uint32_t pad, uint32_t K_h, uint32_t K_w) {
    const uint64_t taps = (uint64_t)K_h * K_w;
    // The graph's shapes: one tap per bin and a kernel spanning the whole
    // window, so each output row is a weighted sum of the group's
    // (channel, row) input rows, which lie back to back.
    if (K_w == 1 && pad == 0 && K_h == H && W_out <= W_in) {
        const calyx_nn::rowcomb_fn rowcomb = calyx_nn::active_kernels().rowcomb;
        for (uint32_t g = 0; g < G; ++g)
            for (uint32_t o = 0; o < O; ++o) {
                const uint64_t oc = (uint64_t)g * O + o;
                rowcomb(weights + oc * I * taps, in + (uint64_t)g * I * H * W_in, I * H, W_out,
                        W_in, out + oc * W_out);
            }
        return;
    }
    for (uint32_t g = 0; g < G; ++g) {
        for (uint32_t o = 0; o < O; ++o) {
            const uint64_t oc = (uint64_t)g * O + o;
            float *y = out + oc * W_out;
            for (uint32_t w = 0; w < W_out; ++w) {
                float acc = 0.0f;
                for (uint32_t i = 0; i < I; ++i) {
                    const float *wt = weights + (oc * I + i) * taps;
                    const float *x = in + ((uint64_t)g * I + i) * H * W_in;
                    for (uint32_t a = 0; a < K_h; ++a) {
                        // Rows above or below the window read as zero.
                        if (a < pad || a - pad >= H) continue;
                        const float *xr = x + (uint64_t)(a - pad) * W_in;
                        float row = 0.0f;
                        for (uint32_t b = 0; b < K_w; ++b) {
                            if ((uint64_t)w + b >= W_in) break;
                            row += wt[(uint64_t)a * K_w + b] * xr[w + b];
                        }
                        acc += row;
                    }
                }
                y[w] = acc;
            }
        }
    }
}
void op_conv2d_ld(const dtype_t *in, dtype_t *out, const dtype_t *weights, uint32_t G,
                  uint32_t I, uint32_t O, uint32_t H, uint32_t W_in, uint32_t W_out,
                  uint32_t pad, uint32_t K_h, uint32_t K_w) {
    op_conv2d_ld_float(in, out, weights, G, I, O, H, W_in, W_out, pad, K_h, K_w);
}

void op_conv_tr_float(const float *in, float *out, const float *weights, uint32_t C, uint32_t M,
                      uint32_t H, uint32_t W_in, uint32_t R, uint32_t W_out, uint32_t K) {
    for (uint32_t c = 0; c < C; ++c) {
        for (uint32_t j = 0; j < M; ++j) {
            const uint64_t oc = (uint64_t)c * M + j;
            const float *t = weights + oc * K;
            const float w0 = K > 0 ? t[0] : 0.0f;
            const float w1 = K > 1 ? t[1] : 0.0f;
            const float w2 = K > 2 ? t[2] : 0.0f;
            for (uint32_t r = 0; r < R; ++r) {
                float *y = out + (oc * R + r) * W_out;
                uint32_t q = 0;
                if (r < H) {
                    const float *x = in + ((uint64_t)c * H + r) * W_in;
                    for (uint32_t m = 0; m < W_in && q < W_out; ++m) {
                        y[q++] = w1 * x[m];
                        if (q == W_out) break;
                        y[q++] = w2 * x[m] + (m + 1 < W_in ? w0 * x[m + 1] : 0.0f);
                    }
                }
                for (; q < W_out; ++q) y[q] = 0.0f;
            }
        }
    }
}
void op_conv_tr(const dtype_t *in, dtype_t *out, const dtype_t *weights, uint32_t C, uint32_t M,
                uint32_t H, uint32_t W_in, uint32_t R, uint32_t W_out, uint32_t K) {
    op_conv_tr_float(in, out, weights, C, M, H, W_in, R, W_out, K);
}

void op_compute_df_coefs_float(float *coefs, const float *linear, const float *conv) {
    // linear is [bin][tap][re, im], conv [tap*2 + component][bin]; the
    // result is tap-major.
    for (int t = 0; t < 5; ++t) {
        const float *cre = conv + (2 * t) * 96;
        const float *cim = conv + (2 * t + 1) * 96;
        float *dst = coefs + t * 192;
        for (int f = 0; f < 96; ++f) {
            dst[2 * f] = linear[f * 10 + 2 * t] + cre[f];
            dst[2 * f + 1] = linear[f * 10 + 2 * t + 1] + cim[f];
        }
    }
}
void op_compute_df_coefs(dtype_t *coefs, const dtype_t *linear, const dtype_t *conv) {
    op_compute_df_coefs_float(coefs, linear, conv);
}

}  // extern "C"
