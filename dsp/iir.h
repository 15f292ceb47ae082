/* Multichannel direct-form-I IIR filters of any order, one coefficient set
 * shared by all channels, a fixed frame count per process call.
 *
 * iir_*    single precision (the resampler's anti-alias low-passes);
 * iir_hq_* double precision, float or double input and output.
 *
 * H(z) = (b0 + b1 z^-1 + ... + bN z^-N) / (1 + a1 z^-1 + ... + aN z^-N);
 * den = a0..aN, num = b0..bN (N + 1 values each, copied at setup/update).
 * Audio is interleaved: frame n, channel ch at n x channels + ch.
 *
 * Status codes: 0 success; -1 null handle/slot, slot taken, zero order, null
 * coefficients or unusable a0; 1 zero channels; 4 zero frames; 9 not set up.
 * Allocation failure ends the process with status 1. Plain C. */
#ifndef CALYX_IIR_H
#define CALYX_IIR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct iir_state iir_state;
typedef struct iir_hq_state iir_hq_state;

/* The engine's third-order high-pass (double precision, for iir_hq_setup):
 * zeros at z = 1, unity gain near half the sample rate. */
extern const double kCxHighPassNum[4];
extern const double kCxHighPassDen[4];

int32_t iir_create(iir_state **slot);
/* Sets the filter up, then returns iir_update's verdict on the coefficients;
 * if they are refused the filter stays set up with all-zero coefficients. */
int32_t iir_setup(iir_state *filter, uint32_t channels, uint32_t frames, uint32_t order,
                  const float *den, const float *num);
/* With d = |a0 - 1|: d <= 1e-5 copies unchanged; otherwise |a0| <= 1e-5 is
 * refused (-1, nothing changes); otherwise every coefficient is scaled by
 * 1 / (a0 + 1e-5). Histories are kept. */
int32_t iir_update(iir_state *filter, const float *den, const float *num);
int32_t iir_process(iir_state *filter, const float *input, float *output);
int32_t iir_process_inplace(iir_state *filter, float *data);
/* Zeroes the histories; coefficients and sizes stay. */
int32_t iir_flush(iir_state *filter);
/* Releases the arrays; setup is needed again. */
int32_t iir_reset(iir_state *filter);
int32_t iir_destroy(iir_state **slot);

int32_t iir_hq_create(iir_hq_state **slot);
/* den[0] must be exactly 1.0; coefficients are copied unchanged. */
int32_t iir_hq_setup(iir_hq_state *filter, uint32_t channels, uint32_t frames, uint32_t order,
                     const double *den, const double *num);
int32_t iir_hq_update(iir_hq_state *filter, const double *den, const double *num);
int32_t iir_hq_process(iir_hq_state *filter, const float *input, float *output);
int32_t iir_hq_process_to_double(iir_hq_state *filter, const float *input, double *output);
int32_t iir_hq_process_from_double(iir_hq_state *filter, const double *input, float *output);
int32_t iir_hq_process_double(iir_hq_state *filter, const double *input, double *output);
int32_t iir_hq_process_inplace(iir_hq_state *filter, float *data);
int32_t iir_hq_process_inplace_double(iir_hq_state *filter, double *data);
int32_t iir_hq_flush(iir_hq_state *filter);
int32_t iir_hq_reset(iir_hq_state *filter);
int32_t iir_hq_destroy(iir_hq_state **slot);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_IIR_H */
