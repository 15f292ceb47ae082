/* ERB band mapping: condenses a one-sided power spectrum of num_bins bins into
 * num_bands band levels in dB. Band edges are evenly spaced on the ERB-number
 * scale from 0 Hz to half the sample rate; every band is at least two bins
 * wide. The engine uses 481 bins and 32 bands.
 *
 * Life cycle: erb_create -> erb_setup -> erb_freq_forward ... -> erb_destroy.
 * The state owns its weight arrays; the power and level buffers stay the
 * caller's. Every function returns 0 on success and -1 on a bad argument. */
#ifndef CALYX_DSP_ERB_H
#define CALYX_DSP_ERB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct erb_state erb_state;

/* Allocates a zeroed state into *handle; -1 when handle is null or *handle is
 * already set. Allocation failure ends the process with status 1. */
int32_t erb_create(erb_state **handle);

/* Computes the band layout. -1 for a null state, a zero sample rate, negative
 * sizes, or a layout whose two-bin minimum would run past num_bins (too many
 * bands for the bins); a refused call leaves the state unchanged. May be
 * repeated with other sizes; storage grows when needed. */
int32_t erb_setup(erb_state *state, unsigned sample_rate, int num_bins, int num_bands);

/* Writes num_bands levels (dB, floor -100 dB) from num_bins power values:
 * 10 * log10(1e-10 + mean power of the band's bins). -1 when a pointer is null
 * or the state is not set up. */
int32_t erb_freq_forward(erb_state *state, const double *power, float *levels);

/* Frees the state and its arrays and sets *handle to null; -1 when handle or
 * *handle is null. */
int32_t erb_destroy(erb_state **handle);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_DSP_ERB_H */
