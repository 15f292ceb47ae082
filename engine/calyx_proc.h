/* Stream processor: enhances one mono channel at the host's sample rate.
 *
 * The record owns every component and buffer of one channel. Its dynamic
 * queue cuts host blocks of any length into hops of `hop_in` host samples
 * (10 ms at the internal rate) and calls the frame processor once per hop.
 * All storage is taken in calyx_proc_setup and released in
 * calyx_proc_destroy; processing never allocates. The parameter table is
 * shared, read only, and not owned. Plain C. */
#ifndef CALYX_PROC_H
#define CALYX_PROC_H

#include <stdint.h>

#include "dynamic_queue.h"
#include "erb.h"
#include "gain.h"
#include "iir.h"
#include "limiter.h"
#include "model.h"
#include "nn_types.h"
#include "ovfft.h"
#include "resampler.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Internal hop and transform sizes. */
#define CALYX_HOP 480
#define CALYX_FFT_SIZE 960
#define CALYX_BINS 481
#define CALYX_ERB_BANDS 32
#define CALYX_DF_BINS 96
#define CALYX_DF_ORDER 5
#define CALYX_DRY_HOPS 4

typedef struct calyx_proc {
    dynamic_queue_state *queue;     /* host blocks -> hops of hop_in samples */
    resampler_state *resampler;     /* host rate <-> internal rate */
    iir_hq_state *high_pass;        /* set up with the record, never run */
    limiter_state *limiter;         /* host-rate output limiter */
    struct ovfft_setup *fft;        /* real transform of 960 points */
    erb_state *erb;                 /* band levels of the power spectrum */
    gain_state *wet_gain;           /* enhanced signal x intensity */
    gain_state *dry_gain;           /* delayed dry signal x (1 - intensity) */
    uint32_t dry_pos;               /* write position in dry_delay, multiple of 480 */
    float *hop_in_buf;              /* 480: one input hop at the internal rate */
    float *hop_out_buf;             /* 480: one output hop at the internal rate */
    float *dry_delay;               /* 1920: ring of four unprocessed hops */
    float *analysis;                /* 960: last two input hops, oldest first */
    float *overlap;                 /* 960: overlap-add accumulator */
    float *frame;                   /* 960: windowed frame, later the packed inverse input */
    float *packed;                  /* 960: ordered forward spectrum, later the inverse output */
    float *fft_work;                /* 960: transform work area */
    float *window;                  /* 960: sine window over 961 points */
    float *spec;                    /* 1936 (481 complex used): current spectrum */
    double *power;                  /* 488 (481 used): power of each bin */
    float *erb_norm;                /* 32: running mean of the band levels (dB) */
    float *spec_norm;               /* 96: running mean of the low-bin magnitudes */
    float *erb_feat;                /* 32: normalised band levels */
    float *spec_feat;               /* 192: 96 normalised real parts, then 96 imaginary */
    float *erb_gains;               /* 32: band gains from the network */
    float *df_coefs;                /* 960: [tap 5][bin 96][re, im] */
    dtype_t *model_erb_in;          /* 32 */
    dtype_t *model_spec_in;         /* 192 */
    dtype_t *model_gains_out;       /* 32 */
    dtype_t *model_df_out;          /* 960 */
    float intensity;                /* weight of the enhanced signal */
    float dry_level;                /* 1 - intensity */
    const param_record *params;     /* shared weights, not owned */
    int32_t param_count;            /* 90 */
    model_state model_state;        /* network memory and workspace */
    float *erb_matrix;              /* 481 x 32: 1.0 where bin k lies in band b */
    float *spec_delay;              /* 2 x 481 complex: spectra of frames t-2, t-1 */
    float *df_history;              /* 4 x 481 complex: band-gained spectra, oldest first */
    float *df_taps;                 /* 5 x 96 complex: deep-filter input */
    uint32_t initialised;           /* 1 once set up */
} calyx_proc;

/* Builds a zero-filled record for `channels` (the engine passes 1) at
 * `sample_rate`, processing internally at `internal_rate` (44100 or 48000).
 * block_size 0 selects free mode in the queue. Returns 0, or the code of the
 * first component whose setup refused its arguments (then the record is left
 * not set up with nothing allocated). Allocation failure ends the process
 * with status 1. */
int32_t calyx_proc_setup(calyx_proc *proc, uint32_t channels, uint32_t sample_rate,
                         uint32_t internal_rate, uint32_t block_size,
                         const param_record *params, int32_t param_count);

/* Sets the intensity (0 = unchanged input, 1 = full enhancement); the gain
 * stages ramp to it across the next hop. */
int32_t calyx_proc_update(calyx_proc *proc, float intensity);

/* Processes `frames` samples; output lags input by the queue latency plus
 * three internal hops plus the limiter's 31 samples. Input and output may
 * be the same buffer. */
int32_t calyx_proc_process(calyx_proc *proc, const float *input, float *output,
                           uint32_t frames);

/* The queue's part of the latency, in host-rate samples. */
int32_t calyx_proc_get_queue_latency(calyx_proc *proc, uint32_t *out);

/* Releases every buffer and component; a record that is not set up is left
 * alone. The parameter table is not released. */
int32_t calyx_proc_destroy(calyx_proc *proc);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_PROC_H */
