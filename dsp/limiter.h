/* Look-ahead peak limiter with a fixed delay of 31 frames. One gain per frame
 * is applied to all channels of that frame alike, steered so that no output
 * sample exceeds the threshold (the engine uses 0.99999).
 *
 * Life cycle: limiter_create -> limiter_setup -> process / bypass calls
 * (flush restores the start state, reset releases the arrays) ->
 * limiter_destroy. The handle owns its delay ring, peak tree and bypass line;
 * process buffers stay the caller's and hold frames * channels interleaved
 * floats.
 *
 * Result codes: 0 success; -1 null handle or slot, slot already taken,
 * threshold outside 0 .. 0.9999999 (or NaN), size overflow; 1 zero channel
 * count; 3 zero sample rate; 4 zero frame count; 9 not set up.
 * A threshold of 0 mutes: the output is silence while it is in effect. */
#ifndef CALYX_DSP_LIMITER_H
#define CALYX_DSP_LIMITER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct limiter_state limiter_state;

/* Allocates a zeroed handle into *slot. Allocation failure ends the process
 * with status 1. */
int32_t limiter_create(limiter_state **slot);

/* Sizes the limiter for `frames` frames of `channels` samples per call. The
 * threshold is checked last: when it is refused (-1) the limiter is still set
 * up and keeps its previous threshold (0 for a new handle). */
int32_t limiter_setup(limiter_state *limiter, uint32_t channels, uint32_t sample_rate,
                      uint32_t frames, float threshold);

/* New threshold, effective from the next frame. */
int32_t limiter_update(limiter_state *limiter, float threshold);

/* Limits one block; input and output may be the same buffer. */
int32_t limiter_process(limiter_state *limiter, const float *input, float *output);
int32_t limiter_process_inplace(limiter_state *limiter, float *data);

/* Delays one block by 31 frames without gain, through its own delay line;
 * the limiter's ring, tree and gain are left untouched. */
int32_t limiter_bypass(limiter_state *limiter, const float *input, float *output);

/* Writes the delay in frames (31). */
int32_t limiter_delay_sample_count(limiter_state *limiter, uint32_t *out);

/* Restores the start state; threshold, sizes and sample rate stay. */
int32_t limiter_flush(limiter_state *limiter);

/* Releases the arrays; setup is needed again. */
int32_t limiter_reset(limiter_state *limiter);

/* Releases everything in any state and sets *slot to null. */
int32_t limiter_destroy(limiter_state **slot);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_DSP_LIMITER_H */
