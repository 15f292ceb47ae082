// GRU (256 units, one or two layers) and grouped linear operators. The
// weight streaming is done by the dispatched inner loops of nn_simd.h; the
// gate arithmetic here is shared by every instruction set.
#include "ops_recurrent.h"

#include <math.h>
#include <string.h>

#include "nn_simd.h"

namespace {

const uint32_t kUnits = 256;
const uint64_t kLayerMatrix = (uint64_t)kUnits * kUnits;

// One layer. W: the six weight matrices of this layer; b: b_r, b_z, b_in,
// b_hn of this layer. y may alias h: every dot product is taken before the
// first output is written, and unit j reads only h[j] afterwards.
void gru_layer(const float *x, float *y, float *h, const float *const W[6],
               const float *const b[4]) {
    alignas(64) float s[4 * kUnits];
    calyx_nn::active_kernels().gru_sums(W, x, h, kUnits, kUnits, s);
    for (uint32_t j = 0; j < kUnits; ++j) {
        const float sr = b[0][j] + s[j];
        const float sz = b[1][j] + s[kUnits + j];
        const float sin_ = b[2][j] + s[2 * kUnits + j];
        const float shn = b[3][j] + s[3 * kUnits + j];
        // r * s_hn and z * (h - n) as divisions by 1 + e^-s.
        const float n = tanhf(sin_ + shn / (1.0f + expf(-sr)));
        y[j] = n + (h[j] - n) / (1.0f + expf(-sz));
    }
    if (y != h) memcpy(h, y, kUnits * sizeof(float));
}

// Layer `layer` of the ten records starting at `rec`.
void gru_params(const param_record *rec, uint32_t layer, const float *W[6], const float *b[4]) {
    for (int i = 0; i < 6; ++i) W[i] = rec[i].data + layer * kLayerMatrix;
    for (int i = 0; i < 4; ++i) b[i] = rec[6 + i].data + (uint64_t)layer * kUnits;
}

template <class F>
void grouped_linear(const float *in, float *out, float *scratch, const float *weights, uint32_t I,
                    uint32_t O, uint32_t G, uint32_t B, F act) {
    const calyx_nn::rowcomb_fn rowcomb = calyx_nn::active_kernels().rowcomb;
    const uint64_t group_weights = (uint64_t)I * O;
    for (uint32_t bg = 0; bg < B; ++bg) {
        for (uint32_t g = 0; g < G; ++g) {
            const uint64_t chunk = (uint64_t)bg * G + g;
            rowcomb(in + chunk * I, weights + g * group_weights, I, O, O, scratch);
            float *o = out + chunk * O;
            for (uint32_t k = 0; k < O; ++k) o[k] = act(scratch[k]);
        }
    }
}

}  // namespace

extern "C" {

void op_gru_nl1_io256_float(const float *x, float *y, float *h, const param_record *params,
                            uint64_t *cursor) {
    const float *W[6], *b[4];
    gru_params(params + *cursor, 0, W, b);
    gru_layer(x, y, h, W, b);
    *cursor += 10;
}
void op_gru_nl1_io256(const dtype_t *x, dtype_t *y, dtype_t *h, const param_record *params,
                      uint64_t *cursor) {
    op_gru_nl1_io256_float(x, y, h, params, cursor);
}

void op_gru_nl2_io256_float(const float *x, float *y, float *h, const param_record *params,
                            uint64_t *cursor, float *scratch) {
    const float *W[6], *b[4];
    gru_params(params + *cursor, 0, W, b);
    gru_layer(x, scratch, h, W, b);
    gru_params(params + *cursor, 1, W, b);
    gru_layer(scratch, y, h + kUnits, W, b);
    *cursor += 10;
}
void op_gru_nl2_io256(const dtype_t *x, dtype_t *y, dtype_t *h, const param_record *params,
                      uint64_t *cursor, dtype_t *scratch) {
    op_gru_nl2_io256_float(x, y, h, params, cursor, scratch);
}

void op_grouped_linear_einsum_float(const float *in, float *out, float *scratch,
                                    const float *weights, uint32_t I, uint32_t O, uint32_t G,
                                    uint32_t B) {
    grouped_linear(in, out, scratch, weights, I, O, G, B, [](float v) { return v; });
}
void op_grouped_linear_einsum(const dtype_t *in, dtype_t *out, dtype_t *scratch,
                              const dtype_t *weights, uint32_t I, uint32_t O, uint32_t G,
                              uint32_t B) {
    op_grouped_linear_einsum_float(in, out, scratch, weights, I, O, G, B);
}

void op_grouped_linear_einsum_relu_float(const float *in, float *out, float *scratch,
                                         const float *weights, uint32_t I, uint32_t O,
                                         uint32_t G, uint32_t B) {
    grouped_linear(in, out, scratch, weights, I, O, G, B,
                   [](float v) { return v > 0.0f ? v : 0.0f; });
}
void op_grouped_linear_einsum_relu(const dtype_t *in, dtype_t *out, dtype_t *scratch,
                                   const dtype_t *weights, uint32_t I, uint32_t O, uint32_t G,
                                   uint32_t B) {
    op_grouped_linear_einsum_relu_float(in, out, scratch, weights, I, O, G, B);
}

void op_grouped_linear_einsum_tanh_float(const float *in, float *out, float *scratch,
                                         const float *weights, uint32_t I, uint32_t O,
                                         uint32_t G, uint32_t B) {
    grouped_linear(in, out, scratch, weights, I, O, G, B, [](float v) { return tanhf(v); });
}
void op_grouped_linear_einsum_tanh(const dtype_t *in, dtype_t *out, dtype_t *scratch,
                                   const dtype_t *weights, uint32_t I, uint32_t O, uint32_t G,
                                   uint32_t B) {
    op_grouped_linear_einsum_tanh_float(in, out, scratch, weights, I, O, G, B);
}

}  // extern "C"
