/* Block gain with click-free changes: each process call scales `frames`
 * interleaved frames of `channels` samples; when the target changed since the
 * previous block (and ramping is on) the block carries a straight-line ramp
 * from the old gain towards the new one, reaching it on the next block.
 *
 * Life cycle: gain_create -> gain_setup -> gain_update / process calls ->
 * gain_destroy. The handle owns no other memory.
 *
 * Result codes: 0 success; -1 null handle or slot, slot already taken;
 * 1 zero channel count; 4 zero frame count; 9 not set up. */
#ifndef CALYX_DSP_GAIN_H
#define CALYX_DSP_GAIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct gain_state gain_state;

/* Allocates a zeroed handle into *slot. Allocation failure ends the process
 * with status 1. */
int32_t gain_create(gain_state **slot);

/* Stores the sizes and the ramp switch (non-zero enables ramping); target
 * 1.0, and the next block is not ramped. May be repeated at any time. */
int32_t gain_setup(gain_state *gain, uint32_t channels, uint32_t frames, uint32_t ramp);

/* New target gain, no range check. */
int32_t gain_update(gain_state *gain, float value);

/* Scales one block; input and output may be the same buffer. */
int32_t gain_process(gain_state *gain, const float *input, float *output);
int32_t gain_process_inplace(gain_state *gain, float *data);

/* Forgets the previous block's gain: the next block applies the target flat. */
int32_t gain_flush(gain_state *gain);

/* Marks the handle not set up. */
int32_t gain_reset(gain_state *gain);

/* Releases the handle and sets *slot to null. */
int32_t gain_destroy(gain_state **slot);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_DSP_GAIN_H */
