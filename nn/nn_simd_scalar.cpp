// Reference (scalar) versions of the network's inner loops; every vector
// version is tested against these.
#include "nn_simd.h"

namespace {

void rowcomb_scalar(const float *a, const float *M, uint32_t rows, uint32_t n, uint32_t ld,
                    float *y) {
    for (uint32_t j = 0; j < n; ++j) y[j] = 0.0f;
    for (uint32_t r = 0; r < rows; ++r) {
        const float ar = a[r];
        const float *m = M + (uint64_t)r * ld;
        for (uint32_t j = 0; j < n; ++j) y[j] += ar * m[j];
    }
}

// Four partial sums, so the additions do not wait on one another.
float dot(const float *w, const float *v, uint32_t n) {
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
    uint32_t k = 0;
    for (; k + 4 <= n; k += 4) {
        s0 += w[k] * v[k];
        s1 += w[k + 1] * v[k + 1];
        s2 += w[k + 2] * v[k + 2];
        s3 += w[k + 3] * v[k + 3];
    }
    for (; k < n; ++k) s0 += w[k] * v[k];
    return (s0 + s1) + (s2 + s3);
}

void gru_sums_scalar(const float *const W[6], const float *x, const float *h, uint32_t units,
                     uint32_t n_in, float *s) {
    for (uint32_t j = 0; j < units; ++j) {
        const uint64_t o = (uint64_t)j * n_in;
        s[j] = dot(W[0] + o, x, n_in) + dot(W[3] + o, h, n_in);
        s[units + j] = dot(W[1] + o, x, n_in) + dot(W[4] + o, h, n_in);
        s[2 * units + j] = dot(W[2] + o, x, n_in);
        s[3 * units + j] = dot(W[5] + o, h, n_in);
    }
}

}  // namespace

namespace calyx_nn {
extern const kernel_set kernels_scalar = {"scalar", rowcomb_scalar, gru_sums_scalar};
}
