// ovfft: setup (factorisation, twiddle tables), buffer contracts and dispatch
// of the transforms to the kernel set chosen for this CPU.
#include "ovfft.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ovfft_backend.h"

namespace {

// Contract checks stay active in every build type: a violated contract
// would otherwise turn into out-of-bounds memory access.
[[noreturn]] void contract_failure(const char *expr, const char *file, int line) {
  fprintf(stderr, "ovfft: contract violated: %s (%s:%d)\n", expr, file, line);
  abort();
}
#define OVFFT_REQUIRE(cond) \
  ((cond) ? (void)0 : contract_failure(#cond, __FILE__, __LINE__))

const int SIMD_SZ = 4;
const double kPi = 3.14159265358979323846;
const int kMaxFactors = 13;  // factors[] holds n, the count and at most 13 radices
// A null work pointer uses a stack temporary up to this many floats (32 KiB),
// which covers every size the engine uses; larger transforms take a heap
// temporary so that they cannot overflow the stack.
const size_t kStackWorkFloats = 8192;

// Factor n into the radices of `order`; a 2 that is not the first factor is
// moved to the front. Returns false when n has another prime factor.
bool factorize(int n, const int order[4], int *factors) {
  int rest = n;
  int count = 0;
  for (int t = 0; t < 4; ++t) {
    const int radix = order[t];
    while (rest % radix == 0) {
      if (count == kMaxFactors) return false;
      rest /= radix;
      factors[2 + count] = radix;
      ++count;
      if (radix == 2 && count > 1) {
        for (int i = count - 1; i > 0; --i) factors[2 + i] = factors[2 + i - 1];
        factors[2] = 2;
      }
    }
  }
  factors[0] = n;
  factors[1] = count;
  return rest == 1;
}

void real_stage_twiddles(int n, const int *factors, float *wa) {
  const int nf = factors[1];
  const float argh = (float)(2.0 * kPi) / (float)n;
  int is = 0;
  int l1 = 1;
  for (int k1 = 0; k1 < nf - 1; ++k1) {
    const int ip = factors[2 + k1];
    const int l2 = l1 * ip;
    const int ido = n / l2;
    int ld = 0;
    for (int j = 1; j < ip; ++j) {
      ld += l1;
      int i = is;
      const float argld = (float)ld * argh;
      for (int fi = 1; 2 * fi + 1 <= ido; ++fi) {
        const float arg = (float)fi * argld;
        wa[i++] = (float)cos((double)arg);
        wa[i++] = (float)sin((double)arg);
      }
      is += ido;
    }
    l1 = l2;
  }
}

void complex_stage_twiddles(int n, const int *factors, float *wa) {
  const int nf = factors[1];
  const float argh = (float)(2.0 * kPi) / (float)n;
  int i = 1;
  int l1 = 1;
  for (int k1 = 0; k1 < nf; ++k1) {
    const int ip = factors[2 + k1];
    const int l2 = l1 * ip;
    const int ido = n / l2;
    int ld = 0;
    for (int j = 1; j < ip; ++j) {
      const int i1 = i;
      wa[i - 1] = 1.f;
      wa[i] = 0.f;
      ld += l1;
      const float argld = (float)ld * argh;
      for (int fi = 1; fi <= ido; ++fi) {
        i += 2;
        const float arg = (float)fi * argld;
        wa[i - 1] = (float)cos((double)arg);
        wa[i] = (float)sin((double)arg);
      }
      if (ip > 5) {
        wa[i1 - 1] = wa[i - 1];
        wa[i1] = wa[i];
      }
    }
    l1 = l2;
  }
}

// Per vector index k: e^(-2 pi i (m + 1) k / N), m = 0, 1, 2, stored as a
// vector of four cosines and a vector of four sines per m.
void final_twiddles(int N, int vector_count, float *e) {
  for (int k = 0; k < vector_count; ++k) {
    const int i = k / SIMD_SZ, j = k % SIMD_SZ;
    for (int m = 0; m < 3; ++m) {
      const float a = (float)((double)k * (-2.0 * kPi * (m + 1)) * (1.0 / N));
      e[(2 * (3 * i + m)) * SIMD_SZ + j] = (float)cos((double)a);
      e[(2 * (3 * i + m) + 1) * SIMD_SZ + j] = (float)sin((double)a);
    }
  }
}

bool float_aligned(const void *p) { return ((uintptr_t)p & (sizeof(float) - 1)) == 0; }

bool disjoint(const float *a, const float *b, size_t nfloats) {
  const uintptr_t pa = (uintptr_t)a, pb = (uintptr_t)b, bytes = nfloats * sizeof(float);
  return pa + bytes <= pb || pb + bytes <= pa;
}

void run_transform(const ovfft_setup *setup, const float *input, float *output, float *work,
                   ovfft_direction direction, int ordered) {
  OVFFT_REQUIRE(setup != NULL);
  OVFFT_REQUIRE(direction == OVFFT_FORWARD || direction == OVFFT_BACKWARD);
  OVFFT_REQUIRE(float_aligned(input) && float_aligned(output));
  const size_t nfloats = (size_t)setup->N * (setup->kind == OVFFT_REAL ? 1 : 2);
  OVFFT_REQUIRE(input == output || disjoint(input, output, nfloats));
  const calyx_fft::Backend *b = calyx_fft::active_backend();
  if (work != NULL) {
    OVFFT_REQUIRE(float_aligned(work));
    OVFFT_REQUIRE(disjoint(work, input, nfloats) && disjoint(work, output, nfloats));
    b->transform(setup, input, output, work, direction, ordered);
  } else if (nfloats <= kStackWorkFloats) {
    alignas(64) float tmp[kStackWorkFloats];
    b->transform(setup, input, output, tmp, direction, ordered);
  } else {
    float *tmp = (float *)ovfft_aligned_malloc(nfloats * sizeof(float));
    if (tmp == NULL) exit(1);
    b->transform(setup, input, output, tmp, direction, ordered);
    ovfft_aligned_free(tmp);
  }
}

}  // namespace

namespace calyx_fft {

static const Backend *choose_backend() {
#if defined(__x86_64__) || defined(__i386__)
  // Ask the CPU first: the FMA file may only be entered on a CPU that has it.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && fma_backend() != nullptr)
    return fma_backend();
#endif
  if (simd_backend() != nullptr) return simd_backend();
  return scalar_backend();
}

const Backend *active_backend() {
  static const Backend *const chosen = choose_backend();
  return chosen;
}

}  // namespace calyx_fft

extern "C" {

ovfft_setup *ovfft_new_setup(int N, ovfft_kind kind) {
  OVFFT_REQUIRE(kind == OVFFT_REAL || kind == OVFFT_COMPLEX);
  if (kind == OVFFT_REAL) {
    OVFFT_REQUIRE((N % (2 * SIMD_SZ * SIMD_SZ)) == 0 && N > 0);
  } else {
    OVFFT_REQUIRE((N % (SIMD_SZ * SIMD_SZ)) == 0 && N > 0);
  }
  ovfft_setup *s = (ovfft_setup *)calloc(1, sizeof(ovfft_setup));
  if (s == NULL) return NULL;
  s->N = N;
  s->kind = kind;
  s->vector_count = (kind == OVFFT_REAL ? N / 2 : N) / SIMD_SZ;
  static const int kRealOrder[4] = {4, 2, 3, 5};
  static const int kComplexOrder[4] = {5, 3, 4, 2};
  if (!factorize(N / SIMD_SZ, kind == OVFFT_REAL ? kRealOrder : kComplexOrder, s->factors)) {
    free(s);
    return NULL;
  }
  s->storage = ovfft_aligned_malloc((size_t)2 * s->vector_count * SIMD_SZ * sizeof(float));
  if (s->storage == NULL) {
    free(s);
    return NULL;
  }
  s->final_twiddles = (float *)s->storage;
  s->stage_twiddles = s->final_twiddles + 6 * s->vector_count;
  memset(s->storage, 0, (size_t)2 * s->vector_count * SIMD_SZ * sizeof(float));
  final_twiddles(N, s->vector_count, s->final_twiddles);
  if (kind == OVFFT_REAL)
    real_stage_twiddles(N / SIMD_SZ, s->factors, s->stage_twiddles);
  else
    complex_stage_twiddles(N / SIMD_SZ, s->factors, s->stage_twiddles);
  return s;
}

void ovfft_destroy_setup(ovfft_setup *setup) {
  if (setup == NULL) return;
  ovfft_aligned_free(setup->storage);
  free(setup);
}

void ovfft_transform(const ovfft_setup *setup, const float *input, float *output, float *work,
                     ovfft_direction direction) {
  run_transform(setup, input, output, work, direction, 0);
}

void ovfft_transform_ordered(const ovfft_setup *setup, const float *input, float *output,
                             float *work, ovfft_direction direction) {
  run_transform(setup, input, output, work, direction, 1);
}

void ovfft_zreorder(const ovfft_setup *setup, const float *in, float *out,
                    ovfft_direction direction) {
  OVFFT_REQUIRE(setup != NULL);
  OVFFT_REQUIRE(in != out);
  OVFFT_REQUIRE(float_aligned(in) && float_aligned(out));
  const size_t nfloats = (size_t)setup->N * (setup->kind == OVFFT_REAL ? 1 : 2);
  OVFFT_REQUIRE(disjoint(in, out, nfloats));
  calyx_fft::active_backend()->zreorder(setup, in, out, direction);
}

void ovfft_zconvolve_accumulate(const ovfft_setup *setup, const float *a, const float *b,
                                float *ab, float scaling) {
  OVFFT_REQUIRE(setup != NULL);
  OVFFT_REQUIRE(float_aligned(a) && float_aligned(b) && float_aligned(ab));
  calyx_fft::active_backend()->zconvolve(setup, a, b, ab, scaling);
}

void *ovfft_aligned_malloc(size_t nb) {
  void *p = NULL;
  if (posix_memalign(&p, 64, nb == 0 ? 64 : nb) != 0) return NULL;
  return p;
}

void ovfft_aligned_free(void *p) { free(p); }

int ovfft_simd_size(void) { return SIMD_SZ; }

}  // extern "C"
