/* Frame processor: turns one hop of mono host-rate audio into one hop of
 * enhanced audio, three internal hops (plus the limiter's 31 samples) late.
 * It is the dynamic queue's frame callback; `user_data` is the calyx_proc
 * record, input and output hold `hop_in` host samples each. Works only on
 * the record's own buffers and never allocates. Plain C. */
#ifndef CALYX_FRAME_PROCESSOR_H
#define CALYX_FRAME_PROCESSOR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Floor of the running mean of the low-bin magnitudes: long digital silence
 * would otherwise shrink it by 0.99 per hop towards the smallest float and
 * blow up the normalised spectrum. The training features use the same floor. */
extern const float kSpecNormFloor; /* 1e-8f */

/* Always returns 0. */
int32_t calyx_process_inner(void *user_data, const float *input, float *output);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_FRAME_PROCESSOR_H */
