// SSE kernel set with fused multiply-adds. This file alone is compiled with
// AVX2/FMA code generation; nothing here runs unless the CPU check in
// active_backend() passed.
#include <string.h>

#include "ovfft_backend.h"

#if !defined(CALYX_FORCE_SCALAR) && !defined(OVFFT_NO_FMA) && defined(__FMA__) && \
    defined(__AVX2__)
#include "ovfft_vec_sse.h"

namespace calyx_fft {
namespace fma_kernels {
typedef VecSse<true> V;
#include "ovfft_radix_real.h"
#include "ovfft_radix_complex.h"
#include "ovfft_drivers.h"
#include "ovfft_finalize.h"
#include "ovfft_transform_body.h"
}  // namespace fma_kernels

const Backend *fma_backend() {
  typedef fma_kernels::Kernels<VecSse<true> > K;
  static const Backend b = {"sse-fma", &K::ovfft_transform_internal, &K::zreorder, &K::zconvolve};
  return &b;
}
}  // namespace calyx_fft
#else
namespace calyx_fft {
const Backend *fma_backend() { return nullptr; }
}  // namespace calyx_fft
#endif
