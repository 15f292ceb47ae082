// Internal: the kernel sets ovfft dispatches to. Every set computes the same
// four-lane algorithm with the same internal order; they differ only in the
// instructions used (and in fused versus separate multiply-adds).
#ifndef CALYX_OVFFT_BACKEND_H
#define CALYX_OVFFT_BACKEND_H

#include "ovfft.h"

namespace calyx_fft {

struct Backend {
  const char *name;
  void (*transform)(const ovfft_setup *s, const float *input, float *output, float *work,
                    ovfft_direction direction, int ordered);
  void (*zreorder)(const ovfft_setup *s, const float *in, float *out, ovfft_direction direction);
  void (*zconvolve)(const ovfft_setup *s, const float *a, const float *b, float *ab,
                    float scaling);
};

// Plain floats; always compiled.
const Backend *scalar_backend();
// SSE on x86, NEON on Arm; nullptr when the build has no vector unit or
// CALYX_FORCE_SCALAR is set.
const Backend *simd_backend();
// SSE with fused multiply-add, built in its own file with AVX2/FMA enabled;
// nullptr when not compiled in. Only to be used after a CPU check.
const Backend *fma_backend();

// The set the public functions use: chosen once, on first use.
const Backend *active_backend();

}  // namespace calyx_fft

#endif
