// Pointwise, normalisation and layout operators. The element-wise ones
// take 16 values per step in four-float vectors and finish one by one.
#include "ops_pointwise.h"

#include <math.h>

#include "kernels/conv_vec4.h"

namespace {

// max(v, +0) with NaN and -0 mapped to +0.
inline float relu(float v) { return v > 0.0f ? v : 0.0f; }

struct Identity {
    static cv4 vec(cv4 v) { return v; }
    static float one(float v) { return v; }
};
struct Rectify {
    static cv4 vec(cv4 v) { return cv4_relu(v); }
    static float one(float v) { return relu(v); }
};

// Applies A(x * scale[c] + bias[c]) over an N x C x H x W map, channel by
// channel, so one factor pair serves each contiguous run of H*W values.
template <class A>
float *affine_map(float *x, const float *scale, const float *bias, uint32_t N, uint32_t C,
                  uint32_t H, uint32_t W) {
    const uint64_t run = (uint64_t)H * W;
    float *p = x;
    for (uint32_t n = 0; n < N; ++n) {
        for (uint32_t c = 0; c < C; ++c) {
            const float s = scale[c], b = bias[c];
            const cv4 sv = cv4_set1(s), bv = cv4_set1(b);
            uint64_t i = 0;
            for (; i + 16 <= run; i += 16) {
                cv4_store(p + i, A::vec(cv4_madd(bv, sv, cv4_load(p + i))));
                cv4_store(p + i + 4, A::vec(cv4_madd(bv, sv, cv4_load(p + i + 4))));
                cv4_store(p + i + 8, A::vec(cv4_madd(bv, sv, cv4_load(p + i + 8))));
                cv4_store(p + i + 12, A::vec(cv4_madd(bv, sv, cv4_load(p + i + 12))));
            }
            for (; i < run; ++i) p[i] = A::one(p[i] * s + b);
            p += run;
        }
    }
    return x;
}

}  // namespace

extern "C" {

float *op_relu_replace_float(float *dst, const float *src, uint32_t n) {
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (uint32_t k = i; k < i + 16; k += 4) cv4_store(dst + k, cv4_relu(cv4_load(src + k)));
    for (; i < n; ++i) dst[i] = relu(src[i]);
    return dst;
}
dtype_t *op_relu_replace(dtype_t *dst, const dtype_t *src, uint32_t n) {
    return op_relu_replace_float(dst, src, n);
}

float *op_relu_sum_float(float *acc, const float *add, uint32_t n) {
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16)
        for (uint32_t k = i; k < i + 16; k += 4)
            cv4_store(acc + k, cv4_add(cv4_relu(cv4_load(acc + k)), cv4_load(add + k)));
    for (; i < n; ++i) acc[i] = relu(acc[i]) + add[i];
    return acc;
}
dtype_t *op_relu_sum(dtype_t *acc, const dtype_t *add, uint32_t n) {
    return op_relu_sum_float(acc, add, n);
}

float *op_bn_float(float *x, const float *scale, const float *bias, uint32_t N, uint32_t C,
                   uint32_t H, uint32_t W) {
    return affine_map<Identity>(x, scale, bias, N, C, H, W);
}
dtype_t *op_bn(dtype_t *x, const dtype_t *scale, const dtype_t *bias, uint32_t N, uint32_t C,
               uint32_t H, uint32_t W) {
    return op_bn_float(x, scale, bias, N, C, H, W);
}

float *op_bn_relu_float(float *x, const float *scale, const float *bias, uint32_t N, uint32_t C,
                        uint32_t H, uint32_t W) {
    return affine_map<Rectify>(x, scale, bias, N, C, H, W);
}
dtype_t *op_bn_relu(dtype_t *x, const dtype_t *scale, const dtype_t *bias, uint32_t N,
                    uint32_t C, uint32_t H, uint32_t W) {
    return op_bn_relu_float(x, scale, bias, N, C, H, W);
}

float *op_bn_sigmod_float(float *x, const float *scale, const float *bias, uint32_t N,
                          uint32_t C, uint32_t H, uint32_t W) {
    const uint64_t run = (uint64_t)H * W;
    float *p = x;
    for (uint32_t n = 0; n < N; ++n)
        for (uint32_t c = 0; c < C; ++c, p += run)
            for (uint64_t i = 0; i < run; ++i) p[i] = 1.0f / (expf(-(p[i] * scale[c] + bias[c])) + 1.0f);
    return x;
}
dtype_t *op_bn_sigmod(dtype_t *x, const dtype_t *scale, const dtype_t *bias, uint32_t N,
                      uint32_t C, uint32_t H, uint32_t W) {
    return op_bn_sigmod_float(x, scale, bias, N, C, H, W);
}

float *op_transpose_48x64_to_64x48_float(float *dst, const float *src) {
    for (int f = 0; f < 48; ++f)
        for (int c = 0; c < 64; ++c) dst[f * 64 + c] = src[c * 48 + f];
    return dst;
}
dtype_t *op_transpose_48x64_to_64x48(dtype_t *dst, const dtype_t *src) {
    return op_transpose_48x64_to_64x48_float(dst, src);
}

float *op_transpose_8x64_to_2x8x64_float(float *dst, const float *src) {
    for (int f = 0; f < 8; ++f)
        for (int c = 0; c < 64; ++c) dst[f * 64 + c] = src[c * 8 + f];
    return dst;
}
dtype_t *op_transpose_8x64_to_2x8x64(dtype_t *dst, const dtype_t *src) {
    return op_transpose_8x64_to_2x8x64_float(dst, src);
}

float *op_accumulate_transpose_8x64_to_64x8_float(float *dst, const float *src) {
    for (int c = 0; c < 64; ++c)
        for (int f = 0; f < 8; ++f) dst[c * 8 + f] += src[f * 64 + c];
    return dst;
}
dtype_t *op_accumulate_transpose_8x64_to_64x8(dtype_t *dst, const dtype_t *src) {
    return op_accumulate_transpose_8x64_to_64x8_float(dst, src);
}

}  // extern "C"
