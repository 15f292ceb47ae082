// Baseline vector kernel set: SSE on x86 (part of every x86-64 CPU), NEON on Arm.
#include <string.h>

#include "ovfft_backend.h"

#if !defined(CALYX_FORCE_SCALAR) && (defined(__SSE2__) || defined(__SSE__))
#include "ovfft_vec_sse.h"
#define OVFFT_SIMD_VEC VecSse<false>
#define OVFFT_SIMD_NAME "sse"
#elif !defined(CALYX_FORCE_SCALAR) && defined(__ARM_NEON)
#include "ovfft_vec_neon.h"
#define OVFFT_SIMD_VEC VecNeon
#define OVFFT_SIMD_NAME "neon"
#endif

namespace calyx_fft {

#if defined(OVFFT_SIMD_VEC)
namespace simd_kernels {
typedef OVFFT_SIMD_VEC V;
#include "ovfft_radix_real.h"
#include "ovfft_radix_complex.h"
#include "ovfft_drivers.h"
#include "ovfft_finalize.h"
#include "ovfft_transform_body.h"
}  // namespace simd_kernels

const Backend *simd_backend() {
  typedef simd_kernels::Kernels<OVFFT_SIMD_VEC> K;
  static const Backend b = {OVFFT_SIMD_NAME, &K::ovfft_transform_internal, &K::zreorder,
                            &K::zconvolve};
  return &b;
}
#else
const Backend *simd_backend() { return nullptr; }
#endif

}  // namespace calyx_fft
