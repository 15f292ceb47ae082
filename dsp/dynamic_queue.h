/* Block-size adapter: gathers interleaved frames of any call size and calls a
 * frame callback once per whole hop, handing the output back in step with
 * the input, delayed by a constant latency.
 *
 * Free mode (block_mode != 1): any frame count per call, latency one hop.
 * Block mode (block_mode == 1): every call carries `block_size` frames;
 * latency hop - gcd(hop, r) with r the block size reduced into 1..hop, so 0
 * when the block size is a multiple of the hop.
 *
 * Status codes: 0 success (process returns the last callback's result); -1
 * null handle/slot, zero out_channels or null output; 1 zero in_channels;
 * 4 zero hop, or block mode with a zero block size; 9 not set up. Ring
 * errors are passed through. Allocation failure ends the process (status 1).
 * The queue owns its frame buffers and rings, not `user_data`. Plain C. */
#ifndef CALYX_DYNAMIC_QUEUE_H
#define CALYX_DYNAMIC_QUEUE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dynamic_queue_state dynamic_queue_state;

/* Called with hop_size x in_channels interleaved input samples; must write
 * hop_size x out_channels interleaved output samples. The output frame keeps
 * its previous contents between calls (zeroed at setup and flush). */
typedef int32_t (*dynamic_queue_frame_callback)(void *user_data, const float *in_frame,
                                                float *out_frame);

int32_t dynamic_queue_create(dynamic_queue_state **slot);
int32_t dynamic_queue_setup(dynamic_queue_state *queue, void *user_data,
                            dynamic_queue_frame_callback frame_callback, uint32_t in_channels,
                            uint32_t out_channels, uint32_t block_size, uint32_t hop_size,
                            uint32_t block_mode);
/* Interleaved: frames x in_channels in, frames x out_channels out. */
int32_t dynamic_queue_process(dynamic_queue_state *queue, const float *input, float *output,
                              uint32_t frames);
/* Planar: channel ch at [ch x frames, (ch + 1) x frames). */
int32_t dynamic_queue_process_planar(dynamic_queue_state *queue, const float *input,
                                     float *output, uint32_t frames);
/* 16-bit: s -> s / 32768 on the way in, y -> trunc(y x 32767) on the way out. */
int32_t dynamic_queue_process_s16(dynamic_queue_state *queue, const int16_t *input,
                                  int16_t *output, uint32_t frames);
int32_t dynamic_queue_process_s16_planar(dynamic_queue_state *queue, const int16_t *input,
                                         int16_t *output, uint32_t frames);
/* Discards everything waiting and restores the pre-load. */
int32_t dynamic_queue_flush(dynamic_queue_state *queue);
/* Releases the storage; setup is needed again. */
int32_t dynamic_queue_reset(dynamic_queue_state *queue);
/* Latency in samples (frames x channels summed over both rings' pre-load). */
int32_t dynamic_queue_get_latency(dynamic_queue_state *queue, uint32_t *out);
/* Releases storage (if any) and the handle, in any state; nulls the slot. */
int32_t dynamic_queue_destroy(dynamic_queue_state **slot);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_DYNAMIC_QUEUE_H */
