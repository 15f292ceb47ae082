/* Shared conventions of the signal-processing blocks: result codes and the
 * allocation helpers every block uses.
 *
 * Every block returns a signed 32-bit status. A block passes on the codes of
 * the blocks inside it. Storage is taken only at setup; an allocation failure
 * ends the process with exit status 1, so the helpers below never return
 * null for a nonzero size. Plain C. */
#ifndef CALYX_DSP_COMMON_H
#define CALYX_DSP_COMMON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    DSP_OK = 0,
    DSP_ERR_INVALID = -1,     /* null handle/slot, bad argument or state */
    DSP_ERR_CHANNELS = 1,     /* zero channel count */
    DSP_ERR_SAMPLE_RATE = 3,  /* zero or unsupported sample rate */
    DSP_ERR_FRAMES = 4,       /* zero frame or hop count */
    DSP_ERR_NOT_SETUP = 9     /* block has no storage / was not set up */
};

/* Alignment of every buffer that vector code walks. */
#define DSP_ALIGNMENT 64u

/* 64-byte aligned block of `bytes` bytes (rounded up to a multiple of 64),
 * filled with zero bytes. Ends the process with status 1 when memory is
 * exhausted or the size overflows. A size of 0 still yields a valid,
 * releasable block. Release with dsp_free_aligned. */
void *dsp_alloc_aligned(size_t bytes);

/* Aligned, zeroed array of `count` elements of `size` bytes each; the
 * product is checked for overflow (overflow ends the process with status 1). */
void *dsp_alloc_aligned_array(size_t count, size_t size);

/* Releases a block from dsp_alloc_aligned / dsp_alloc_aligned_array; null is
 * accepted and ignored. */
void dsp_free_aligned(void *ptr);

/* Zeroed handle storage of `bytes` bytes from the general allocator; ends the
 * process with status 1 on failure. Release with dsp_free_handle. */
void *dsp_alloc_handle(size_t bytes);

/* Releases storage from dsp_alloc_handle; null is accepted and ignored. */
void dsp_free_handle(void *ptr);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_DSP_COMMON_H */
