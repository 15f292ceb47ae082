/* Fixed-capacity first-in-first-out ring of float samples.
 *
 * The ring stores single samples and knows nothing of channels. Life cycle:
 * circular_buffer_create (empty handle, no storage) -> circular_buffer_init
 * (storage of `capacity` floats) -> enqueue/dequeue/read -> circular_buffer_free
 * (storage only) -> circular_buffer_destroy (handle only; free comes first).
 *
 * Status codes: 0 success; -1 null handle or slot, argument out of range,
 * empty ring, full ring or too few stored samples; 9 no storage yet. An
 * allocation failure ends the process with status 1. Plain C. */
#ifndef CALYX_CIRCULAR_BUFFER_H
#define CALYX_CIRCULAR_BUFFER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct circular_buffer_state circular_buffer_state;

int32_t circular_buffer_create(circular_buffer_state **slot);
/* Releases the handle (not its storage) and nulls the slot. */
int32_t circular_buffer_destroy(circular_buffer_state **slot);
/* Allocates `capacity` zeroed floats; -1 for capacity 0 or existing storage. */
int32_t circular_buffer_init(circular_buffer_state *cb, uint32_t capacity);
int32_t circular_buffer_free(circular_buffer_state *cb);
/* Zeroes the storage and empties the ring (both positions back to 0). */
int32_t circular_buffer_clear(circular_buffer_state *cb);
/* -1 and the sample is dropped when the ring is full. */
int32_t circular_buffer_enqueue(circular_buffer_state *cb, float sample);
/* On a full ring overwrites the oldest sample. */
int32_t circular_buffer_enqueueForce(circular_buffer_state *cb, float sample);
/* Discards the oldest sample; -1 when empty. */
int32_t circular_buffer_dequeue(circular_buffer_state *cb);
/* Discards the n oldest samples; -1 when fewer are stored. */
int32_t circular_buffer_dequeue_count(circular_buffer_state *cb, uint32_t n);
/* Moves the oldest sample to *out; -1 (and *out untouched) when empty. */
int32_t circular_buffer_dequeue_data(circular_buffer_state *cb, float *out);
/* Moves the n oldest samples, oldest first, into out[0..n). */
int32_t circular_buffer_dequeue_data_count(circular_buffer_state *cb, float *out, uint32_t n);
/* Copies the n oldest samples, oldest first, without removing them. */
int32_t circular_buffer_readFront(circular_buffer_state *cb, float *out, uint32_t n);
/* Copies the n newest samples, newest first, without removing them. */
int32_t circular_buffer_readBack(circular_buffer_state *cb, float *out, uint32_t n);
/* Copies every stored sample, oldest first; `out` must hold `capacity`
 * floats; the stored count goes to *count. */
int32_t circular_buffer_readAll(circular_buffer_state *cb, float *out, uint32_t *count);
/* Stored sample count (on an initialised ring), else -1 / 9. */
int32_t circular_buffer_size(circular_buffer_state *cb);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_CIRCULAR_BUFFER_H */
