// The two inner loops that carry nearly all of the network's arithmetic,
// with one implementation per instruction set chosen once at run time:
//  - rowcomb: y[0..n) = sum_r a[r] * M[r*ld + 0..n) (pointwise convolutions,
//    grouped linear layers, window convolutions);
//  - gru_sums: the four gate sums of a GRU layer, streaming each unit's six
//    weight rows once.
// The scalar set is the reference; vector sets agree with it up to float
// rounding (they only reorder the sums). Internal to the network code.
#ifndef CALYX_NN_SIMD_H
#define CALYX_NN_SIMD_H

#include <stdint.h>

// 4-lane vectors (SSE2 on x86, NEON on Arm) unless the build is scalar only.
#if !defined(CALYX_FORCE_SCALAR) && (defined(__SSE2__) || defined(__ARM_NEON))
#define CALYX_NN_HAVE_VEC4 1
#endif
// CALYX_NN_AVX2 is set by the build (nn/kernels/flags.cmake) on the files
// that hold or select the AVX2+FMA set; only x86-64 builds compile it.

namespace calyx_nn {

// y[j] = sum_{r < rows} a[r] * M[r * ld + j] for j < n; rows = 0 gives zeros.
// y must not overlap a or M.
using rowcomb_fn = void (*)(const float *a, const float *M, uint32_t rows, uint32_t n,
                            uint32_t ld, float *y);

// For unit j < units, with row(X) = X + j * n_in:
//   s[j]             = row(W[0]).x + row(W[3]).h   (reset gate, no bias)
//   s[units + j]     = row(W[1]).x + row(W[4]).h   (update gate)
//   s[2 * units + j] = row(W[2]).x                  (candidate, input part)
//   s[3 * units + j] = row(W[5]).h                  (candidate, state part)
// W = {W_ir, W_iz, W_in, W_hr, W_hz, W_hn}; s holds 4 * units floats.
using gru_sums_fn = void (*)(const float *const W[6], const float *x, const float *h,
                             uint32_t units, uint32_t n_in, float *s);

struct kernel_set {
    const char *name;
    rowcomb_fn rowcomb;
    gru_sums_fn gru_sums;
};

enum kernel_isa { isa_scalar = 0, isa_vec4 = 1, isa_avx2 = 2, isa_count = 3 };

// The set every operator uses: the widest one this CPU runs, unless
// select_kernels chose another.
const kernel_set &active_kernels();

// The set for `isa`, or null when this build or this CPU lacks it. isa_vec4
// is SSE2 on x86 and NEON on Arm.
const kernel_set *kernels_for(kernel_isa isa);

// Makes `isa` the active set (tests and benchmarks compare the paths this
// way). False, and nothing changes, when it is unavailable. Not for use
// while another thread runs the network.
bool select_kernels(kernel_isa isa);

// Per-ISA sets, defined in nn_simd_<isa>.cpp where that file is compiled in.
extern const kernel_set kernels_scalar;
extern const kernel_set kernels_vec4;
extern const kernel_set kernels_avx2;

}  // namespace calyx_nn

#endif  // CALYX_NN_SIMD_H
