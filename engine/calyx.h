/* calyx: streaming speech-enhancement engine, public C interface.
 *
 * Usable from C, C++, Objective-C and Swift. Every function returns a signed
 * 32-bit result code: 0 success, 1 null handle, 2 not set up, 3 slot already
 * holds a handle, 4 already set up, 5 null pointer argument or weights not
 * loadable (or scratch allocation failed in CX_PROCESS), 7 zero channels,
 * 8 channel counts differ, 9 unsupported sample rate, 10 block size, 11
 * intensity outside 0..1. Code 6 is not used. */
#ifndef CALYX_H
#define CALYX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CX_HANDLE CX_HANDLE;

typedef struct CX_CONFIG {
    uint32_t channels_in;
    uint32_t channels_out; /* must equal channels_in */
    uint32_t sample_rate;  /* Hz */
    uint32_t block_size;   /* frames per CX_PROCESS call, 0 = varying */
} CX_CONFIG;

int32_t CX_GET_VERSION(const char **out);
int32_t CX_CREATE(CX_HANDLE **slot);
int32_t CX_SETUP(CX_HANDLE *handle, const CX_CONFIG *config, const float *intensity);
int32_t CX_UPDATE(CX_HANDLE *handle, const float *intensity);
int32_t CX_PROCESS(CX_HANDLE *handle, const float *input, float *output, uint32_t frames);
int32_t CX_GET_LATENCY(CX_HANDLE *handle, float *out);
int32_t CX_DESTROY(CX_HANDLE **slot);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_H */
