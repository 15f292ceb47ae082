/* Pointwise, normalisation and layout operators placed between the
 * network's convolutions, linear and recurrent layers.
 *
 * Maps are channel-major [channel][bin] (N = H = 1 in every use); scale and
 * bias are one folded batch-normalisation factor pair per channel.
 * Rectification is max(v, +0): negative values, -0 and NaN all give +0.
 * Every operator returns its first argument, works in place where it says
 * so, allocates nothing and leaves everything untouched for a zero count.
 * Each has a `_float` twin with the same arguments on float arrays. Plain C. */
#ifndef CALYX_NN_OPS_POINTWISE_H
#define CALYX_NN_OPS_POINTWISE_H

#include <stdint.h>

#include "nn_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* dst[i] = max(src[i], 0), i < n. */
dtype_t *op_relu_replace(dtype_t *dst, const dtype_t *src, uint32_t n);
float *op_relu_replace_float(float *dst, const float *src, uint32_t n);

/* acc[i] = max(acc[i], 0) + add[i]: only the first operand is rectified. */
dtype_t *op_relu_sum(dtype_t *acc, const dtype_t *add, uint32_t n);
float *op_relu_sum_float(float *acc, const float *add, uint32_t n);

/* In place on an N x C x H x W map: x = x * scale[c] + bias[c]. */
dtype_t *op_bn(dtype_t *x, const dtype_t *scale, const dtype_t *bias,
               uint32_t N, uint32_t C, uint32_t H, uint32_t W);
float *op_bn_float(float *x, const float *scale, const float *bias,
                   uint32_t N, uint32_t C, uint32_t H, uint32_t W);

/* In place: x = max(x * scale[c] + bias[c], 0). */
dtype_t *op_bn_relu(dtype_t *x, const dtype_t *scale, const dtype_t *bias,
                    uint32_t N, uint32_t C, uint32_t H, uint32_t W);
float *op_bn_relu_float(float *x, const float *scale, const float *bias,
                        uint32_t N, uint32_t C, uint32_t H, uint32_t W);

/* In place: x = 1 / (expf(-(x * scale[c] + bias[c])) + 1). */
dtype_t *op_bn_sigmod(dtype_t *x, const dtype_t *scale, const dtype_t *bias,
                      uint32_t N, uint32_t C, uint32_t H, uint32_t W);
float *op_bn_sigmod_float(float *x, const float *scale, const float *bias,
                          uint32_t N, uint32_t C, uint32_t H, uint32_t W);

/* [64][48] map to a bin-major vector: dst[f * 64 + c] = src[c * 48 + f]. */
dtype_t *op_transpose_48x64_to_64x48(dtype_t *dst, const dtype_t *src);
float *op_transpose_48x64_to_64x48_float(float *dst, const float *src);

/* [64][8] map into the first 512 values of a 1024-value buffer, bin-major:
 * dst[f * 64 + c] = src[c * 8 + f]; values 512 ... 1023 are not touched. */
dtype_t *op_transpose_8x64_to_2x8x64(dtype_t *dst, const dtype_t *src);
float *op_transpose_8x64_to_2x8x64_float(float *dst, const float *src);

/* Adds a bin-major 512-value vector into a [64][8] map:
 * dst[c * 8 + f] += src[f * 64 + c]. */
dtype_t *op_accumulate_transpose_8x64_to_64x8(dtype_t *dst, const dtype_t *src);
float *op_accumulate_transpose_8x64_to_64x8_float(float *dst, const float *src);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_NN_OPS_POINTWISE_H */
