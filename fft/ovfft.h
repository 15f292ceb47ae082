/*
 * ovfft: single-precision real and complex FFTs computed four lanes at a time.
 *
 * Sizes: real transforms take N a positive multiple of 32, complex transforms
 * a positive multiple of 16, and N / 4 must have no prime factor other than
 * 2, 3 and 5 (otherwise ovfft_new_setup returns NULL).
 *
 * Ordered real spectrum (N floats): float 0 = Re X(0), float 1 = Re X(N/2),
 * then Re X(k), Im X(k) at floats 2k, 2k + 1 for k = 1 .. N/2 - 1.
 * Ordered complex data: N interleaved (re, im) pairs.
 * Transforms are unscaled: backward(forward(x)) = N * x.
 *
 * A setup is read-only after creation; one setup may serve several threads
 * when each call has its own output and work buffers. Contract violations
 * (bad sizes, misaligned or aliasing buffers) stop the process.
 */
#ifndef CALYX_OVFFT_H
#define CALYX_OVFFT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum ovfft_kind { OVFFT_REAL = 0, OVFFT_COMPLEX = 1 } ovfft_kind;

typedef enum ovfft_direction { OVFFT_FORWARD = 0, OVFFT_BACKWARD = 1 } ovfft_direction;

/* Factorisation and twiddle tables of one transform size and kind. */
typedef struct ovfft_setup {
  int N;                /* real points (OVFFT_REAL) or complex points (OVFFT_COMPLEX) */
  int vector_count;     /* complex 4-float vectors: N / 8 (real) or N / 4 (complex) */
  int factors[15];      /* [0] = N / 4, [1] = radix count, [2...] = radices in stage order */
  ovfft_kind kind;
  void *storage;        /* one 64-byte aligned block of 32 * vector_count bytes */
  float *final_twiddles; /* start of storage: 6 * vector_count floats */
  float *stage_twiddles; /* storage + 24 * vector_count bytes */
} ovfft_setup;

/* NULL when N / 4 has a prime factor other than 2, 3, 5. */
ovfft_setup *ovfft_new_setup(int N, ovfft_kind kind);
void ovfft_destroy_setup(ovfft_setup *setup);

/*
 * input/output: N floats (real) or 2N floats (complex), 4-byte aligned.
 * input may equal output; otherwise they must not overlap.
 * work: same size as input, must not overlap input or output; NULL uses a
 * temporary of the transform's own.
 * ovfft_transform keeps the spectrum in the internal order (fit for
 * ovfft_zconvolve_accumulate); ovfft_transform_ordered uses the layouts above.
 */
void ovfft_transform(const ovfft_setup *setup, const float *input, float *output, float *work,
                     ovfft_direction direction);
void ovfft_transform_ordered(const ovfft_setup *setup, const float *input, float *output,
                             float *work, ovfft_direction direction);

/* Forward: internal order -> ordered; backward: ordered -> internal. in != out. */
void ovfft_zreorder(const ovfft_setup *setup, const float *in, float *out,
                    ovfft_direction direction);

/* ab += a * b * scaling, bin by bin, all three spectra in internal order. */
void ovfft_zconvolve_accumulate(const ovfft_setup *setup, const float *a, const float *b,
                                float *ab, float scaling);

/* nb bytes aligned to 64 bytes, or NULL. */
void *ovfft_aligned_malloc(size_t nb);
/* Frees a block from ovfft_aligned_malloc; NULL is ignored. */
void ovfft_aligned_free(void *p);

/* Floats per vector: 4. */
int ovfft_simd_size(void);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_OVFFT_H */
