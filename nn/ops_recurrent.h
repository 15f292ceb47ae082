/* Recurrent (GRU, 256 units) and grouped-linear operators: the network's
 * temporal memory and its dense layers.
 *
 * GRU weights are ten consecutive parameter records starting at *cursor:
 * W_ir, W_iz, W_in, W_hr, W_hz, W_hn ([layer][unit j][input k], 256 x 256
 * per layer, row-major), then b_r, b_z, b_in, b_hn ([layer][256]). Each
 * call reads its ten records and advances *cursor by 10. The hidden state
 * is the caller's (256 floats per layer, zeroed at set-up) and is replaced
 * in place after all units of a layer are computed.
 *
 * Grouped linear weights are [group][input][output]; input chunk g of I
 * values feeds only output chunk g of O values; no bias. `scratch` holds at
 * least O floats. Nothing allocates; each operator has a `_float` twin with
 * the same arguments on float arrays. Plain C. */
#ifndef CALYX_NN_OPS_RECURRENT_H
#define CALYX_NN_OPS_RECURRENT_H

#include <stdint.h>

#include "nn_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One GRU layer: x (256) -> y (256); h (256) is the state, in and out. */
void op_gru_nl1_io256(const dtype_t *x, dtype_t *y, dtype_t *h,
                      const param_record *params, uint64_t *cursor);
void op_gru_nl1_io256_float(const float *x, float *y, float *h,
                            const param_record *params, uint64_t *cursor);

/* Two stacked GRU layers: h is 512 floats (layer 0, then layer 1); scratch
 * (256) receives layer 0's output, which feeds layer 1; y is layer 1's new
 * state. Layer 1 uses the second half of every record. */
void op_gru_nl2_io256(const dtype_t *x, dtype_t *y, dtype_t *h,
                      const param_record *params, uint64_t *cursor, dtype_t *scratch);
void op_gru_nl2_io256_float(const float *x, float *y, float *h,
                            const param_record *params, uint64_t *cursor, float *scratch);

/* B rows of G chunks: out[(b*G + g)*O + o] = sum_i in[(b*G + g)*I + i] * W[g][i][o]. */
void op_grouped_linear_einsum(const dtype_t *in, dtype_t *out, dtype_t *scratch,
                              const dtype_t *weights, uint32_t I, uint32_t O,
                              uint32_t G, uint32_t B);
void op_grouped_linear_einsum_float(const float *in, float *out, float *scratch,
                                    const float *weights, uint32_t I, uint32_t O,
                                    uint32_t G, uint32_t B);

/* As above, each output rectified: max(v, +0). */
void op_grouped_linear_einsum_relu(const dtype_t *in, dtype_t *out, dtype_t *scratch,
                                   const dtype_t *weights, uint32_t I, uint32_t O,
                                   uint32_t G, uint32_t B);
void op_grouped_linear_einsum_relu_float(const float *in, float *out, float *scratch,
                                         const float *weights, uint32_t I, uint32_t O,
                                         uint32_t G, uint32_t B);

/* As above, each output through tanhf. */
void op_grouped_linear_einsum_tanh(const dtype_t *in, dtype_t *out, dtype_t *scratch,
                                   const dtype_t *weights, uint32_t I, uint32_t O,
                                   uint32_t G, uint32_t B);
void op_grouped_linear_einsum_tanh_float(const float *in, float *out, float *scratch,
                                         const float *weights, uint32_t I, uint32_t O,
                                         uint32_t G, uint32_t B);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_NN_OPS_RECURRENT_H */
