// Reference kernel set on emulated four-lane vectors.
#include <string.h>

#include "ovfft_backend.h"
#include "ovfft_vec_scalar.h"

namespace calyx_fft {
namespace scalar_kernels {
typedef VecScalar V;
#include "ovfft_radix_real.h"
#include "ovfft_radix_complex.h"
#include "ovfft_drivers.h"
#include "ovfft_finalize.h"
#include "ovfft_transform_body.h"
}  // namespace scalar_kernels

const Backend *scalar_backend() {
  typedef scalar_kernels::Kernels<VecScalar> K;
  static const Backend b = {"scalar", &K::ovfft_transform_internal, &K::zreorder, &K::zconvolve};
  return &b;
}

}  // namespace calyx_fft
