/* Block resampler between a caller's (external) rate and the engine's
 * internal rate (48000, or 44100 for the 44.1 kHz family): repeat samples by
 * an up factor, low-pass with a 5th-order IIR at the higher rate, keep every
 * D-th sample. Equal rates are copied. Each call converts exactly one block
 * of the size fixed at setup; only the two filters carry state between calls.
 *
 * Supported external rates: 6000, 8000, 12000, 16000, 24000, 32000, 48000,
 * 64000, 96000, 192000 (internal 48000) and 11025, 22050, 44100, 88200,
 * 176400 (internal 44100).
 *
 * Status codes: 0 success; -1 null handle or slot, slot taken; 1 zero
 * channels; 3 unsupported rate; 9 not set up; IIR codes from setup. The
 * handle owns its filters and scratch arrays. Allocation failure ends the
 * process with status 1. Plain C. */
#ifndef CALYX_RESAMPLER_H
#define CALYX_RESAMPLER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct resampler_state resampler_state;

/* Low-pass tables: b0..b5 then a0..a5. */
extern const float kLpCoeffLow48000Family[12];
extern const float kLpCoeff32000[12];
extern const float kLpCoeff64000[12];
extern const float kLpCoeff96000[12];
extern const float kLpCoeff192000[12];
extern const float kLpCoeffLow44100Family[12];
extern const float kLpCoeff88200[12];
extern const float kLpCoeff176400[12];

/* Internal rate for a supported external rate; 3 (out untouched) otherwise. */
int32_t static_resampler_get_internal_sample_rate(uint32_t rate, uint32_t *out);

int32_t resampler_create(resampler_state **slot);
/* external_frames = E frames per block at the external rate; return_channels
 * 0 means the same as channels. */
int32_t resampler_setup(resampler_state *resampler, uint32_t channels, uint32_t external_rate,
                        uint32_t external_frames, uint32_t return_channels);
/* E x channels interleaved in, I x channels out. */
int32_t resampler_run_external_to_internal(resampler_state *resampler, const float *input,
                                           float *output);
/* I x return_channels in, E x return_channels out, clamped to +-0.9999
 * (NaN becomes -0.9999) unless the rates are equal. */
int32_t resampler_run_internal_to_external(resampler_state *resampler, const float *input,
                                           float *output);
int32_t resampler_get_external_samples(resampler_state *resampler, uint32_t *out);
int32_t resampler_get_internal_samples(resampler_state *resampler, uint32_t *out);
int32_t resampler_get_internal_sample_rate(resampler_state *resampler, uint32_t *out);
int32_t resampler_destroy(resampler_state **slot);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_RESAMPLER_H */
