/* Frame window, generic convolution, transposed convolution and
 * deep-filter coefficient operators.
 *
 * Tensors are channel-major [channel][frame][bin]. Nothing allocates; each
 * operator has a `_float` twin with the same arguments on float arrays.
 * Plain C. */
#ifndef CALYX_NN_OPS_FRAME_H
#define CALYX_NN_OPS_FRAME_H

#include <stdint.h>

#include "nn_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Causal window of the K most recent frames, oldest first, current last.
 * in: C * new_frames * W values (the newest frame per channel);
 * window: C * K * W values out; ring: the caller's C * (K - 1) * W past
 * frames (channel c, slot s at (c * (K - 1) + s) * W); *position: slot of
 * the oldest frame. Ring and position start zeroed, so frames before the
 * first read as silence. Each call stores the current frame over the
 * oldest and advances *position by one modulo K - 1.
 * With new_frames > 1 the frames are taken one after another (channel c's
 * frame n at (c * new_frames + n) * W) and the window ends with the last;
 * K = 1 copies the current frame; new_frames = 0 changes nothing. */
void op_framewise(const dtype_t *in, dtype_t *window, uint32_t *position, dtype_t *ring,
                  uint32_t new_frames, uint32_t K, uint32_t C, uint32_t W);
void op_framewise_float(const float *in, float *window, uint32_t *position, float *ring,
                        uint32_t new_frames, uint32_t K, uint32_t C, uint32_t W);

/* Grouped convolution over a whole window, one output row:
 * out[g*O + o][w] = sum_{i, a, b} weights[g*O + o][i][a][b] * in[g*I + i][a - pad][w + b]
 * for g < G, o < O, w < W_out; in: G*I channels of H rows x W_in values;
 * weights: [G*O][I][K_h][K_w]. Rows outside 0 ... H - 1 and bins at or
 * beyond W_in read as zero. No bias. */
void op_conv2d_ld(const dtype_t *in, dtype_t *out, const dtype_t *weights,
                  uint32_t G, uint32_t I, uint32_t O, uint32_t H, uint32_t W_in,
                  uint32_t W_out, uint32_t pad, uint32_t K_h, uint32_t K_w);
void op_conv2d_ld_float(const float *in, float *out, const float *weights,
                        uint32_t G, uint32_t I, uint32_t O, uint32_t H, uint32_t W_in,
                        uint32_t W_out, uint32_t pad, uint32_t K_h, uint32_t K_w);

/* Depthwise transposed convolution along frequency (stride 2, kernel 3,
 * padding 1, output padding 1) doubling the bins: for input channel c,
 * output channel c*M + j, taps (w0, w1, w2) = weights[c][j][0..2]:
 *   out[2m] = w1*in[m],  out[2m + 1] = w2*in[m] + w0*in[m + 1] (in[W_in] = 0).
 * in: C channels of H rows x W_in; out: C*M channels of R rows x W_out,
 * W_out = 2*W_in. Output row r reads input row r; rows at or beyond H and
 * taps at or beyond K read as zero, bins at or beyond 2*W_in are zero. */
void op_conv_tr(const dtype_t *in, dtype_t *out, const dtype_t *weights,
                uint32_t C, uint32_t M, uint32_t H, uint32_t W_in, uint32_t R,
                uint32_t W_out, uint32_t K);
void op_conv_tr_float(const float *in, float *out, const float *weights,
                      uint32_t C, uint32_t M, uint32_t H, uint32_t W_in, uint32_t R,
                      uint32_t W_out, uint32_t K);

/* Deep-filter coefficients, [tap 5][bin 96][re, im] (960 values):
 * coefs[t][f][k] = linear[f*10 + 2t + k] + conv[2t + k][f];
 * linear: 960 values [bin][tap][component]; conv: [10][96]. */
void op_compute_df_coefs(dtype_t *coefs, const dtype_t *linear, const dtype_t *conv);
void op_compute_df_coefs_float(float *coefs, const float *linear, const float *conv);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_NN_OPS_FRAME_H */
